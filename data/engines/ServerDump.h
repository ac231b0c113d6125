#pragma once

#include "data/engines/Backup.h"

#include <optional>
#include <string>

// A server's database backed up and restored with the server's own tools, pg_dump and pg_restore: they read one
// consistent state while tills work, and know every kind of object a database can hold.
namespace velmora::data {

// A server's database and the role to reach it as.
struct ServerLogin
{
    std::string uri;                     // postgresql://HOST:PORT/DATABASE
    std::string user;                    // empty: libpq's own default
    std::optional<std::string> password; // none: libpq's own (PGPASSWORD, ~/.pgpass)
};

// Writes a pg_dump custom-format archive of the database to the new file `destination`: written beside it under
// a temporary name, read back whole by pg_restore --list, and only then given its name; on any failure nothing is
// left. An existing destination is never replaced. The archive is readable by its owner and the folder's group
// only. Throws DatabaseError with the tool's own message.
BackupReport dumpServerDatabase(const ServerLogin& server, const std::string& destination);

// Restores a pg_dump custom-format archive into the server's database, which must hold no tables or views: in one
// transaction (pg_restore --single-transaction), objects owned by the role that restores them. On any failure the
// database stays empty. Throws DatabaseError with the tool's own message.
RestoreReport restoreServerDatabase(const std::string& archive, const ServerLogin& server);

// Whether the file begins as a pg_dump custom-format archive does ("PGDMP").
bool isServerArchive(const std::string& path);

} // namespace velmora::data
