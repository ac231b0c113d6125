#pragma once

#include "data/Backend.h"
#include "data/Errors.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora::data {

struct SqliteCloser
{
    void operator()(sqlite3* db) const;
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

struct StatementFinalizer
{
    void operator()(sqlite3_stmt* s) const;
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The end of the command a connection is running, for its busy and progress handlers.
struct CommandDeadline
{
    std::chrono::steady_clock::time_point at;
    bool running = false;       // a command with a time-out is under way
    bool expired = false;       // a handler ended it at its deadline
    bool waitedForLock = false; // ... while it waited for another connection's lock
};

// Backend over one open SQLite database.
class SqliteBackend final : public Backend
{
public:
    // Takes over an open handle; path is the file's path, for messages.
    SqliteBackend(SqliteHandle db, std::string path);
    ~SqliteBackend() override;
    SqliteBackend(const SqliteBackend&) = delete;
    SqliteBackend& operator=(const SqliteBackend&) = delete;

    std::vector<ColumnDescription> readTable(const std::string& table, RowSink& rows) override;
    std::vector<ColumnDescription> readCommand(const std::string& commandText, RowSink& rows) override;
    std::int64_t insertRow(const std::string& table, const std::vector<std::pair<std::string, Value>>& values) override;
    void beginTransaction() override;
    void commit() override;
    void rollback() override;
    void setCommandTimeout(int seconds) override { m_commandTimeout = seconds; }

    // Runs statements that return no rows (schema set-up by tools and tests).
    void execute(const std::string& sql) override;
    std::vector<std::string> tableNames() override;
    std::unique_ptr<RowWriter> prepareInsert(const std::string& table,
                                             const std::vector<std::string>& columns) override;
    ResultSet query(const std::string& sql, const std::vector<Value>& parameters) override;
    std::int64_t update(const std::string& sql, const std::vector<Value>& parameters) override;
    // The transaction's write lock (BEGIN IMMEDIATE) already keeps every other writer out.
    void lockForWriting(std::string_view name) override;
    void createTableIfMissing(const TableDefinition& table) override;
    // The file's user_version.
    int schemaVersion() override;
    void setSchemaVersion(int version) override;

    const std::string& path() const { return m_path; }
    std::string location() const override { return m_path; }
    sqlite3* handle() const { return m_db.get(); }

private:
    struct TableInfo
    {
        bool exists = false;                           // the database has a table of that name
        std::string rowidAlias;                        // the INTEGER PRIMARY KEY column, empty when none
        std::unordered_map<std::string, int> decimals; // BCD columns' scales, by lower-case name
        std::unordered_set<std::string> binaries;      // columns declared binary, by lower-case name

        int scaleOf(const std::string& column) const; // -1 when not a BCD column
    };

    SqliteStatement prepareCommand(const std::string& commandText);
    // One statement with its parameters bound; the values must outlive its steps.
    SqliteStatement prepareWithParameters(const std::string& sql, const std::vector<Value>& parameters);
    std::vector<ColumnDescription> read(sqlite3_stmt* statement, std::string_view commandText, RowSink& rows);
    void refreshTableCache();
    const TableInfo& tableInfo(const std::string& table); // after refreshTableCache()
    class CommandClock;

    SqliteStatement prepare(std::string_view sql);
    [[noreturn]] void fail(std::string_view context) const;
    [[noreturn]] void fail(std::string text, int resultCode) const;

    // Before the handle: its handlers point here until it is closed.
    CommandDeadline m_deadline;
    SqliteHandle m_db;
    std::string m_path;
    int m_commandTimeout = DefaultCommandTimeoutSeconds;
    int m_commandDepth = 0; // a command that runs others (openTable runs readTable) keeps its own deadline
    bool m_inTransaction = false;
    int m_schemaVersion = -1;
    std::unordered_map<std::string, TableInfo> m_tables;        // by lower-case name
    std::unordered_map<std::string, SqliteStatement> m_inserts; // by statement text
    SqliteStatement m_schemaVersionQuery;
};

// Switches the database to write-ahead logging, so several processes can use
// the file at once. A connect never does this (it must not change the file);
// the tool that creates a database does.
void useWriteAheadLog(sqlite3* db);

// Switches the open database file at `path` to write-ahead logging when it uses another journal and can change:
// no other connection has it open, the file may be written, and its folder takes the log's two files (without
// them the file would no longer open at all). A switch that cannot be made leaves the file as it was; never
// throws. True when the file uses the write-ahead log afterwards.
bool switchToWriteAheadLog(sqlite3* db, const std::string& path);

// Creates a new, empty database file (failing when the path exists) in
// write-ahead-log mode with the busy time-out of every connection.
std::unique_ptr<SqliteBackend> createDatabaseFile(const std::string& path);

class TemporaryFile;

// A new database file made under a temporary name beside `path` (in write-ahead-log mode, shared with the folder's
// group where the folder is set-group-ID, as createDatabaseFile makes one), which takes the name `path` only when
// publish() is called: a program interrupted before leaves nothing that could be taken for a complete database.
class PendingDatabaseFile
{
public:
    explicit PendingDatabaseFile(const std::string& path);
    ~PendingDatabaseFile();
    PendingDatabaseFile(const PendingDatabaseFile&) = delete;
    PendingDatabaseFile& operator=(const PendingDatabaseFile&) = delete;

    // The new database, open until publish(); its location() is the final path.
    SqliteBackend& backend() { return *m_backend; }
    // Closes the database and gives the file its name, never over a file that took the name meanwhile
    // (DatabaseError "'<path>' already exists; <refusal>").
    void publish(const std::string& refusal);

private:
    std::string m_path;
    std::unique_ptr<TemporaryFile> m_file;
    std::unique_ptr<SqliteBackend> m_backend;
    unsigned m_mode = 0644;
};

// The cause of a failure SQLite reported with this (extended) result code.
ErrorCause sqliteCause(int resultCode);

// What in the file system keeps this process from using the database file at `path` as SQLite must: reading and
// writing the file, and writing its companions beside it (the write-ahead log's "-wal" and "-shm", or the
// rollback journal's "-journal"), which means creating them in the folder when they are not there. One clause
// per problem, naming the file or folder and what is missing; empty when there is none.
std::string storagePermissionProblem(const std::string& path);

// The failure SQLite reported with this result code, worded as a permission problem when storagePermissionProblem
// finds one behind it: "Could not use '<path>': permission denied: …". Nothing when it finds none.
std::optional<DatabaseError> permissionFailure(const std::string& path, int resultCode);

// Every connection waits this long for another process's lock.
inline constexpr int BusyTimeoutMs = 5000;

// Makes the connection wait up to BusyTimeoutMs for a lock, trying again about every millisecond. SQLite's
// own time-out backs off to 100 ms between tries and so can miss every short gap between the transactions
// of a till that writes again and again, until it runs out; frequent tries find those gaps. With a deadline,
// the wait also ends there when the command's time-out comes first.
void setBusyTimeout(sqlite3* db, CommandDeadline* deadline = nullptr);

} // namespace velmora::data
