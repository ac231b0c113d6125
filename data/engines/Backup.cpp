#include "data/engines/Backup.h"

#include "data/Errors.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SqliteBackend.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::data {

namespace {

namespace fs = std::filesystem;

std::string errnoText(int error)
{
    return std::error_code(error, std::system_category()).message();
}

// The temporary copy beside the destination. Unless kept, it goes on every way out, with any journal an
// interrupted connection left beside it, so a failed backup leaves nothing that looks like one.
class TemporaryCopy
{
public:
    explicit TemporaryCopy(const fs::path& destination)
    {
        std::string pattern = (destination.parent_path() / ("." + destination.filename().string() + ".XXXXXX"));
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            throw DatabaseError("Could not write a copy beside '" + destination.string() + "': " + errnoText(errno) +
                                ".");
        m_fd = fd;
        m_path = pattern;
    }
    ~TemporaryCopy()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_kept)
            for (const char* suffix : {"", "-journal", "-wal", "-shm"})
                ::unlink((m_path + suffix).c_str());
    }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    const std::string& path() const { return m_path; }
    int fd() const { return m_fd; }
    void keep() { m_kept = true; }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_kept = false;
};

SqliteHandle open(const std::string& path, int flags, const std::string& what)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK)
        throw DatabaseError("Could not open " + what + " '" + path +
                            "': " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)) + ".");
    sqlite3_extended_result_codes(db.get(), 1);
    setBusyTimeout(db.get());
    return db;
}

// The first line integrity_check reports: "ok" for a sound file.
std::string integrityCheck(sqlite3* db)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &raw, nullptr) != SQLITE_OK)
        return sqlite3_errmsg(db);
    SqliteStatement statement(raw);
    const int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_ROW)
        return sqlite3_errmsg(db);
    const unsigned char* text = sqlite3_column_text(statement.get(), 0);
    return text ? reinterpret_cast<const char*>(text) : "";
}

// Puts the finished copy in place; never over an existing file, which may be an earlier backup or, with the
// arguments swapped, the shop's own database.
void moveIntoPlace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return;
    int error = errno;
    // File systems without RENAME_NOREPLACE: a hard link fails just as atomically when the name is taken.
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return;
        }
        error = errno;
    }
    if (error == EEXIST)
        throw DatabaseError("'" + to + "' already exists; a backup never replaces a file.");
    throw DatabaseError("Could not name the copy '" + to + "': " + errnoText(error) + ".");
}

void syncFolder(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

std::string serverText(const std::string& uri)
{
    return "'" + redactedServerUri(uri) +
           "' is a database on a PostgreSQL server; velmora-db backs up database files only. "
           "Copy a server's database with the server's own tool, which also reads one consistent state while "
           "tills work, as a role that may read every table:\n"
           "    " +
           serverDumpCommand(uri) +
           "\n"
           "and restore it into a new, empty database with\n"
           "    " +
           serverRestoreCommand();
}

// Pages per step: small enough that the progress moves several times a second on a slow disk, large enough
// that the steps cost nothing beside the copying.
constexpr int PagesPerStep = 256;

void execute(sqlite3* db, const char* sql, const std::string& what)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw DatabaseError("Could not back up '" + what + "': " + sqlite3_errmsg(db) + ".");
}

} // namespace

std::string serverDumpCommand(const std::string& uri)
{
    return "pg_dump --format=custom --file=velmora.dump '" + redactedServerUri(uri) + "'";
}

std::string serverRestoreCommand()
{
    return "pg_restore --no-owner --dbname=DATABASE_URI velmora.dump";
}

std::string datedBackupName(const std::string& source, std::time_t when)
{
    std::tm local = {};
    ::localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", &local);
    std::string stem = fs::path(source).stem().string();
    if (stem.empty())
        stem = "velmdb";
    return stem + stamp + ".mdb";
}

BackupReport backupDatabaseFile(const std::string& source, const std::string& destination,
                                const BackupProgress& progress)
{
    if (isServerSource(source))
        throw DatabaseError(serverText(source));
    if (isServerSource(destination))
        throw DatabaseError("A backup is written to a file, not to '" + redactedServerUri(destination) + "'.");

    BackupReport report;
    // Absolute, so SQLite never reads either as a "file:" URI.
    report.source = fs::absolute(source).lexically_normal().string();
    report.destination = fs::absolute(destination).lexically_normal().string();

    // Looked at first so that opening can never create or block on anything.
    struct stat sourceStatus = {};
    if (::stat(report.source.c_str(), &sourceStatus) != 0)
        throw DatabaseError(errno == ENOENT ? "Could not find file '" + report.source + "'."
                                            : "Could not use '" + report.source + "': " + errnoText(errno) + ".");
    if (!S_ISREG(sourceStatus.st_mode))
        throw DatabaseError("'" + report.source + "' is not a database file.");
    if (sourceStatus.st_size == 0)
        throw DatabaseError("'" + report.source + "' is empty: there is no database to back up.");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(report.destination, ec)))
        throw DatabaseError("'" + report.destination + "' already exists; a backup never replaces a file.");

    TemporaryCopy copy{fs::path(report.destination)};
    {
        // No CREATE: a mistyped source must not become an empty database. A write-protected file opens for
        // reading.
        SqliteHandle from = open(report.source, SQLITE_OPEN_READWRITE, "the database");
        SqliteHandle to = open(copy.path(), SQLITE_OPEN_READWRITE, "the copy");
        // One read transaction held over every step: the copy is one committed state of the database and never
        // starts over when a till writes meanwhile. The source's busy handler waits out a lock. Reading the
        // schema cookie begins it without parsing the schema, so a damaged one is copied and then found by the
        // integrity check, like any other damage.
        execute(from.get(), "BEGIN", report.source);
        struct EndRead
        {
            sqlite3* db;
            ~EndRead() { sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr); }
        } endRead{from.get()};
        execute(from.get(), "PRAGMA schema_version", report.source);

        sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
        if (!backup)
            throw DatabaseError("Could not back up '" + report.source + "': " + sqlite3_errmsg(to.get()) + ".");
        int stepped = SQLITE_OK;
        bool cancelled = false;
        while (stepped == SQLITE_OK) {
            stepped = sqlite3_backup_step(backup, PagesPerStep);
            const std::int64_t total = sqlite3_backup_pagecount(backup);
            if (progress && (stepped == SQLITE_OK || stepped == SQLITE_DONE) &&
                !progress(total - sqlite3_backup_remaining(backup), total)) {
                cancelled = true;
                break;
            }
        }
        report.pages = sqlite3_backup_pagecount(backup);
        const int finished = sqlite3_backup_finish(backup);
        if (cancelled)
            throw BackupCancelled();
        if (stepped != SQLITE_DONE || finished != SQLITE_OK) {
            const int rc = stepped != SQLITE_DONE ? stepped : finished;
            const int primary = rc & 0xFF;
            std::string cause = sqlite3_errmsg(to.get());
            if (primary == SQLITE_NOTADB)
                cause = "it is not a database file";
            else if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
                cause = "file already in use";
            else if (cause.empty() || cause == "not an error")
                cause = sqlite3_errstr(rc);
            throw DatabaseError("Could not back up '" + report.source + "': " + cause + ".");
        }
    }
    {
        // Read back from the disk by a connection of its own, not from the cache that wrote it.
        SqliteHandle written = open(copy.path(), SQLITE_OPEN_READWRITE, "the copy");
        const std::string verdict = integrityCheck(written.get());
        if (verdict != "ok")
            throw DatabaseError("The copy of '" + report.source + "' failed its integrity check (" + verdict +
                                "); no backup was written.");
    }
    // The copy holds what the database holds, so no one who may not read the database may read the copy.
    if (::fchmod(copy.fd(), sourceStatus.st_mode & 0666) != 0 || ::fsync(copy.fd()) != 0)
        throw DatabaseError("Could not write the copy '" + copy.path() + "': " + errnoText(errno) + ".");
    moveIntoPlace(copy.path(), report.destination);
    copy.keep();
    syncFolder(fs::path(report.destination).parent_path());
    return report;
}

} // namespace velmora::data
