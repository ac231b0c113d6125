#pragma once

#include "data/Backend.h"
#include "import/Source.h"
#include "import/TargetType.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::transfer {

struct TableSummary
{
    std::string source; // the Access table
    std::string target; // the table its rows went into
    bool schemaTable = false;
    bool created = false; // a copy the import made
    std::int64_t rowsRead = 0;
    std::int64_t rowsWritten = 0;
    std::vector<std::string> addedColumns;   // "name TYPE", added to a table that lacked them
    std::vector<std::string> missingColumns; // the target's columns the Access table lacks
    std::vector<std::string> primaryKey;     // of a table the import made, as the Access table had it
};

struct ImportSummary
{
    std::string source;                           // what the rows came from
    std::string target;                           // where they went (no password)
    std::vector<std::string> schemaTablesCreated; // schema tables the target lacked
    std::vector<TableSummary> tables;
    std::vector<access::LinkedTable> linkedTables; // not imported: their rows live elsewhere
    std::vector<std::string> warnings;             // what the source gave reason to doubt
};

// Told how far the import is: at least once a second while a table's rows are written, and when it is done.
// Asked, row by row, whether the import must stop (an interrupted program): the import then fails as on any
// error, all or nothing.
class ImportProgress
{
public:
    virtual ~ImportProgress() = default;
    virtual void tableProgress(const std::string& table, std::int64_t done, std::int64_t total, bool finished) = 0;
    // Why the import must stop now ("interrupted by SIGTERM"); empty to go on.
    virtual std::string interruption() const { return {}; }
};

// Rows go to the database in batches of this many rows, or fewer when their values are large.
inline constexpr std::size_t BatchRows = 2000;
inline constexpr std::size_t BatchBytes = 8 << 20;

// The import into an open backend, inside the transaction the caller holds: refuses a target whose tables it
// would fill hold rows, or stamped with a newer schema than this program knows, makes the schema's tables the target
// lacks, the copied tables and the added columns, writes every row, on the server moves each auto-increment key's
// counter past the stored keys, and brings the target to the current schema (the tables of ours, the stamp). Throws
// ImportError (or the Access file's AccessError) and leaves the rollback to the caller.
ImportSummary importTables(const Source& source, data::Backend& target, Engine engine, ImportProgress* progress);

struct ImportTarget
{
    std::string target;                  // a database file's path, or a server's postgresql:// URI
    std::string user;                    // the server's role (empty: libpq's own default)
    std::optional<std::string> password; // the role's password, or an existing file's database password
    int commandTimeout = data::DefaultCommandTimeoutSeconds; // of each command, as Backend::setCommandTimeout
    std::string action = "imported"; // what the failure's "Nothing was ..." line says was not done
};

// The whole import, all or nothing: into a new database file (made with the schema, and removed again when the
// import fails), an existing database file or a server's database (its transaction rolled back on failure).
ImportSummary importInto(const Source& source, const ImportTarget& target, ImportProgress* progress);

} // namespace velmora::transfer
