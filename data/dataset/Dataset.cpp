#include "data/dataset/Dataset.h"

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/dataset/Connection.h"

#include <algorithm>
#include <cmath>

namespace velmora::data {

namespace {

bool isNumberKind(FieldKind kind)
{
    switch (familyOf(kind)) {
    case KindFamily::Integer:
    case KindFamily::LargeInt:
    case KindFamily::Float:
    case KindFamily::BCD:
        return true;
    default:
        return false;
    }
}

// A cell read as a number: numbers as they are, text parsed, anything else not at all.
bool numberOf(const CellView& cell, double& out)
{
    switch (cell.type) {
    case CellView::Type::Integer:
        out = static_cast<double>(cell.integer);
        return true;
    case CellView::Type::Double:
        out = cell.number;
        return true;
    case CellView::Type::Decimal:
        out = cell.decimal.toDouble();
        return true;
    case CellView::Type::Text:
        return text::parseNumber(cell.text, out);
    default:
        return false;
    }
}

// Fills a row store as the backend reads the rows.
class StoreRows final : public RowSink
{
public:
    explicit StoreRows(RowStore& store) : m_store(store) {}
    void begin(int columnCount) override { m_store.reset(columnCount); }
    void row(std::span<const CellView> cells) override { m_store.appendRow(cells); }

private:
    RowStore& m_store;
};

// Key equality for lookups: numbers by value (text parsed when the other side is a number), text exactly.
bool keysEqual(const CellView& a, const CellView& b)
{
    if (a.type == CellView::Type::Null || b.type == CellView::Type::Null)
        return false;
    if (a.type == CellView::Type::Text && b.type == CellView::Type::Text)
        return a.text == b.text;
    if (a.type == CellView::Type::Decimal && b.type == CellView::Type::Decimal)
        return a.decimal == b.decimal;
    double x = 0, y = 0;
    if (numberOf(a, x) && numberOf(b, y))
        return x == y;
    return a.type == b.type && (a.type == CellView::Type::True || a.type == CellView::Type::False);
}

std::string displayOf(const CellView& cell)
{
    if (cell.type == CellView::Type::Text)
        return std::string(cell.text);
    return text::display(cell.toValue());
}

} // namespace

Dataset::Dataset(std::string name, Connection& connection, DatasetSettings settings, std::string source,
                 std::vector<FieldDefinition> declaredFields, DatasetFinder findDataset)
    : m_name(std::move(name)), m_connection(&connection), m_settings(settings), m_source(std::move(source)),
      m_declared(std::move(declaredFields)), m_findDataset(std::move(findDataset))
{
    m_connection->attach(this);
    makeDeclaredFields();
}

Dataset::~Dataset()
{
    m_connection->detach(this);
}

const std::string& Dataset::tableName() const
{
    static const std::string none;
    return m_settings.kind == DatasetKind::Table ? m_source : none;
}

const std::string& Dataset::commandText() const
{
    static const std::string none;
    return m_settings.kind == DatasetKind::Table ? none : m_source;
}

void Dataset::fail(const std::string& message, ErrorCause cause) const
{
    throw DatabaseError(m_name + ": " + message, std::move(cause));
}

void Dataset::makeDeclaredFields()
{
    m_fields.clear();
    for (const FieldDefinition& entry : m_declared) {
        auto field = std::unique_ptr<Field>(new Field);
        field->m_dataset = this;
        field->m_name = std::string(entry.name);
        field->m_label = std::string(entry.label);
        field->m_kind = entry.kind;
        field->m_size = entry.size;
        field->m_precision = entry.precision;
        field->m_required = (entry.flags & Required) != 0;
        field->m_readOnly = (entry.flags & ReadOnly) != 0 || entry.kind == FieldKind::AutoInc;
        field->m_lookup = entry.isLookup();
        field->m_keyField = std::string(entry.keyField);
        field->m_lookupDatasetName = std::string(entry.lookupDataset);
        field->m_lookupKey = std::string(entry.lookupKey);
        field->m_resultField = std::string(entry.resultField);
        m_fields.push_back(std::move(field));
    }
}

void Dataset::open()
{
    if (m_active)
        return;
    if (m_source.empty())
        fail("CommandText does not return a result set", {ErrorKind::Malformed});
    if (!m_connection->connected())
        m_connection->open();
    Backend& backend = backendForCommands();
    // The rows go straight into the store as they are read: no second copy of the result is ever built.
    StoreRows sink(m_rows);
    try {
        m_columns = m_settings.kind == DatasetKind::Table ? backend.readTable(m_source, sink)
                                                          : backend.readCommand(m_source, sink);
    } catch (...) {
        m_rows.reset(0);
        throw;
    }
    if (m_rows.rowCount() == 0)
        m_rows.reset(static_cast<int>(m_columns.size()));
    try {
        bindFields(m_rows.rowCount() == 0);
    } catch (...) {
        m_columns.clear();
        m_rows.reset(0);
        unbindFields();
        throw;
    }
    m_pending.clear();
    m_editing = false;
    m_active = true;
    first();
}

void Dataset::bindFields(bool emptyResult)
{
    struct ColumnKind
    {
        FieldKind kind;
        int size;
    };
    std::vector<ColumnKind> kinds;
    kinds.reserve(m_columns.size());
    for (const ColumnDescription& column : m_columns) {
        try {
            kinds.push_back({kindForColumn(column), sizeForColumn(column)});
        } catch (const DatabaseError& e) {
            fail(e.what(), e.cause());
        }
    }

    if (m_declared.empty()) {
        m_fields.clear();
        for (std::size_t c = 0; c < m_columns.size(); ++c) {
            auto field = std::unique_ptr<Field>(new Field);
            field->m_dataset = this;
            field->m_name = m_columns[c].name;
            field->m_kind = kinds[c].kind;
            field->m_size = kinds[c].size;
            field->m_precision = m_columns[c].precision;
            field->m_readOnly = !m_columns[c].updatable || m_columns[c].autoIncrement;
            field->m_column = static_cast<int>(c);
            m_fields.push_back(std::move(field));
        }
        return;
    }

    for (std::size_t i = 0; i < m_fields.size(); ++i)
        m_fields[i]->m_size = m_declared[i].size; // as declared, whatever an earlier open shortened
    for (const std::unique_ptr<Field>& field : m_fields) {
        if (field->m_lookup)
            continue;
        int found = -1;
        for (std::size_t c = 0; c < m_columns.size() && found < 0; ++c)
            if (text::equalsIgnoreCase(m_columns[c].name, field->m_name))
                found = static_cast<int>(c);
        if (found < 0)
            fail("Field '" + field->m_name + "' not found", {ErrorKind::NotFound});
        const ColumnKind& column = kinds[static_cast<std::size_t>(found)];
        // A computed column without a value in any row (an empty result, or nothing but nulls) has nothing to
        // tell its type by: it takes the field's.
        const ColumnDescription& described = m_columns[static_cast<std::size_t>(found)];
        const bool untyped = described.baseTable.empty() && (emptyResult || described.allNull);
        if (untyped) {
            field->m_column = found;
            continue;
        }
        if (familyOf(field->m_kind) != familyOf(column.kind))
            fail("Type mismatch for field '" + field->m_name + "', expecting: " + std::string(kindName(field->m_kind)) +
                     " actual: " + std::string(kindName(column.kind)),
                 {ErrorKind::Unsupported});
        if (field->m_kind == FieldKind::BCD && field->m_size != column.size)
            fail("Size mismatch for field '" + field->m_name + "', expecting: " + std::to_string(field->m_size) +
                     " actual: " + std::to_string(column.size),
                 {ErrorKind::Unsupported});
        if (isTextKind(field->m_kind) && !field->m_readOnly && column.size > 0 && field->m_size > column.size)
            field->m_size = column.size;
        field->m_column = found;
    }
    for (const std::unique_ptr<Field>& field : m_fields) {
        if (!field->m_lookup)
            continue;
        if (!findField(field->m_keyField))
            fail("Field '" + field->m_keyField + "' not found", {ErrorKind::NotFound});
        Dataset* lookupDataset = m_findDataset ? m_findDataset(field->m_lookupDatasetName) : nullptr;
        if (!lookupDataset)
            fail("Lookup dataset '" + field->m_lookupDatasetName + "' of field '" + field->m_name + "' not found",
                 {ErrorKind::NotFound});
        if (lookupDataset != this)
            lookupDataset->open();
        lookupDataset->fieldByName(field->m_lookupKey);
        lookupDataset->fieldByName(field->m_resultField);
        field->m_lookupDataset = lookupDataset;
    }
}

void Dataset::close()
{
    if (!m_active)
        return;
    m_active = false;
    m_editing = false;
    m_editRow.clear();
    m_pending.clear();
    m_columns.clear();
    m_rows.reset(0);
    m_current = -1;
    m_bof = m_eof = true;
    unbindFields();
}

void Dataset::unbindFields()
{
    if (m_declared.empty()) {
        m_fields.clear();
        return;
    }
    for (const std::unique_ptr<Field>& field : m_fields) {
        field->m_column = -1;
        field->m_lookupDataset = nullptr;
    }
}

void Dataset::checkActive() const
{
    if (!m_active)
        fail("Cannot perform this operation on a closed dataset");
}

int Dataset::recordCount() const
{
    return m_active ? m_rows.rowCount() : 0;
}

int Dataset::recNo() const
{
    if (m_editing)
        return m_rows.rowCount();
    return m_active ? m_current : -1;
}

// Leaves editing before the cursor moves: a changed row is stored, an untouched one dropped.
void Dataset::checkBrowseMode()
{
    checkActive();
    if (!m_editing)
        return;
    if (m_modified)
        post();
    else
        cancel();
}

void Dataset::first()
{
    checkBrowseMode();
    m_current = m_rows.rowCount() > 0 ? 0 : -1;
    m_bof = true;
    m_eof = m_rows.rowCount() == 0;
}

void Dataset::last()
{
    checkBrowseMode();
    m_current = m_rows.rowCount() - 1;
    m_eof = true;
    m_bof = m_rows.rowCount() == 0;
}

void Dataset::next()
{
    checkBrowseMode();
    if (m_current + 1 < m_rows.rowCount()) {
        ++m_current;
        m_bof = false;
    } else {
        m_eof = true;
    }
}

void Dataset::prior()
{
    checkBrowseMode();
    if (m_current > 0) {
        --m_current;
        m_eof = false;
    } else {
        m_bof = true;
    }
}

void Dataset::moveTo(int index)
{
    checkBrowseMode();
    if (index < 0 || index >= m_rows.rowCount())
        fail("Row " + std::to_string(index) + " is out of range");
    m_current = index;
    m_bof = m_eof = false;
}

Field* Dataset::findField(std::string_view name)
{
    for (const std::unique_ptr<Field>& field : m_fields)
        if (text::equalsIgnoreCase(field->m_name, name))
            return field.get();
    return nullptr;
}

Field& Dataset::fieldByName(std::string_view name)
{
    Field* field = findField(name);
    if (!field)
        fail("Field '" + std::string(name) + "' not found", {ErrorKind::NotFound});
    return *field;
}

Value Dataset::cellValue(int column) const
{
    if (!m_active || column < 0)
        return {};
    if (m_editing)
        return m_editRow[static_cast<std::size_t>(column)];
    if (m_current < 0)
        return {};
    return m_rows.value(m_current, column);
}

Value Dataset::fieldValue(const Field& field)
{
    if (!field.m_lookup)
        return cellValue(field.m_column);
    if (!m_active || !field.m_lookupDataset)
        return {};
    const Field* key = findField(field.m_keyField);
    return field.m_lookupDataset->lookup(field.m_lookupKey, key ? key->value() : Value{}, field.m_resultField);
}

Value Dataset::fieldValueAt(const Field& field, int row)
{
    if (!field.m_lookup)
        return field.m_column < 0 ? Value{} : m_rows.value(row, field.m_column);
    const Field* key = findField(field.m_keyField);
    if (!key || !field.m_lookupDataset)
        return {};
    return field.m_lookupDataset->lookup(field.m_lookupKey, fieldValueAt(*key, row), field.m_resultField);
}

Value Dataset::lookup(std::string_view keyField, const Value& key, std::string_view resultField)
{
    if (!m_active || isNull(key))
        return {};
    Field& keyColumn = fieldByName(keyField);
    Field& result = fieldByName(resultField);
    const CellView wanted = CellView::of(key);
    for (int row = 0; row < m_rows.rowCount(); ++row) {
        bool match;
        if (keyColumn.m_lookup)
            match = keysEqual(CellView::of(fieldValueAt(keyColumn, row)), wanted);
        else
            match = keyColumn.m_column >= 0 && keysEqual(m_rows.cell(row, keyColumn.m_column), wanted);
        if (match)
            return fieldValueAt(result, row);
    }
    return {};
}

void Dataset::setCell(const Field& field, Value value)
{
    if (!m_active || !m_editing)
        fail("Dataset not in edit or insert mode");
    if (field.m_lookup || field.m_readOnly || field.m_column < 0)
        throw DatabaseError("Field '" + field.displayLabel() + "' cannot be modified", ErrorKind::Permission);
    m_editRow[static_cast<std::size_t>(field.m_column)] = std::move(value);
    m_modified = true;
}

void Dataset::append()
{
    checkBrowseMode();
    m_rowBeforeEdit = m_current;
    m_editRow.assign(m_columns.size(), Value{});
    m_editing = true;
    m_modified = false;
    m_bof = m_eof = false;
}

void Dataset::cancel()
{
    if (!m_editing)
        return;
    m_editing = false;
    m_modified = false;
    m_editRow.clear();
    m_current = m_rowBeforeEdit;
    if (m_current < 0 && m_rows.rowCount() > 0)
        m_current = 0;
    m_bof = m_current <= 0;
    m_eof = m_rows.rowCount() == 0;
}

std::string Dataset::baseTable() const
{
    if (m_settings.kind == DatasetKind::Table)
        return m_source;
    for (const ColumnDescription& column : m_columns)
        if (!column.baseTable.empty())
            return column.baseTable;
    fail("Insufficient base table information for updating or refreshing.", {ErrorKind::Unsupported});
}

std::vector<std::pair<std::string, Value>> Dataset::insertValues(const std::vector<Value>& row,
                                                                 const std::string& table) const
{
    std::vector<std::pair<std::string, Value>> values;
    for (std::size_t c = 0; c < m_columns.size(); ++c) {
        const ColumnDescription& column = m_columns[c];
        if (isNull(row[c]) || column.autoIncrement)
            continue;
        const bool ownColumn = column.baseTable.empty() ? m_settings.kind == DatasetKind::Table
                                                        : text::equalsIgnoreCase(column.baseTable, table);
        if (!ownColumn)
            continue;
        values.emplace_back(column.baseColumn.empty() ? column.name : column.baseColumn, row[c]);
    }
    return values;
}

int Dataset::autoIncrementColumn(const std::string& table) const
{
    for (std::size_t c = 0; c < m_columns.size(); ++c) {
        const ColumnDescription& column = m_columns[c];
        if (column.autoIncrement && (column.baseTable.empty() ? m_settings.kind == DatasetKind::Table
                                                              : text::equalsIgnoreCase(column.baseTable, table)))
            return static_cast<int>(c);
    }
    return -1;
}

Backend& Dataset::backendForCommands()
{
    Backend& backend = m_connection->backend();
    // The shorter of the two limits; 0 is none.
    const int own = m_settings.commandTimeout;
    const int connection = m_connection->commandTimeout();
    backend.setCommandTimeout(own <= 0 ? connection : connection <= 0 ? own : std::min(own, connection));
    return backend;
}

void Dataset::post()
{
    checkActive();
    if (!m_editing)
        return;
    for (const std::unique_ptr<Field>& field : m_fields)
        if (!field->m_lookup && field->m_required && !field->m_readOnly && field->isNull())
            throw DatabaseError("Field '" + field->displayLabel() + "' must have a value", ErrorKind::Constraint);

    if (m_settings.lockType == LockType::BatchOptimistic) {
        m_rows.appendRow(m_editRow);
        m_pending.push_back(m_rows.rowCount() - 1);
    } else {
        const std::string table = baseTable();
        const std::int64_t key = backendForCommands().insertRow(table, insertValues(m_editRow, table));
        if (const int autoColumn = autoIncrementColumn(table); autoColumn >= 0)
            m_editRow[static_cast<std::size_t>(autoColumn)] = key;
        m_rows.appendRow(m_editRow);
    }
    m_editing = false;
    m_modified = false;
    m_editRow.clear();
    m_current = m_rows.rowCount() - 1;
    m_bof = false;
    m_eof = false;
}

void Dataset::applyUpdates()
{
    checkBrowseMode();
    if (m_pending.empty())
        return;
    const std::string table = baseTable();
    const int autoColumn = autoIncrementColumn(table);
    Backend& backend = backendForCommands();
    std::vector<std::int64_t> keys;
    backend.beginTransaction();
    try {
        for (int row : m_pending)
            keys.push_back(backend.insertRow(table, insertValues(m_rows.row(row), table)));
        backend.commit();
    } catch (...) {
        backend.rollback();
        throw;
    }
    if (autoColumn >= 0) {
        for (std::size_t i = 0; i < m_pending.size(); ++i) {
            std::vector<Value> row = m_rows.row(m_pending[i]);
            row[static_cast<std::size_t>(autoColumn)] = keys[i];
            m_rows.replaceRow(m_pending[i], row);
        }
    }
    m_pending.clear();
}

bool Dataset::locate(std::string_view fieldName, const std::string& value, LocateOptions options)
{
    checkBrowseMode();
    Field& field = fieldByName(fieldName);
    const bool numeric = isNumberKind(field.m_kind);
    double wanted = 0;
    if (numeric && !text::parseNumber(value, wanted))
        return false;
    // A decimal is found by its exact value, not by the double nearest to it.
    const std::optional<Decimal> wantedDecimal =
        numeric ? Decimal::parse(text::trimSpacesAndAsciiControls(value)) : std::nullopt;
    for (int row = 0; row < m_rows.rowCount(); ++row) {
        CellView cell;
        Value computed;
        if (field.m_lookup || field.m_column < 0) {
            computed = fieldValueAt(field, row);
            cell = CellView::of(computed);
        } else {
            cell = m_rows.cell(row, field.m_column);
        }
        if (cell.type == CellView::Type::Null)
            continue;
        bool match;
        if (numeric && cell.type == CellView::Type::Decimal && wantedDecimal) {
            match = cell.decimal == *wantedDecimal;
        } else if (numeric) {
            double number = 0;
            match = numberOf(cell, number) && number == wanted;
        } else {
            const std::string shown = displayOf(cell);
            if (options.partialKey)
                match = options.caseInsensitive ? text::startsWithIgnoreCase(shown, value) : shown.starts_with(value);
            else
                match = options.caseInsensitive ? text::equalsIgnoreCase(shown, value) : shown == value;
        }
        if (match) {
            m_current = row;
            m_bof = m_eof = false;
            return true;
        }
    }
    return false;
}

} // namespace velmora::data
