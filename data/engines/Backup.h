#pragma once

#include "data/Errors.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace velmora::data {

// Why a backup (a copy of the file, a server's archive) refuses a name that is taken.
inline constexpr const char* BackupRefusal = "a backup never replaces a file.";

struct BackupReport
{
    std::string source;      // the database file, absolute
    std::string destination; // the copy, absolute
    std::int64_t pages = 0;  // pages in the copy (a database file's)
    std::int64_t bytes = 0;  // the copy's size
};

// Told how far a backup is: pages copied of the pages to copy; once every page is copied (done == total) the
// integrity check of the copy follows. Returning false stops the backup (BackupCancelled), leaving nothing behind.
using BackupProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// A backup stopped by its progress callback.
class BackupCancelled : public DatabaseError
{
public:
    BackupCancelled() : DatabaseError("The backup was stopped; no copy was written.") {}
};

// Copies the database file `source` to the new file `destination` while tills may go on using it: SQLite's online
// backup reads one consistent state of the database (every transaction committed before the copy began, none
// half), never the bytes of a file in use. The copy is written to a temporary file beside `destination`, must
// pass an integrity check, and only then takes the name `destination`; on any failure nothing is left behind.
// An existing `destination` is never replaced. The copy gets the source's permission bits.
// Throws DatabaseError naming the cause; for a server's URI, one that says how to copy a server's database.
// The copy is made in steps, within one read transaction of the source, so the progress can be told and the copy
// never starts over when a till writes meanwhile.
BackupReport backupDatabaseFile(const std::string& source, const std::string& destination,
                                const BackupProgress& progress = {});

// The name a backup of `source` made at `when` (local time) takes in its folder: the source's name without its
// extension, the date and time, and ".mdb" ("velmdb-20261211-081500.mdb"); the daily backup names its copies alike.
std::string datedBackupName(const std::string& source, std::time_t when);
// YYYYMMDD-HHMMSS in local time, as the names of the copies carry it.
std::string localTimeStamp(std::time_t when);

// How a database on a PostgreSQL server is copied and restored instead: the server's own pg_dump and pg_restore
// command lines for the URI (its password left out).
std::string serverDumpCommand(const std::string& uri);
std::string serverRestoreCommand();

struct RestoreReport
{
    std::string backup; // the copy restored, absolute
    std::string target; // the database file, absolute
    std::string kept;   // what the target was before, kept under a name of its own; empty for a new target
    std::int64_t pages = 0;
};

// Puts the backup `backup` in place of the database file `target`. Refused while any program has the target open:
// the processes this machine shows using it are named, and the engine's exclusive lock is taken before anything
// else and held to the end, so that no till can start meanwhile. The backup is copied beside the target and must
// pass an integrity check and hold the schema's tables before anything changes; the target, with every transaction
// its write-ahead log held, is kept as `<target>.before-restore-YYYYMMDD-HHMMSS`; the copy then takes the target's
// name in one rename, with the target's owner and permissions, in write-ahead-log mode and with no journal of the
// old file left beside it. A target that does not exist is simply made. Throws DatabaseError naming the cause; on
// a failure before the rename the target is as it was.
RestoreReport restoreDatabaseFile(const std::string& backup, const std::string& target);

// The processes other than this one that have the file (or its journals) open, as "name (pid N)"; those this
// machine shows, which may not be every one.
std::vector<std::string> processesUsing(const std::string& path);

} // namespace velmora::data
