#include "data/module/SchemaVersion.h"

#include "data/Schema.h"
#include "data/Text.h"
#include "data/module/Operators.h"
#include "data/module/SignOnAttempts.h"

#include <functional>

namespace velmora::data {

namespace {

// A step of the schema: the version it brings the database to and what it does, given the tables there before it,
// returning a line for each thing it made.
struct Step
{
    int version;
    std::function<void(Backend&, const std::vector<std::string>&, std::vector<std::string>&)> apply;
};

void makeMissing(const std::vector<std::string>& tables, std::string_view table, const std::function<void()>& make,
                 std::vector<std::string>& made)
{
    if (listsTable(tables, table))
        return;
    make();
    made.push_back("made the table " + std::string(table));
}

const Step Steps[] = {
    // The twelve tables, as every version made them (found in any letter case).
    {1,
     [](Backend& db, const std::vector<std::string>& tables, std::vector<std::string>& made) {
         for (const TableDefinition& table : schemaTables())
             makeMissing(
                 tables, table.name, [&] { db.createTableIfMissing(table); }, made);
     }},
    // The record of sign-on attempts and the disabled operators.
    {2,
     [](Backend& db, const std::vector<std::string>& tables, std::vector<std::string>& made) {
         makeMissing(
             tables, SignOnAttemptTableName, [&] { ensureSignOnAttemptTable(db); }, made);
         makeMissing(
             tables, OperatorStateTableName, [&] { ensureOperatorStateTable(db); }, made);
     }},
};

static_assert(std::size(Steps) == CurrentSchemaVersion, "a step for every version");

} // namespace

DatabaseError newerSchemaError(int version, const std::string& location)
{
    return DatabaseError("数据库的结构版本是 " + std::to_string(version) + "，比本程序所知的版本 " +
                             std::to_string(CurrentSchemaVersion) +
                             " 新。\n它是由更新版本的 Velmora 建立或升级的。请先把这台电脑上的 Velmora 升级到新版本，"
                             "再使用这个数据库；本程序没有写入任何内容。\n(The schema of '" +
                             location + "' is version " + std::to_string(version) +
                             "; this program knows versions up to " + std::to_string(CurrentSchemaVersion) + ".)",
                         ErrorKind::Unsupported);
}

void refuseNewerSchema(Backend& db)
{
    if (const int version = db.schemaVersion(); version > CurrentSchemaVersion)
        throw newerSchemaError(version, db.location());
}

SchemaUpgrade upgradeSchema(Backend& db)
{
    SchemaUpgrade upgrade;
    upgrade.from = db.schemaVersion();
    upgrade.to = upgrade.from;
    if (upgrade.from > CurrentSchemaVersion)
        throw newerSchemaError(upgrade.from, db.location());
    if (upgrade.from == CurrentSchemaVersion)
        return upgrade;
    // An unstamped database (0) goes through every step.
    for (const Step& step : Steps)
        if (step.version > upgrade.from)
            step.apply(db, db.tableNames(), upgrade.steps);
    db.setSchemaVersion(CurrentSchemaVersion);
    upgrade.to = CurrentSchemaVersion;
    return upgrade;
}

} // namespace velmora::data
