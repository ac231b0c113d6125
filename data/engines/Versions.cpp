#include "data/engines/Versions.h"

#include <libpq-fe.h>
#include <sqlite3.h>

namespace velmora::data {

std::string sqliteLibraryVersion()
{
    return sqlite3_libversion();
}

std::string libpqLibraryVersion()
{
    // PQlibVersion: major * 10000 + minor from version 10 on.
    const int version = PQlibVersion();
    return std::to_string(version / 10000) + "." + std::to_string(version % 10000);
}

} // namespace velmora::data
