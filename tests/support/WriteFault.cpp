#include "tests/support/WriteFault.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

namespace velmora::test {

namespace {

bool exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The database may not grow by a page: rows that need a new page fail with SQLITE_FULL. The smallest possible
// records fill the last page first, so that no other record fits either.
bool fillDatabase(sqlite3* db)
{
    sqlite3_stmt* pageCount = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &pageCount, nullptr) != SQLITE_OK ||
        sqlite3_step(pageCount) != SQLITE_ROW) {
        sqlite3_finalize(pageCount);
        return false;
    }
    const std::string limit = "PRAGMA max_page_count=" + std::to_string(sqlite3_column_int64(pageCount, 0));
    sqlite3_finalize(pageCount);
    if (!exec(db, limit.c_str()))
        return false;
    for (int i = 0; i < 10'000; ++i) {
        if (!exec(db, "INSERT INTO oper DEFAULT VALUES"))
            return (sqlite3_errcode(db) & 0xFF) == SQLITE_FULL;
    }
    return false;
}

} // namespace

WriteFault::WriteFault(sqlite3* connection, const std::string& databasePath, Kind kind)
    : m_connection(connection), m_kind(kind)
{
    if (!connection)
        return;
    switch (kind) {
    case DatabaseFull:
        m_ok = fillDatabase(connection);
        break;
    case DiskRefuses: {
        std::error_code ec;
        const auto logSize = std::filesystem::file_size(databasePath + "-wal", ec);
        if (!ec)
            m_limit = std::make_unique<FileSizeLimit>(logSize);
        m_ok = m_limit && m_limit->ok();
        break;
    }
    case ReadOnly:
        m_ok = exec(connection, "PRAGMA query_only=1");
        break;
    }
}

void WriteFault::lift()
{
    if (!m_ok)
        return;
    m_ok = false;
    switch (m_kind) {
    case DatabaseFull:
        exec(m_connection, "PRAGMA max_page_count=1073741823");
        break;
    case DiskRefuses:
        m_limit->lift();
        break;
    case ReadOnly:
        exec(m_connection, "PRAGMA query_only=0");
        break;
    }
}

} // namespace velmora::test
