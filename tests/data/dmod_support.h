#pragma once

// Fixtures for the data module's tests: a temporary folder and database files made from the schema, with
// chosen columns changed.

#include "data/Schema.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmora::data::test {

class ScratchDir
{
public:
    ScratchDir()
    {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_path = std::filesystem::temp_directory_path() / ("velmora-dmod-" + std::to_string(::getpid()) + "-" +
                                                           std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return (m_path / name).string(); }
    std::string folder() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

// A column of the schema given another SQL type, dropped (no type), or added when the table lacks it.
struct ColumnChange
{
    std::string table;
    std::string column;
    std::optional<std::string> type;
};

inline std::string quote(std::string_view name)
{
    return "\"" + std::string(name) + "\"";
}

// The schema's DDL with the changes applied.
inline std::string schemaWith(const std::vector<ColumnChange>& changes)
{
    std::string script;
    for (const TableDefinition& table : schemaTables()) {
        std::vector<std::string> columns;
        for (const ColumnDefinition& column : table.columns) {
            std::optional<std::string> type = sqlType(column);
            for (const ColumnChange& change : changes)
                if (change.table == table.name && change.column == column.name)
                    type = change.type;
            if (type)
                columns.push_back(quote(column.name) + " " + *type);
        }
        for (const ColumnChange& change : changes)
            if (change.table == table.name && !findColumn(table, change.column) && change.type)
                columns.push_back(quote(change.column) + " " + *change.type);
        script += "CREATE TABLE " + quote(table.name) + " (";
        for (std::size_t i = 0; i < columns.size(); ++i)
            script += (i ? ", " : "") + columns[i];
        script += ");\n";
    }
    return script;
}

// Runs SQL on a database file with the plain SQLite API, creating the file when missing.
inline void runSql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + path);
    }
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string text = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("SQL failed: " + text + "\n" + sql);
}

// The number that a query's first column gives.
inline long long queryNumber(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    long long n = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

inline std::string jetConnectionString(const std::string& path)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + path +
           ";Mode=Share Deny None;Jet OLEDB:Database Password=\"\"";
}

} // namespace velmora::data::test
