// Writing through a PgBackend: statements with parameters, one row at a time (its INSERT prepared once per column
// list), the writers' lock, and transactions.
#include "data/engines/PgBackend.h"

#include "data/Errors.h"
#include "data/engines/CommandText.h"
#include "data/engines/PgInternal.h"
#include "data/engines/PgTypes.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstdint>
#include <cstring>

namespace velmora::data {

std::int64_t PgBackend::update(const std::string& sql, const std::vector<Value>& parameters)
{
    return command(Access::Write, [&] {
        std::vector<std::optional<std::string>> texts;
        const std::string numbered = parameterised(sql, parameters, texts);
        const std::vector<const char*> pointers = parameterPointers(texts);
        Result r = exchange([&](pg_conn* c) {
            return PQsendQueryParams(c, numbered.c_str(), static_cast<int>(pointers.size()), nullptr,
                                     pointers.empty() ? nullptr : pointers.data(), nullptr, nullptr, 0);
        });
        const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            fail(r.get());
        std::int64_t changed = 0;
        const char* tuples = PQcmdTuples(r.get());
        std::from_chars(tuples, tuples + std::strlen(tuples), changed);
        return changed;
    });
}

void PgBackend::lockForWriting(std::string_view name)
{
    return command(Access::Write, [&] {
        if (PQtransactionStatus(live()) != PQTRANS_INTRANS)
            throw DatabaseError("A writers' lock is taken inside a transaction.");
        // FNV-1a of the name: the same key on every till and tool.
        std::uint64_t key = 1469598103934665603ull;
        for (unsigned char c : name) {
            key ^= c;
            key *= 1099511628211ull;
        }
        const std::string keyText = std::to_string(static_cast<std::int64_t>(key));
        run("SELECT pg_catalog.pg_advisory_xact_lock($1::bigint)", {keyText.c_str()});
    });
}

// Past this many column lists, further inserts are sent unprepared rather than kept on the server.
constexpr std::size_t MaxPreparedInserts = 64;

std::int64_t PgBackend::insertRow(const std::string& table, const std::vector<std::pair<std::string, Value>>& values)
{
    return command(Access::Write, [&] {
        const TableInfo& info = writtenTable(table);
        const ColumnInfo* key = nullptr;
        for (int number : info.order)
            if (info.columns.at(number).autoIncrement) {
                key = &info.columns.at(number);
                break;
            }

        std::string sql = "INSERT INTO " + quoteIdentifier(info.name);
        std::vector<std::optional<std::string>> texts;
        texts.reserve(values.size());
        if (values.empty()) {
            sql += " DEFAULT VALUES";
        } else {
            std::string placeholders;
            sql += " (";
            for (std::size_t i = 0; i < values.size(); ++i) {
                const ColumnInfo* column = columnNamed(info, values[i].first);
                sql += (i ? ", " : "") + quoteIdentifier(column ? column->name : values[i].first);
                placeholders += (i ? ", $" : "$") + std::to_string(i + 1);
                texts.push_back(pg::parameterText(values[i].second, column ? column->baseType : 0));
            }
            sql += ") VALUES (" + placeholders + ")";
        }
        if (key)
            sql += " RETURNING " + quoteIdentifier(key->name);
        std::vector<const char*> parameters;
        for (const auto& text : texts)
            parameters.push_back(text ? text->c_str() : nullptr);

        // Inside a transaction a failed row must not spoil the others, as with the embedded engine.
        const bool inTransaction = PQtransactionStatus(usable()) == PQTRANS_INTRANS;
        if (inTransaction)
            run("SAVEPOINT velmora_row");
        // Prepared once per table and column list, as a till writes the same login record at every sign-on: the
        // server then neither parses nor plans it again. A failed preparation is reported as the row's failure.
        Result r;
        const std::string* statement = nullptr;
        if (const auto it = m_insertStatements.find(sql); it != m_insertStatements.end()) {
            statement = &it->second;
        } else if (m_insertStatements.size() < MaxPreparedInserts) {
            const std::string name = "velmora_insert_" + std::to_string(m_insertStatements.size() + 1);
            r = exchange([&](pg_conn* c) { return PQsendPrepare(c, name.c_str(), sql.c_str(), 0, nullptr); });
            if (r && PQresultStatus(r.get()) == PGRES_COMMAND_OK)
                statement = &m_insertStatements.emplace(sql, name).first->second;
        }
        if (statement)
            r = exchange([&](pg_conn* c) {
                return PQsendQueryPrepared(c, statement->c_str(), static_cast<int>(parameters.size()),
                                           parameters.data(), nullptr, nullptr, 0);
            });
        auto sendUnprepared = [&] {
            return exchange([&](pg_conn* c) {
                return PQsendQueryParams(c, sql.c_str(), static_cast<int>(parameters.size()), nullptr,
                                         parameters.data(), nullptr, nullptr, 0);
            });
        };
        if (!statement && !r)
            r = sendUnprepared();
        // The table was made again since (another session's DDL) and what the key returns has another kind now: the
        // server refuses the kept statement ("cached plan must not change result type"); forget it and send this one
        // as it is.
        if (statement && r && PQresultStatus(r.get()) == PGRES_FATAL_ERROR &&
            std::string_view(PQresultErrorField(r.get(), PG_DIAG_SQLSTATE)
                                 ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE)
                                 : "") == "0A000") {
            if (inTransaction)
                run("ROLLBACK TO SAVEPOINT velmora_row");
            run("DEALLOCATE " + quoteIdentifier(*statement));
            m_insertStatements.erase(sql);
            r = sendUnprepared();
        }
        const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            if (inTransaction) {
                try {
                    fail(r.get());
                } catch (const DatabaseError&) {
                    try {
                        exchange([](pg_conn* c) {
                            return PQsendQuery(c, "ROLLBACK TO SAVEPOINT velmora_row; RELEASE velmora_row");
                        });
                    } catch (const DatabaseError&) {
                        // the row's own error is the one to report
                    }
                    throw;
                }
            }
            fail(r.get());
        }
        if (inTransaction)
            run("RELEASE velmora_row");
        if (!key || PQntuples(r.get()) != 1 || PQgetisnull(r.get(), 0, 0))
            return std::int64_t{0};
        std::int64_t generated = 0;
        const char* text = PQgetvalue(r.get(), 0, 0);
        std::from_chars(text, text + std::strlen(text), generated);
        return generated;
    });
}

void PgBackend::beginTransaction()
{
    return command(Access::Read, [&] {
        if (PQtransactionStatus(usable()) != PQTRANS_IDLE)
            throw DatabaseError("A transaction is already under way on this connection.");
        run("BEGIN");
    });
}

void PgBackend::commit()
{
    return command(Access::Write, [&] {
        if (PQtransactionStatus(usable()) == PQTRANS_IDLE)
            throw DatabaseError("There is no transaction to commit.");
        Result r = run("COMMIT");
        // The server answers a COMMIT of a failed transaction by rolling it back.
        if (std::string_view(PQcmdStatus(r.get())) == "ROLLBACK")
            throw DatabaseError("The transaction was rolled back: a change in it had failed.");
    });
}

void PgBackend::rollback()
{
    // Closed after a time-out, or lost: the server has rolled back with the session, and the next command connects
    // again.
    if (!m_connection || PQstatus(m_connection.get()) == CONNECTION_BAD) {
        m_lastTransactionStatus = PQTRANS_IDLE;
        return;
    }
    const PGTransactionStatusType status = PQtransactionStatus(m_connection.get());
    if (status != PQTRANS_INTRANS && status != PQTRANS_INERROR)
        return;
    try {
        run("ROLLBACK");
    } catch (const LostConnection&) {
        m_connection.reset();
        m_lastTransactionStatus = PQTRANS_IDLE;
    }
}

} // namespace velmora::data
