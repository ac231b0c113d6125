#pragma once

#include "data/Backend.h"
#include "data/Errors.h"

#include <string>
#include <vector>

// Which schema a database has, so that programs of two versions never write past each other: every database this
// program makes is stamped with CurrentSchemaVersion (data/Backend.h); a database stamped newer is refused before
// anything is written to it; an older or unstamped one is brought up to date by upgradeSchema (velmora-db upgrade),
// the one place every later change of the schema of ours goes through.
namespace velmora::data {

// The refusal of a database stamped with `version`, newer than this program knows: a Chinese message naming both
// versions and what to do (ErrorKind::Unsupported).
DatabaseError newerSchemaError(int version, const std::string& location);

// Throws newerSchemaError when the database is stamped newer than CurrentSchemaVersion.
void refuseNewerSchema(Backend& db);

struct SchemaUpgrade
{
    int from = 0;                   // the version it was stamped with (0: never)
    int to = 0;                     // the version it is stamped with now
    std::vector<std::string> steps; // what was made, one line each; none when it was current
};

// Brings the database to CurrentSchemaVersion inside the caller's transaction: each step of ours the database
// lacks (every one may find its work done already: a table made on first use, a copy that brought it), then the
// stamp. A current database is left as it is; a newer one is refused (newerSchemaError).
SchemaUpgrade upgradeSchema(Backend& db);

} // namespace velmora::data
