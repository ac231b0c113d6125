// Many rows into one table through a PgBackend: COPY a batch at a time under a savepoint, and a refused batch
// written again row by row to find the row the server refuses.
#include "data/engines/PgBackend.h"

#include "data/Errors.h"
#include "data/engines/CommandText.h"
#include "data/engines/CopyText.h"
#include "data/engines/PgInternal.h"
#include "data/engines/PgTypes.h"

#include <libpq-fe.h>

#include <optional>
#include <span>

namespace velmora::data {

// Rows in COPY's text format (CopyText.h).
class PgBackend::CopyWriter final : public RowWriter
{
public:
    CopyWriter(PgBackend& backend, std::string table, std::vector<std::string> columns, std::vector<unsigned> types)
        : m_backend(backend), m_types(std::move(types))
    {
        std::string names;
        std::string placeholders;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            names += (i ? ", " : "") + quoteIdentifier(columns[i]);
            placeholders += (i ? ", $" : "$") + std::to_string(i + 1);
        }
        m_copy = "COPY " + quoteIdentifier(table) + " (" + names + ") FROM STDIN";
        m_insert = columns.empty()
                       ? "INSERT INTO " + quoteIdentifier(table) + " DEFAULT VALUES"
                       : "INSERT INTO " + quoteIdentifier(table) + " (" + names + ") VALUES (" + placeholders + ")";
    }

    void write(std::span<const std::vector<Value>> rows) override
    {
        m_backend.command(Access::Write, [&] { writeBatch(rows); });
    }

private:
    void writeBatch(std::span<const std::vector<Value>> rows)
    {
        if (rows.empty())
            return;
        // Values the server cannot take at all are refused before anything is sent.
        m_buffer.clear();
        for (std::size_t r = 0; r < rows.size(); ++r) {
            try {
                appendRow(rows[r]);
            } catch (const DatabaseError& e) {
                throw RowWriteError(e, r);
            }
        }
        m_rowsWithoutColumns = rows.size();
        m_backend.run("SAVEPOINT velmora_batch");
        std::optional<DatabaseError> refused = copy();
        if (!refused) {
            m_backend.run("RELEASE SAVEPOINT velmora_batch");
            return;
        }
        // A server that gave no answer: the connection is closed, and the server rolls the transaction back.
        if (!m_backend.m_connection)
            throw RowWriteError(*refused, std::nullopt);
        m_backend.run("ROLLBACK TO SAVEPOINT velmora_batch");
        const std::optional<std::size_t> row = findRefusedRow(rows, refused);
        m_backend.run("ROLLBACK TO SAVEPOINT velmora_batch; RELEASE SAVEPOINT velmora_batch");
        throw RowWriteError(*refused, row);
    }

    std::optional<std::string> text(const Value& value, std::size_t column) const
    {
        return pg::parameterText(value, column < m_types.size() ? m_types[column] : 0);
    }

    void appendRow(const std::vector<Value>& row)
    {
        if (m_types.empty())
            return;
        for (std::size_t c = 0; c < m_types.size(); ++c) {
            if (c)
                m_buffer += '\t';
            const std::optional<std::string> value = c < row.size() ? text(row[c], c) : std::nullopt;
            if (!value) {
                m_buffer += CopyNull;
                continue;
            }
            appendCopyField(m_buffer, *value);
        }
        m_buffer += '\n';
    }

    // The batch through COPY (or, without columns, row by row); the server's refusal, if any.
    std::optional<DatabaseError> copy()
    {
        try {
            if (m_types.empty()) {
                for (std::size_t r = 0; r < m_rowsWithoutColumns; ++r)
                    m_backend.run(m_insert);
                return std::nullopt;
            }
            const Result end = m_backend.copyIn(m_copy, m_buffer);
            if (!end || PQresultStatus(end.get()) != PGRES_COMMAND_OK)
                m_backend.fail(end.get());
        } catch (const LostConnection&) {
            throw; // no refusal of a row: the transaction is gone
        } catch (const DatabaseError& e) {
            return e;
        }
        return std::nullopt;
    }

    // Writes the rows one by one until the server refuses one: its index, or none when each is taken.
    std::optional<std::size_t> findRefusedRow(std::span<const std::vector<Value>> rows,
                                              std::optional<DatabaseError>& refused)
    {
        const Result prepared =
            m_backend.exchange([&](pg_conn* c) { return PQsendPrepare(c, "", m_insert.c_str(), 0, nullptr); });
        if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
            return std::nullopt;
        std::vector<std::optional<std::string>> texts(m_types.size());
        std::vector<const char*> parameters(m_types.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            for (std::size_t c = 0; c < m_types.size(); ++c) {
                texts[c] = c < rows[r].size() ? text(rows[r][c], c) : std::nullopt;
                parameters[c] = texts[c] ? texts[c]->c_str() : nullptr;
            }
            const Result one = m_backend.exchange([&](pg_conn* c) {
                return PQsendQueryPrepared(c, "", static_cast<int>(parameters.size()), parameters.data(), nullptr,
                                           nullptr, 0);
            });
            const ExecStatusType status = one ? PQresultStatus(one.get()) : PGRES_FATAL_ERROR;
            if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
                continue;
            try {
                m_backend.fail(one.get());
            } catch (const DatabaseError& e) {
                refused = e; // this row's own refusal, sharper than the batch's
            }
            return r;
        }
        return std::nullopt;
    }

    PgBackend& m_backend;
    std::vector<unsigned> m_types; // per column, its type (a domain's base type)
    std::string m_copy;
    std::string m_insert;
    std::string m_buffer;
    std::size_t m_rowsWithoutColumns = 0;
};

std::unique_ptr<RowWriter> PgBackend::prepareInsert(const std::string& table, const std::vector<std::string>& columns)
{
    return command(Access::Read, [&] {
        const TableInfo& info = writtenTable(table);
        std::vector<std::string> names;
        std::vector<unsigned> types;
        for (const std::string& name : columns) {
            const ColumnInfo* found = columnNamed(info, name);
            if (!found)
                throw DatabaseError("The table '" + info.name + "' has no column '" + name + "'.", ErrorKind::NotFound);
            names.push_back(found->name);
            types.push_back(found->baseType);
        }
        return std::make_unique<CopyWriter>(*this, info.name, std::move(names), std::move(types));
    });
}

} // namespace velmora::data
