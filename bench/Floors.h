// The floors' reading of a table: what a bare client of the engine does to read every value of it, for
// velmora-bench (in process) and velmora-bench-read (from outside).
#pragma once

#include "data/Errors.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/SqliteBackend.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace velmora::bench {

using data::DatabaseError;
using data::quoteIdentifier;
using data::SqliteStatement;
namespace text = data::text;

// The floor of opening a table (or running a query): the statement stepped through with every column read. Returns the
// bytes of the values (8 per number, the UTF-8 bytes of a text, 1 per boolean, 0 per null).
struct FloorRead
{
    std::size_t rows = 0;
    std::size_t valueBytes = 0;
    std::uint64_t checksum = 0;
};

inline FloorRead readQuery(sqlite3* db, const std::string& sql)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw DatabaseError(sqlite3_errmsg(db));
    SqliteStatement s(raw);
    const int n = sqlite3_column_count(s.get());
    std::vector<char> boolean(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const char* type = sqlite3_column_decltype(s.get(), i);
        boolean[static_cast<std::size_t>(i)] =
            type && (text::equalsIgnoreCase(type, "BIT") || text::equalsIgnoreCase(type, "BOOLEAN"));
    }
    FloorRead r;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        ++r.rows;
        for (int i = 0; i < n; ++i) {
            switch (sqlite3_column_type(s.get(), i)) {
            case SQLITE_INTEGER:
                r.checksum += static_cast<std::uint64_t>(sqlite3_column_int64(s.get(), i));
                r.valueBytes += boolean[static_cast<std::size_t>(i)] ? 1 : 8;
                break;
            case SQLITE_FLOAT: {
                const double d = sqlite3_column_double(s.get(), i);
                std::uint64_t bits;
                std::memcpy(&bits, &d, sizeof bits);
                r.checksum += bits;
                r.valueBytes += boolean[static_cast<std::size_t>(i)] ? 1 : 8;
                break;
            }
            case SQLITE_TEXT:
            case SQLITE_BLOB: {
                const unsigned char* text = sqlite3_column_text(s.get(), i);
                const int bytes = sqlite3_column_bytes(s.get(), i);
                r.checksum += static_cast<std::uint64_t>(bytes) + (bytes ? text[0] : 0u);
                r.valueBytes += static_cast<std::size_t>(bytes);
                break;
            }
            default:
                break;
            }
        }
    }
    if (rc != SQLITE_DONE)
        throw DatabaseError(sqlite3_errmsg(db));
    return r;
}

inline FloorRead readAll(sqlite3* db, const std::string& table)
{
    return readQuery(db, "SELECT * FROM " + quoteIdentifier(table));
}

struct PgCloser
{
    void operator()(PGconn* c) const { PQfinish(c); }
};
using PgHandle = std::unique_ptr<PGconn, PgCloser>;
struct PgClearer
{
    void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, PgClearer>;

// A bare libpq connection, as the floors use.
inline PgHandle connectBare(const std::string& uri)
{
    PgHandle c(PQconnectdb(uri.c_str()));
    if (PQstatus(c.get()) != CONNECTION_OK)
        throw DatabaseError(PQerrorMessage(c.get()));
    return c;
}

// The floor of opening a table on the server: the same SELECT in single-row mode (PostgreSQL 15's libpq has
// no chunked mode), every value read: numbers parsed from their text, texts and times touched. The values'
// bytes count as for the file: 8 per number or time, the UTF-8 bytes of a text, 1 per boolean.
inline FloorRead readQueryServer(PGconn* c, const std::string& sql)
{
    if (!PQsendQuery(c, sql.c_str()) || !PQsetSingleRowMode(c))
        throw DatabaseError(PQerrorMessage(c));
    enum Kind : char { Text, Number, Boolean, Time };
    std::vector<Kind> kinds;
    FloorRead r;
    std::string failure;
    while (PGresult* raw = PQgetResult(c)) {
        const PgResult result(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_TUPLES_OK)
            continue;
        if (status != PGRES_SINGLE_TUPLE) {
            failure = PQresultErrorMessage(raw);
            continue; // libpq wants every result taken before the next query
        }
        const int n = PQnfields(raw);
        if (kinds.empty())
            for (int i = 0; i < n; ++i)
                switch (PQftype(raw, i)) {
                case 16:
                    kinds.push_back(Boolean);
                    break; // bool
                case 20:
                case 21:
                case 23:
                case 700:
                case 701:
                case 1700: // integers, floats, numeric
                    kinds.push_back(Number);
                    break;
                case 1082:
                case 1083:
                case 1114:
                case 1184:
                    kinds.push_back(Time);
                    break;
                default:
                    kinds.push_back(Text);
                }
        ++r.rows;
        for (int i = 0; i < n; ++i) {
            if (PQgetisnull(raw, 0, i))
                continue;
            const char* value = PQgetvalue(raw, 0, i);
            const int bytes = PQgetlength(raw, 0, i);
            switch (kinds[static_cast<std::size_t>(i)]) {
            case Number: {
                const double d = std::strtod(value, nullptr);
                std::uint64_t bits;
                std::memcpy(&bits, &d, sizeof bits);
                r.checksum += bits;
                r.valueBytes += 8;
                break;
            }
            case Boolean:
                r.checksum += value[0] == 't';
                r.valueBytes += 1;
                break;
            case Time:
                r.checksum += static_cast<std::uint64_t>(bytes) + static_cast<unsigned char>(value[0]);
                r.valueBytes += 8;
                break;
            case Text:
                r.checksum += static_cast<std::uint64_t>(bytes) + (bytes ? static_cast<unsigned char>(value[0]) : 0u);
                r.valueBytes += static_cast<std::size_t>(bytes);
                break;
            }
        }
    }
    if (!failure.empty())
        throw DatabaseError(failure);
    return r;
}

inline FloorRead readAllServer(PGconn* c, const std::string& table)
{
    return readQueryServer(c, "SELECT * FROM " + quoteIdentifier(table));
}

} // namespace velmora::bench
