#include "data/engines/Backup.h"

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/Text.h"
#include "data/engines/NewFile.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SqliteBackend.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::data {

namespace {

namespace fs = std::filesystem;

SqliteHandle open(const std::string& path, int flags, const std::string& what, const std::string& shown = {})
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK)
        throw DatabaseError("Could not open " + what + " '" + (shown.empty() ? path : shown) +
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

// Pages per step: small enough that the progress moves several times a second on a slow disk, large enough
// that the steps cost nothing beside the copying.
constexpr int PagesPerStep = 256;

// Copies every page of the open database `from` into the (empty) file `toPath`: SQLite's online backup in steps,
// within one read transaction held over every step, so the copy is one committed state of the database and never
// starts over when a till writes meanwhile; the source's busy handler waits out a lock. Reading the schema cookie
// begins the transaction without parsing the schema, so a damaged one is copied and then found by the integrity
// check, like any other damage. `progress` returning false stops it (BackupCancelled). Returns the pages copied.
std::int64_t onlineCopy(sqlite3* from, const std::string& toPath, const std::string& sourcePath,
                        std::string_view verb = "back up", const BackupProgress& progress = {})
{
    SqliteHandle to = open(toPath, SQLITE_OPEN_READWRITE, "the copy");
    auto execute = [&](const char* sql) {
        if (sqlite3_exec(from, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw DatabaseError("Could not " + std::string(verb) + " '" + sourcePath + "': " + sqlite3_errmsg(from) +
                                ".");
    };
    execute("BEGIN");
    struct EndRead
    {
        sqlite3* db;
        ~EndRead() { sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr); }
    } endRead{from};
    execute("PRAGMA schema_version");

    sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from, "main");
    if (!backup)
        throw DatabaseError("Could not " + std::string(verb) + " '" + sourcePath + "': " + sqlite3_errmsg(to.get()) +
                            ".");
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
    const std::int64_t pages = sqlite3_backup_pagecount(backup);
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
        throw DatabaseError("Could not " + std::string(verb) + " '" + sourcePath + "': " + cause + ".");
    }
    return pages;
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

} // namespace

std::string serverDumpCommand(const std::string& uri)
{
    return "pg_dump --format=custom --file=velmora.dump '" + redactedServerUri(uri) + "'";
}

std::string serverRestoreCommand()
{
    return "pg_restore --no-owner --dbname=DATABASE_URI velmora.dump";
}

std::string localTimeStamp(std::time_t when)
{
    std::tm local = {};
    ::localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return stamp;
}

std::string datedBackupName(const std::string& source, std::time_t when)
{
    std::string stem = fs::path(source).stem().string();
    if (stem.empty())
        stem = "velmdb";
    return stem + "-" + localTimeStamp(when) + ".mdb";
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
    refuseExisting(report.destination, BackupRefusal);

    TemporaryFile copy{fs::path(report.destination)};
    {
        // No CREATE: a mistyped source must not become an empty database. A write-protected file opens for
        // reading.
        SqliteHandle from = open(report.source, SQLITE_OPEN_READWRITE, "the database");
        // A file still in rollback-journal mode would keep the tills from writing while it is copied.
        switchToWriteAheadLog(from.get(), report.source);
        report.pages = onlineCopy(from.get(), copy.path(), report.source, "back up", progress);
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
    copy.finish(sourceStatus.st_mode & 0666);
    struct stat copyStatus = {};
    report.bytes = ::fstat(copy.fd(), &copyStatus) == 0 ? copyStatus.st_size : 0;
    copy.publish(report.destination, BackupRefusal);
    return report;
}

namespace {

// A file's identity, however it is named.
struct FileId
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator<(const FileId& o) const { return std::pair(device, inode) < std::pair(o.device, o.inode); }
};

std::string processName(const std::string& pid)
{
    std::string name;
    std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
    return name.empty() ? "a process" : name;
}

// The file as an SQLite URI that opens it unchangeable (immutable=1): read without locks and without journals.
std::string immutableUri(const std::string& path)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '%' || c == '?' || c == '#' || byte < 0x20 || byte == 0x7F)
            uri += {'%', digits[byte >> 4], digits[byte & 0xF]};
        else
            uri += c;
    }
    return uri + "?immutable=1";
}

void execute(sqlite3* db, const char* sql, const std::string& what)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : sqlite3_errmsg(db);
        sqlite3_free(error);
        throw DatabaseError(what + ": " + text + ".", sqliteCause(sqlite3_extended_errcode(db)));
    }
}

// The schema's tables the database lacks, by name in any letter case.
std::vector<std::string> missingSchemaTables(sqlite3* db)
{
    std::set<std::string> present;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &raw, nullptr) == SQLITE_OK) {
        SqliteStatement names(raw);
        while (sqlite3_step(names.get()) == SQLITE_ROW)
            present.insert(text::lowerAscii(reinterpret_cast<const char*>(sqlite3_column_text(names.get(), 0))));
    }
    std::vector<std::string> missing;
    for (const TableDefinition& table : schemaTables())
        if (!present.contains(text::lowerAscii(table.name)))
            missing.emplace_back(table.name);
    return missing;
}

std::string listed(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

[[noreturn]] void refuseInUse(const std::string& target, const std::vector<std::string>& users)
{
    throw DatabaseError("Could not restore over '" + target + "': it is in use" +
                            (users.empty() ? std::string(" by another program") : " by " + listed(users)) +
                            ". Close Velmora on every till (and any other program using the file) first; nothing "
                            "was changed.",
                        ErrorKind::Locked);
}

} // namespace

std::vector<std::string> processesUsing(const std::string& path)
{
    std::set<FileId> files;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        struct stat status = {};
        if (::stat((path + suffix).c_str(), &status) == 0)
            files.insert({status.st_dev, status.st_ino});
    }
    std::vector<std::string> users;
    if (files.empty())
        return users;
    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            struct stat status = {};
            if (::stat(fd.path().c_str(), &status) == 0 && files.contains({status.st_dev, status.st_ino})) {
                users.push_back(processName(pid) + " (pid " + pid + ")");
                break;
            }
        }
    }
    return users;
}

RestoreReport restoreDatabaseFile(const std::string& backup, const std::string& target)
{
    if (isServerSource(backup))
        throw DatabaseError("A backup to restore is a file, not '" + redactedServerUri(backup) + "'.");
    if (isServerSource(target))
        throw DatabaseError("'" + redactedServerUri(target) +
                            "' is a server's database; its backups are restored "
                            "with pg_restore (velmora-db restore DUMP URI).");
    RestoreReport report;
    report.backup = fs::absolute(backup).lexically_normal().string();
    report.target = fs::absolute(target).lexically_normal().string();

    struct stat backupStatus = {};
    if (::stat(report.backup.c_str(), &backupStatus) != 0)
        throw DatabaseError(errno == ENOENT ? "Could not find file '" + report.backup + "'."
                                            : "Could not use '" + report.backup + "': " + errnoText(errno) + ".");
    if (!S_ISREG(backupStatus.st_mode) || backupStatus.st_size == 0)
        throw DatabaseError("'" + report.backup + "' is not a database file.");
    struct stat targetStatus = {};
    const bool replacing = ::lstat(report.target.c_str(), &targetStatus) == 0;
    if (replacing && !S_ISREG(targetStatus.st_mode))
        throw DatabaseError("'" + report.target + "' is not a database file; nothing was changed.");
    if (replacing && targetStatus.st_dev == backupStatus.st_dev && targetStatus.st_ino == backupStatus.st_ino)
        throw DatabaseError("'" + report.backup + "' is the database itself; nothing was changed.");

    // The tills' lock first, held to the end: no program has the file open, and none can start using it meanwhile.
    SqliteHandle held;
    if (replacing) {
        if (const std::vector<std::string> users = processesUsing(report.target); !users.empty())
            refuseInUse(report.target, users);
        held = open(report.target, SQLITE_OPEN_READWRITE, "the database");
        // Exclusive locking mode: the lock a transaction takes stays after it, and a file in write-ahead-log mode
        // is then used without the shared memory of the other connections.
        execute(held.get(), "PRAGMA locking_mode=EXCLUSIVE", "Could not lock '" + report.target + "'");
        char* error = nullptr;
        if (sqlite3_exec(held.get(), "BEGIN EXCLUSIVE; COMMIT", nullptr, nullptr, &error) != SQLITE_OK) {
            const int code = sqlite3_extended_errcode(held.get());
            const std::string text = error ? error : sqlite3_errmsg(held.get());
            sqlite3_free(error);
            if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED)
                refuseInUse(report.target, processesUsing(report.target));
            throw DatabaseError("Could not lock '" + report.target + "': " + text + "; nothing was changed.",
                                sqliteCause(code));
        }
    }

    // The backup, copied and checked beside the target before anything changes.
    TemporaryFile copy{fs::path(report.target)};
    try {
        // A backup as velmora-db writes it is one whole file: read as unchangeable, so that no journal is made beside
        // it. One with a log of its own beside it is read with the log.
        const bool ownLog = ::access((report.backup + "-wal").c_str(), F_OK) == 0;
        SqliteHandle from = ownLog ? open(report.backup, SQLITE_OPEN_READONLY, "the backup")
                                   : open(immutableUri(report.backup), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                                          "the backup", report.backup);
        report.pages = onlineCopy(from.get(), copy.path(), report.backup, "restore");
    } catch (const DatabaseError& e) {
        std::string text = e.what();
        if (!text.empty() && text.back() == '.')
            text.pop_back();
        throw DatabaseError(text + "; nothing was changed.", e.cause());
    }
    {
        SqliteHandle restored = open(copy.path(), SQLITE_OPEN_READWRITE, "the copy of the backup");
        const std::string verdict = integrityCheck(restored.get());
        if (verdict != "ok")
            throw DatabaseError("The backup '" + report.backup + "' failed its integrity check (" + verdict +
                                    "); nothing was changed.",
                                ErrorKind::Damaged);
        if (const std::vector<std::string> missing = missingSchemaTables(restored.get()); !missing.empty())
            throw DatabaseError("The backup '" + report.backup + "' is no Velmora database: it lacks the table" +
                                    (missing.size() == 1 ? " " : "s ") + listed(missing) + "; nothing was changed.",
                                ErrorKind::Damaged);
        // Several tills share the restored file as they shared the one it replaces.
        useWriteAheadLog(restored.get());
    } // closing the last connection folds its log into the file and removes it
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        ::unlink((copy.path() + suffix).c_str());

    // The target's owner and permissions, or, for a new file, the backup's permission bits.
    const mode_t mode = (replacing ? targetStatus.st_mode : backupStatus.st_mode) & 0666;
    if (::fchmod(copy.fd(), mode) != 0)
        throw DatabaseError("Could not set the permissions of '" + copy.path() + "': " + errnoText(errno) + ".");
    if (replacing && (targetStatus.st_uid != ::geteuid() || targetStatus.st_gid != ::getegid()) &&
        ::fchown(copy.fd(), targetStatus.st_uid, targetStatus.st_gid) != 0 && ::geteuid() == 0)
        throw DatabaseError("Could not give '" + copy.path() + "' the owner of '" + report.target +
                            "': " + errnoText(errno) + ".");
    if (::fsync(copy.fd()) != 0)
        throw DatabaseError("Could not write '" + copy.path() + "': " + errnoText(errno) + ".");

    if (!replacing) {
        copy.publish(report.target, "nothing was changed.");
        return report;
    }

    // The old file, whole: what its log holds goes into it, and it leaves write-ahead-log mode, so that neither
    // its log nor closing it later touches the journal names the restored file will use.
    execute(held.get(), "PRAGMA wal_checkpoint(TRUNCATE)", "Could not fold the log of '" + report.target + "'");
    execute(held.get(), "PRAGMA journal_mode=DELETE", "Could not fold the log of '" + report.target + "'");
    for (int attempt = 0;; ++attempt) {
        report.kept = report.target + ".before-restore-" + localTimeStamp(std::time(nullptr)) +
                      (attempt ? "-" + std::to_string(attempt) : "");
        if (::link(report.target.c_str(), report.kept.c_str()) == 0)
            break;
        if (errno != EEXIST || attempt >= 100)
            throw DatabaseError("Could not keep '" + report.target + "' as '" + report.kept + "': " + errnoText(errno) +
                                "; nothing was changed.");
    }
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        ::unlink((report.target + suffix).c_str());
    if (::rename(copy.path().c_str(), report.target.c_str()) != 0) {
        const int error = errno;
        ::unlink(report.kept.c_str());
        throw DatabaseError("Could not put the backup in place of '" + report.target + "': " + errnoText(error) +
                            "; the database is as it was.");
    }
    copy.keep();
    syncFolder(fs::path(report.target).parent_path());
    return report;
}

} // namespace velmora::data
