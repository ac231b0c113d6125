#include "import/DatabaseSource.h"

#include "data/Errors.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/PgBackend.h"
#include "data/module/SchemaVersion.h"

#include <span>

namespace velmora::transfer {

namespace {

using data::AdoType;
using data::CellView;
using data::text::equalsIgnoreCase;

std::string stringLiteral(const std::string& text)
{
    return data::text::quoted(text, '\'');
}

// Tables an engine keeps for itself, never copied: the file's password verifier (the target has its own, or none)
// and the server's schema version (the target is stamped by its own kind).
bool ownTable(const std::string& name)
{
    return equalsIgnoreCase(name, data::PasswordVerifierTable) || equalsIgnoreCase(name, data::SchemaVersionTable);
}

// A date or time as the import writes every date-time: YYYY-MM-DD HH:MM:SS (a time on Access's day zero).
std::string dateTimeText(std::string_view text, data::FieldKind kind)
{
    if (kind == data::FieldKind::Date && text.size() == 10)
        return std::string(text) + " 00:00:00";
    if (kind == data::FieldKind::Time && text.size() == 8)
        return "1899-12-30 " + std::string(text);
    return std::string(text);
}

// Each row's cells as the import's values, handed on.
class RowsToImport final : public data::RowSink
{
public:
    RowsToImport(const std::vector<TargetType>& types,
                 const std::function<bool(const std::vector<access::Value>&)>& onRow)
        : m_types(types), m_onRow(onRow)
    {
    }
    void begin(int columns) override { m_values.resize(static_cast<std::size_t>(columns)); }
    void row(std::span<const CellView> cells) override
    {
        for (std::size_t c = 0; c < cells.size(); ++c)
            m_values[c] = value(cells[c], c < m_types.size() ? m_types[c].kind : data::FieldKind::WideString);
        m_onRow(m_values);
    }

private:
    static access::Value value(const CellView& cell, data::FieldKind kind)
    {
        switch (cell.type) {
        case CellView::Type::Null:
            return {};
        case CellView::Type::Integer:
            return cell.integer;
        case CellView::Type::Double:
            return cell.number;
        case CellView::Type::False:
            return false;
        case CellView::Type::True:
            return true;
        case CellView::Type::Decimal:
            return cell.decimal.toString();
        case CellView::Type::Text:
            if (kind == data::FieldKind::Blob)
                return access::Bytes(cell.text.begin(), cell.text.end());
            if (kind == data::FieldKind::DateTime || kind == data::FieldKind::Date || kind == data::FieldKind::Time)
                return dateTimeText(cell.text, kind);
            return std::string(cell.text);
        }
        return {};
    }

    const std::vector<TargetType>& m_types;
    const std::function<bool(const std::vector<access::Value>&)>& m_onRow;
    std::vector<access::Value> m_values;
};

// Collects the rows of a small catalogue query as text.
class TextRows final : public data::RowSink
{
public:
    void begin(int) override {}
    void row(std::span<const CellView> cells) override
    {
        std::vector<std::string>& row = rows.emplace_back();
        for (const CellView& cell : cells)
            row.push_back(cell.type == CellView::Type::Text      ? std::string(cell.text)
                          : cell.type == CellView::Type::Integer ? std::to_string(cell.integer)
                          : cell.type == CellView::Type::True    ? std::string("1")
                                                                 : std::string("0"));
    }
    std::vector<std::vector<std::string>> rows;
};

// Stops reading once the import has the rows it needs.
class Stop
{
};

} // namespace

access::Kind accessKindOf(const data::ColumnDescription& column)
{
    using access::Kind;
    switch (column.type) {
    case AdoType::adLongVarChar:
    case AdoType::adLongVarWChar:
        return Kind::Memo;
    case AdoType::adSmallInt:
    case AdoType::adTinyInt:
    case AdoType::adUnsignedTinyInt:
        return Kind::Integer;
    case AdoType::adInteger:
    case AdoType::adUnsignedSmallInt:
    case AdoType::adBigInt:
    case AdoType::adUnsignedInt:
        return column.autoIncrement ? Kind::AutoNumber : Kind::LongInteger;
    case AdoType::adSingle:
        return Kind::Single;
    case AdoType::adDouble:
        return Kind::Double;
    case AdoType::adCurrency:
        return Kind::Currency;
    case AdoType::adNumeric:
    case AdoType::adDecimal:
    case AdoType::adVarNumeric:
        return Kind::Decimal;
    case AdoType::adDate:
    case AdoType::adDBDate:
    case AdoType::adDBTime:
    case AdoType::adDBTimeStamp:
        return Kind::DateTime;
    case AdoType::adBoolean:
        return Kind::Boolean;
    case AdoType::adBinary:
    case AdoType::adVarBinary:
    case AdoType::adLongVarBinary:
        return Kind::Binary;
    default:
        return Kind::Text;
    }
}

DatabaseSource::DatabaseSource(std::unique_ptr<data::Backend> backend, Engine engine)
    : m_backend(std::move(backend)), m_engine(engine)
{
    // Tables of a newer schema would arrive as tables of nobody's, the target stamped as if they were not there.
    data::refuseNewerSchema(*m_backend);
    // One state of the database throughout, however long the copy takes; tills may go on working meanwhile.
    m_backend->execute(m_engine == Engine::Server ? "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY" : "BEGIN");
    const std::vector<std::string> tables =
        m_engine == Engine::Server
            ? names("SELECT c.relname::text FROM pg_catalog.pg_class c WHERE c.relkind IN ('r', 'p') AND "
                    "pg_catalog.pg_table_is_visible(c.oid) AND c.relnamespace <> 'pg_catalog'::regnamespace "
                    "ORDER BY c.oid")
            : names("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
                    "ESCAPE '\\' ORDER BY rowid");
    for (const std::string& table : tables)
        if (!ownTable(table))
            describe(table);
}

DatabaseSource::~DatabaseSource()
{
    try {
        m_backend->execute("ROLLBACK");
    } catch (const data::DatabaseError&) {
        // read only: nothing to undo
    }
}

std::vector<std::string> DatabaseSource::names(const std::string& sql) const
{
    TextRows rows;
    m_backend->readCommand(sql, rows);
    std::vector<std::string> out;
    for (const auto& row : rows.rows)
        out.push_back(row.front());
    return out;
}

void DatabaseSource::describe(const std::string& table)
{
    const std::string quoted = data::quoteIdentifier(table);
    access::Table described;
    described.name = table;
    Described types;
    const data::ResultSet none = m_backend->openCommand("SELECT * FROM " + quoted + " LIMIT 0");
    for (const data::ColumnDescription& column : none.columns) {
        access::Column c;
        c.name = column.name;
        c.kind = accessKindOf(column);
        c.size = column.definedSize;
        c.precision = column.precision;
        c.scale = column.scale;
        described.columns.push_back(c);
        types.types.push_back(typeOfColumn(column, table));
    }
    // Which columns must hold a value, and the primary key, in key order. (No brackets in the server's text: the
    // command texts' reader takes [name] for a name, as the embedded engine does.)
    TextRows keys;
    if (m_engine == Engine::Server)
        m_backend->readCommand("SELECT a.attname::text, CASE WHEN a.attnotnull THEN 1 ELSE 0 END, "
                               "COALESCE(array_position(string_to_array(i.indkey::text, ' '), a.attnum::text), 0) "
                               "FROM pg_catalog.pg_attribute a "
                               "LEFT JOIN pg_catalog.pg_index i ON i.indrelid = a.attrelid AND i.indisprimary "
                               "WHERE a.attrelid = " +
                                   stringLiteral(quoted) +
                                   "::regclass AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
                               keys);
    else
        m_backend->readCommand("SELECT name, \"notnull\", pk FROM pragma_table_info(" + stringLiteral(table) + ")",
                               keys);
    std::map<int, std::string> key;
    for (const auto& row : keys.rows) {
        for (access::Column& column : described.columns)
            if (column.name == row[0])
                column.required = row[1] == "1";
        if (const int position = std::stoi(row[2]); position > 0)
            key[position] = row[0];
    }
    for (const auto& [position, name] : key)
        described.primaryKey.push_back(name);
    const std::vector<std::string> count = names("SELECT count(*) FROM " + quoted);
    described.rowCount = count.empty() ? 0 : std::stoll(count.front());
    m_tables.push_back(std::move(described));
    m_described.emplace(table, std::move(types));
}

void DatabaseSource::readRows(const std::string& table,
                              const std::function<bool(const std::vector<access::Value>&)>& onRow) const
{
    const auto it = m_described.find(table);
    if (it == m_described.end())
        throw ImportError("the source has no table '" + table + "'");
    const std::function<bool(const std::vector<access::Value>&)> each = [&](const std::vector<access::Value>& row) {
        if (!onRow(row))
            throw Stop();
        return true;
    };
    RowsToImport rows(it->second.types, each);
    try {
        m_backend->readTable(table, rows);
    } catch (const Stop&) {
    }
}

std::optional<TargetType> DatabaseSource::columnType(const std::string& table, std::size_t column) const
{
    const auto it = m_described.find(table);
    if (it == m_described.end() || column >= it->second.types.size())
        return std::nullopt;
    return it->second.types[column];
}

} // namespace velmora::transfer
