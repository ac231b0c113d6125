#include "data/Backend.h"

#include "data/Errors.h"
#include "data/Text.h"

#include <algorithm>

namespace velmora::data {

namespace {

class RowByRowWriter final : public RowWriter
{
public:
    RowByRowWriter(Backend& backend, std::string table, std::vector<std::string> columns)
        : m_backend(backend), m_table(std::move(table)), m_columns(std::move(columns))
    {
    }

    void write(std::span<const std::vector<Value>> rows) override
    {
        std::vector<std::pair<std::string, Value>> values;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            values.clear();
            for (std::size_t c = 0; c < m_columns.size() && c < rows[r].size(); ++c)
                values.emplace_back(m_columns[c], rows[r][c]);
            try {
                m_backend.insertRow(m_table, values);
            } catch (const DatabaseError& e) {
                throw RowWriteError(e, r);
            }
        }
    }

private:
    Backend& m_backend;
    std::string m_table;
    std::vector<std::string> m_columns;
};

} // namespace

ResultSet Backend::openTable(const std::string& table)
{
    ResultSet result;
    RowCollector rows(result.rows);
    result.columns = readTable(table, rows);
    return result;
}

ResultSet Backend::openCommand(const std::string& commandText)
{
    ResultSet result;
    RowCollector rows(result.rows);
    result.columns = readCommand(commandText, rows);
    return result;
}

void Backend::RowCollector::row(std::span<const CellView> cells)
{
    std::vector<Value>& row = m_rows.emplace_back();
    row.reserve(cells.size());
    for (const CellView& cell : cells)
        row.push_back(cell.toValue());
}

void Backend::ValuesSeen::note(const CellView& cell)
{
    switch (cell.type) {
    case CellView::Type::Integer:
        integer = true;
        break;
    case CellView::Type::Double:
        real = true;
        break;
    case CellView::Type::Text:
        text = true;
        longestText = std::max(longestText, static_cast<int>(data::text::utf8Length(cell.text)));
        break;
    default:
        break;
    }
}

void Backend::ValuesSeen::describe(ColumnDescription& c) const
{
    auto as = [&c](AdoType type, int size, int precision) {
        c.type = type;
        c.definedSize = size;
        c.precision = precision;
    };
    if (binary) {
        as(AdoType::adLongVarBinary, 2147483647, c.precision);
    } else if (text) {
        as(AdoType::adVarWChar, std::max(longestText, 1), 0);
    } else if (real) {
        as(AdoType::adDouble, 8, 15);
    } else if (integer) {
        as(AdoType::adBigInt, 8, 19);
    } else {
        as(AdoType::adVarWChar, 255, 0);
        c.allNull = c.baseTable.empty();
    }
}

std::vector<std::string> Backend::tableNames()
{
    throw DatabaseError("This database cannot list its tables.", ErrorKind::Unsupported);
}

void Backend::execute(const std::string&)
{
    throw DatabaseError("This database runs no statements of its own dialect.", ErrorKind::Unsupported);
}

ResultSet Backend::query(const std::string&, const std::vector<Value>&)
{
    throw DatabaseError("This database runs no statements with parameters.", ErrorKind::Unsupported);
}

std::int64_t Backend::update(const std::string&, const std::vector<Value>&)
{
    throw DatabaseError("This database runs no statements with parameters.", ErrorKind::Unsupported);
}

void Backend::lockForWriting(std::string_view)
{
    throw DatabaseError("This database has no writers' lock.", ErrorKind::Unsupported);
}

void Backend::createTableIfMissing(const TableDefinition&)
{
    throw DatabaseError("This database makes no tables.", ErrorKind::Unsupported);
}

int Backend::schemaVersion()
{
    throw DatabaseError("This database keeps no schema version.", ErrorKind::Unsupported);
}

void Backend::setSchemaVersion(int)
{
    throw DatabaseError("This database keeps no schema version.", ErrorKind::Unsupported);
}

std::unique_ptr<RowWriter> Backend::prepareInsert(const std::string& table, const std::vector<std::string>& columns)
{
    return std::make_unique<RowByRowWriter>(*this, table, columns);
}

bool listsTable(const std::vector<std::string>& tables, std::string_view table)
{
    for (const std::string& name : tables)
        if (text::equalsIgnoreCase(name, table))
            return true;
    return false;
}

bool hasTable(Backend& db, std::string_view table)
{
    return listsTable(db.tableNames(), table);
}

} // namespace velmora::data
