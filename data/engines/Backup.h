#pragma once

#include <cstdint>
#include <string>

namespace velmora::data {

struct BackupReport
{
    std::string source;      // the database file, absolute
    std::string destination; // the copy, absolute
    std::int64_t pages = 0;  // pages in the copy
};

// Copies the database file `source` to the new file `destination` while tills may go on using it: SQLite's online
// backup reads one consistent state of the database (every transaction committed before the copy began, none
// half), never the bytes of a file in use. The copy is written to a temporary file beside `destination`, must
// pass an integrity check, and only then takes the name `destination`; on any failure nothing is left behind.
// An existing `destination` is never replaced. The copy gets the source's permission bits.
// Throws DatabaseError naming the cause; for a server's URI, one that says how to copy a server's database.
BackupReport backupDatabaseFile(const std::string& source, const std::string& destination);

} // namespace velmora::data
