// A database file's set-up: the busy wait every connection shares, the write-ahead log, and a new file made whole
// before it takes its name.
#include "data/engines/SqliteBackend.h"

#include "data/Errors.h"
#include "data/Text.h"
#include "data/engines/NewFile.h"
#include "data/engines/SharedStorage.h"

#include <sqlite3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace velmora::data {

namespace {

int retryOften(void* context, int tries)
{
    // One thread waits for one lock at a time: the wait starts at its first try.
    thread_local std::chrono::steady_clock::time_point start;
    thread_local std::minstd_rand jitter(std::random_device{}());
    const auto now = std::chrono::steady_clock::now();
    if (tries == 0)
        start = now;
    if (auto* deadline = static_cast<CommandDeadline*>(context); deadline && deadline->running && now >= deadline->at) {
        deadline->expired = true;
        deadline->waitedForLock = true;
        return 0;
    }
    if (now - start >= std::chrono::milliseconds(BusyTimeoutMs))
        return 0;
    // Jitter keeps two waiting tills from trying in step with each other.
    std::this_thread::sleep_for(std::chrono::microseconds(500 + jitter() % 1000));
    return 1;
}

} // namespace

void setBusyTimeout(sqlite3* db, CommandDeadline* deadline)
{
    sqlite3_busy_handler(db, retryOften, deadline);
}

void useWriteAheadLog(sqlite3* db)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &raw, nullptr) != SQLITE_OK)
        throw DatabaseError(sqlite3_errmsg(db), sqliteCause(sqlite3_extended_errcode(db)));
    SqliteStatement s(raw);
    if (sqlite3_step(s.get()) != SQLITE_ROW)
        throw DatabaseError(sqlite3_errmsg(db), sqliteCause(sqlite3_extended_errcode(db)));
    const unsigned char* mode = sqlite3_column_text(s.get(), 0);
    if (!mode || !text::equalsIgnoreCase(reinterpret_cast<const char*>(mode), "wal"))
        throw DatabaseError("The database cannot use a write-ahead log.", ErrorKind::Unsupported);
}

bool switchToWriteAheadLog(sqlite3* db, const std::string& path)
{
    const auto journalMode = [db]() -> std::string {
        sqlite3_stmt* raw = nullptr;
        std::string mode;
        if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &raw, nullptr) == SQLITE_OK) {
            SqliteStatement s(raw);
            if (sqlite3_step(s.get()) == SQLITE_ROW && sqlite3_column_text(s.get(), 0))
                mode = text::lowerAscii(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)));
        }
        return mode;
    };
    const std::string mode = journalMode();
    if (mode == "wal")
        return true;
    // An in-memory or temporary database, or a file this process may not change.
    if (mode.empty() || mode == "memory" || mode == "off" || sqlite3_db_readonly(db, "main") != 0)
        return false;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (::access(folder.c_str(), W_OK | X_OK) != 0 || ::access(path.c_str(), W_OK) != 0)
        return false;
    // Fails with "database is locked" while another connection has the file open; that till's next start
    // switches it. No busy wait: the switch is only worth a moment.
    sqlite3_busy_handler(db, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    const bool switched = journalMode() == "wal";
    setBusyTimeout(db);
    return switched;
}

namespace {

// The absolute path of a database about to be made; refused when something is there already, or when the folder
// is on a network share.
std::string newDatabasePath(const std::string& givenPath)
{
    // An absolute path is never read as a "file:" URI.
    const std::string path = std::filesystem::absolute(givenPath).lexically_normal().string();
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
        throw DatabaseError("Database '" + path + "' already exists.", ErrorKind::Other);
    if (std::optional<DatabaseError> shared = networkStorageFailure(path))
        throw *shared;
    return path;
}

// The new database's file opened at `file` (the database itself, or the temporary file it is made in), set up as
// every new database is; errors name `path`.
SqliteHandle openNewDatabase(const std::string& path, const std::string& file, int flags)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK)
        throw DatabaseError("Could not create database '" + path +
                                "': " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)),
                            sqliteCause(raw ? sqlite3_extended_errcode(raw) : rc));
    setBusyTimeout(db.get());
    sqlite3_extended_result_codes(db.get(), 1);
    useWriteAheadLog(db.get());
    return db;
}

} // namespace

std::unique_ptr<SqliteBackend> createDatabaseFile(const std::string& givenPath)
{
    const std::string path = newDatabasePath(givenPath);
    SqliteHandle db = openNewDatabase(path, path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // A folder whose new files take its group (set-group-ID) is shared by that group's operators: each of them
    // writes to the file, and SQLite gives its journals the file's mode. Anyone else is kept out.
    struct stat folder = {};
    const std::string parent = std::filesystem::path(path).parent_path().string();
    if (::stat(parent.c_str(), &folder) == 0 && (folder.st_mode & S_ISGID) && ::chmod(path.c_str(), 0660) != 0) {
        ::unlink(path.c_str());
        throw DatabaseError("Could not share database '" + path + "' with the group of its folder.",
                            ErrorCause(ErrorKind::Permission));
    }
    return std::make_unique<SqliteBackend>(std::move(db), path);
}

namespace {

// The process's file creation mask, read without changing it (umask() can only set it, and setting it twice would
// race with other threads making files).
mode_t currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

} // namespace

PendingDatabaseFile::PendingDatabaseFile(const std::string& givenPath) : m_path(newDatabasePath(givenPath))
{
    m_file = std::make_unique<TemporaryFile>(m_path);
    SqliteHandle db = openNewDatabase(m_path, m_file->path(), SQLITE_OPEN_READWRITE);
    // As SQLite makes a new file; in a folder whose new files take its group, that group's to share.
    struct stat folder = {};
    m_mode = 0644 & ~currentUmask();
    if (::stat(std::filesystem::path(m_path).parent_path().c_str(), &folder) == 0 && (folder.st_mode & S_ISGID))
        m_mode = 0660;
    m_backend = std::make_unique<SqliteBackend>(std::move(db), m_path);
}

PendingDatabaseFile::~PendingDatabaseFile()
{
    m_backend.reset(); // before its file goes
}

void PendingDatabaseFile::publish(const std::string& refusal)
{
    // Closing the last connection folds the log into the file and removes it.
    m_backend.reset();
    for (const char* suffix : {"-wal", "-shm"})
        ::unlink((m_file->path() + suffix).c_str());
    m_file->finish(m_mode);
    m_file->publish(m_path, refusal);
}

} // namespace velmora::data
