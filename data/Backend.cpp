#include "data/Backend.h"

#include "data/Errors.h"

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

std::unique_ptr<RowWriter> Backend::prepareInsert(const std::string& table, const std::vector<std::string>& columns)
{
    return std::make_unique<RowByRowWriter>(*this, table, columns);
}

} // namespace velmora::data
