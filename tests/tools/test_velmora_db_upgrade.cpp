// The schema version, on a file and on the server: what velmora-db makes is stamped with the current version; an
// older database (the twelve tables alone, as earlier versions made them and as `schema` prints them) is upgraded
// once, after a backup, and a second upgrade changes nothing; a database stamped newer than the tool knows is
// refused by every command that would write to it, nothing written.

#include "data/Backend.h"
#include "tests/support/BackendTest.h"
#include "tests/support/VelmoraDb.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

using namespace velmora::data;
using namespace velmora::test;

namespace {

namespace fs = std::filesystem;

class SchemaVersionTest : public BackendTest
{
protected:
    // The command on this test's database, run in a folder of the test's own (where a server's backup goes).
    ToolRun on(const std::string& command, const std::vector<std::string>& arguments = {}) const
    {
        std::string line = "cd " + shellQuote(work.path().string()) + " && " +
                           shellQuote(std::string(VELMORA_BIN_DIR) + "/velmora-db") + " " + shellQuote(command);
        const std::vector<std::string> target = db->toolTarget();
        line += " " + shellQuote(target.front());
        for (const std::string& word : arguments)
            line += " " + shellQuote(word);
        for (std::size_t i = 1; i < target.size(); ++i)
            line += " " + shellQuote(target[i]);
        return runShell(line + " </dev/null");
    }

    // The backups made before a change: beside a file, in the working folder for a server.
    std::set<std::string> backups() const
    {
        std::set<std::string> found;
        for (const fs::path& folder : {work.path(), fs::path(db->path()).parent_path()})
            if (fs::is_directory(folder))
                for (const auto& entry : fs::directory_iterator(folder))
                    if (entry.path().filename().string().find("before-upgrade") != std::string::npos)
                        found.insert(entry.path().filename().string());
        return found;
    }

    long long ourTables()
    {
        return db->number(onServer() ? "select count(*) from pg_tables where tablename in ('velmora_signon_attempts', "
                                       "'velmora_operator_state')"
                                     : "select count(*) from sqlite_master where name in ('velmora_signon_attempts', "
                                       "'velmora_operator_state')");
    }

    TempFolder work;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(SchemaVersionTest);

TEST_P(SchemaVersionTest, CreateStampsTheCurrentVersion)
{
    const ToolRun run = on("create");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(db->schemaVersion(), CurrentSchemaVersion);
    EXPECT_EQ(ourTables(), 2);
}

TEST_P(SchemaVersionTest, AnOlderDatabaseIsUpgradedOnceAfterABackup)
{
    db->run(db->schema());
    db->run("INSERT INTO oper (\"登录时间\", userid) VALUES ('2024-01-02 08:00:00', '1')");
    ASSERT_EQ(db->schemaVersion(), 0);

    const ToolRun first = on("upgrade");
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_NE(first.output.find("from schema version 0 to " + std::to_string(CurrentSchemaVersion)), std::string::npos)
        << first.output;
    EXPECT_NE(first.output.find("made the table velmora_signon_attempts"), std::string::npos) << first.output;
    EXPECT_EQ(db->schemaVersion(), CurrentSchemaVersion);
    EXPECT_EQ(ourTables(), 2);
    EXPECT_EQ(db->number("select count(*) from oper"), 1) << "the upgrade keeps every row";
    const std::set<std::string> made = backups();
    ASSERT_EQ(made.size(), 1u) << first.output;
    EXPECT_NE(first.output.find(*made.begin()), std::string::npos) << first.output;

    const ToolRun second = on("upgrade");
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find("nothing was changed"), std::string::npos) << second.output;
    EXPECT_EQ(backups(), made) << "no second backup";
    EXPECT_EQ(db->schemaVersion(), CurrentSchemaVersion);
}

// A database that gained the tables of ours on first use (a till signed on before any upgrade) is stamped without
// them being made again.
TEST_P(SchemaVersionTest, AnUpgradeFindsTheTablesMadeOnFirstUse)
{
    ASSERT_EQ(on("create").status, 0);
    db->stampSchemaVersion(1);
    const ToolRun run = on("upgrade");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("only its version was stamped"), std::string::npos) << run.output;
    EXPECT_EQ(db->schemaVersion(), CurrentSchemaVersion);
}

TEST_P(SchemaVersionTest, ANewerDatabaseIsRefusedAndNothingIsWritten)
{
    ASSERT_EQ(on("create").status, 0);
    db->stampSchemaVersion(CurrentSchemaVersion + 1);
    const long long operators = db->number("select count(*) from \"OperatorTable\"");
    const std::string newer = std::to_string(CurrentSchemaVersion + 1);
    const std::string known = std::to_string(CurrentSchemaVersion);
    for (const auto& [command, arguments] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"upgrade", {}},
             {"add-operator",
              {"--username", "clerk", "--userid", "2", "--password", "Till-pass-5678", "--groups", "0"}}}) {
        SCOPED_TRACE(command);
        const ToolRun run = on(command, arguments);
        EXPECT_EQ(run.status, 1) << run.output;
        for (const std::string& part : {"数据库的结构版本是 " + newer, "本程序所知的版本 " + known})
            EXPECT_NE(run.output.find(part), std::string::npos) << run.output << "\nlacks: " << part;
    }
    EXPECT_EQ(db->number("select count(*) from \"OperatorTable\""), operators);
    EXPECT_EQ(db->schemaVersion(), CurrentSchemaVersion + 1);
    EXPECT_TRUE(backups().empty());

    // Nor are rows copied into it.
    TempFolder other;
    const std::string file = other.file("velmdb.mdb");
    ASSERT_EQ(runVelmoraDb({"create", file}).status, 0);
    std::vector<std::string> words{"copy", file};
    const std::vector<std::string> target = db->toolTarget();
    words.insert(words.end(), target.begin(), target.end());
    const ToolRun copied = runVelmoraDb(words);
    EXPECT_EQ(copied.status, 1) << copied.output;
    EXPECT_NE(copied.output.find("数据库的结构版本是 " + newer), std::string::npos) << copied.output;
}

// What import and copy make is stamped too.
TEST_P(SchemaVersionTest, ImportAndCopyStampTheirTarget)
{
    std::vector<std::string> words{"import", std::string(VELMORA_TEST_DATA) + "/nwind.mdb"};
    const std::vector<std::string> target = db->toolTarget();
    words.insert(words.end(), target.begin(), target.end());
    const ToolRun imported = runVelmoraDb(words);
    ASSERT_EQ(imported.status, 0) << imported.output;
    EXPECT_EQ(db->schemaVersion(), CurrentSchemaVersion);
    EXPECT_EQ(ourTables(), 2);

    TempFolder other;
    const std::string copy = other.file("copy.mdb");
    std::vector<std::string> back{"copy", target.front(), copy};
    if (onServer())
        back.insert(back.end(), {"--source-user", target[2], "--source-password", target[4]});
    const ToolRun copied = runVelmoraDb(back);
    ASSERT_EQ(copied.status, 0) << copied.output;
    EXPECT_EQ(rowsOfFile(copy, "PRAGMA user_version").at(0).at(0), std::to_string(CurrentSchemaVersion));
    EXPECT_EQ(rowsOfFile(copy, "SELECT count(*) FROM sqlite_master WHERE name = 'velmora_schema_version'").at(0).at(0),
              "0")
        << "a file keeps its version in its header, not in the server's table";
}

} // namespace
