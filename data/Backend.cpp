#include "data/Backend.h"

#include "data/Errors.h"
#include "data/Text.h"

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
