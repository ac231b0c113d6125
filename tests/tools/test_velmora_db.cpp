// velmora-db, the set-up tool, run as a shop's administrator runs it: on a database file, and on a database of
// the test server (VELMORA_TEST_PG; those cases are skipped without it) with the server's URI in place of the file.

#include "data/module/DMod.h"
#include "data/module/OperatorPassword.h"
#include "data/module/Rights.h"
#include "tests/support/BackendTest.h"
#include "tests/support/SampleBytes.h"
#include "tests/support/VelmoraDb.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace velmora::data;
using namespace velmora::test;

namespace {

// The start-up's six datasets open on the database.
void expectTheStartupOpens(TestDatabase& db, const std::string& databasePassword = {})
{
    TDMod dmod(db.folder());
    std::string connection = db.connectionString();
    if (!databasePassword.empty())
        connection += ";Jet OLEDB:Database Password=" + databasePassword;
    dmod.ADOCON().setConnectionString(connection);
    for (const char* name : {"toper", "tuser", "typzdk", "tkc", "tbm", "tdw"}) {
        SCOPED_TRACE(name);
        EXPECT_NO_THROW(dmod.dataset(name).open());
    }
    EXPECT_EQ(dmod.tbm().fieldByName("部门名称").kind(), FieldKind::String);
    EXPECT_EQ(dmod.toper().fieldByName("operid").kind(), FieldKind::AutoInc);
}

// The same cases on a file and on the server.
class VelmoraDbTest : public BackendTest
{
protected:
    // The command on this test's database; a file is created with a database password, which every later
    // command then gives, as the server's role gives its own.
    std::vector<std::string> on(const std::string& command, std::vector<std::string> arguments = {}) const
    {
        std::vector<std::string> words{command};
        const std::vector<std::string> target = db->toolTarget();
        words.insert(words.end(), target.begin(), target.end());
        if (!db->isServer())
            words.insert(words.end(), {command == "create" ? "--password" : "--db-password", FilePassword});
        words.insert(words.end(), arguments.begin(), arguments.end());
        return words;
    }
    // The secret that opens this database.
    std::string databaseSecret() const { return db->isServer() ? db->server()->password : FilePassword; }

    static inline const std::string FilePassword = "s3cr3t-db";
};

VELMORA_INSTANTIATE_FOR_BACKENDS(VelmoraDbTest);

TEST_P(VelmoraDbTest, OperatorsRoundTripWithoutShowingPasswords)
{
    const ToolRun run = runVelmoraDb(on("create"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(db->number(db->isServer() ? "select count(*) from pg_tables where schemaname = 'public' and tablename "
                                          "not like 'velmora\\_%'"
                                        : "select count(*) from sqlite_master where type = 'table' and name not like "
                                          "'velmora\\_%' escape '\\' and name not like 'sqlite%'"),
              12);
    // and the tables of ours: the record of sign-on attempts and the disabled operators
    EXPECT_EQ(db->number(db->isServer() ? "select count(*) from pg_tables where tablename in "
                                          "('velmora_signon_attempts', 'velmora_operator_state')"
                                        : "select count(*) from sqlite_master where name in "
                                          "('velmora_signon_attempts', 'velmora_operator_state')"),
              2);
    const ToolRun admin = runVelmoraDb(
        on("add-operator", {"--username", "admin", "--userid", "1", "--password", "pw-admin-77", "--groups", "all"}));
    EXPECT_EQ(admin.status, 0) << admin.output;
    const ToolRun clerk = runVelmoraDb(
        on("add-operator", {"--username", "张三", "--userid", "12", "--password", "pw-clerk-88", "--groups", "0, 3"}));
    EXPECT_EQ(clerk.status, 0) << clerk.output;
    const ToolRun list = runVelmoraDb(on("list-operators"));
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.output, "username\tuserid\tgroups\n"
                           "admin\t1\t0,1,2,3,4,5,6\n"
                           "张三\t12\t0,3\n");
    for (const ToolRun* shown : {&run, &admin, &clerk, &list})
        for (const std::string& secret : {databaseSecret(), std::string("pw-admin-77"), std::string("pw-clerk-88")})
            EXPECT_EQ(shown->output.find(secret), std::string::npos) << secret;
}

// What the tool writes is what the login reads: the operator's row through tuser.
TEST_P(VelmoraDbTest, TheStartupOpensWhatTheToolMadeAndTheLoginReadsItsOperator)
{
    ASSERT_EQ(runVelmoraDb(on("create")).status, 0);
    ASSERT_EQ(runVelmoraDb(
                  on("add-operator", {"--username", "clerk", "--userid", "2", "--password", "5678", "--groups", "0,1"}))
                  .status,
              0);
    expectTheStartupOpens(*db, db->isServer() ? "" : FilePassword);

    TDMod dmod(db->folder());
    dmod.ADOCON().setConnectionString(db->connectionString() +
                                      (db->isServer() ? "" : ";Jet OLEDB:Database Password=" + FilePassword));
    Dataset& tuser = dmod.tuser();
    tuser.open();
    EXPECT_EQ(tuser.recordCount(), 1);
    ASSERT_TRUE(tuser.locate("username", "clerk"));
    // Stored as a tagged Argon2id hash that the login's matcher accepts.
    const std::string stored = tuser.fieldByName("passwords").asString();
    EXPECT_EQ(stored.rfind("$argon2id$", 0), 0u) << stored;
    EXPECT_LE(stored.size(), 255u);
    EXPECT_TRUE(operatorPasswordMatches(stored, "5678"));
    EXPECT_TRUE(operatorPasswordMatches(stored, " 5678\t"));
    EXPECT_FALSE(operatorPasswordMatches(stored, "5679"));
    EXPECT_FALSE(operatorPasswordMatches(stored, stored));
    EXPECT_EQ(tuser.fieldByName("UserId").asString(), "2");
    const std::int64_t word = tuser.fieldByName("able").asLargeInt();
    EXPECT_GT(word, 1'000'000'000);
    for (int g = 0; g < 7; ++g)
        EXPECT_EQ(groupGranted(word, g), g <= 1) << g;
}

// The printed schema makes a database the start-up opens: run by the plain sqlite3 tool on a file, by the
// server's administrator (psql) on the server.
TEST_P(VelmoraDbTest, PrintedSchemaMakesAWorkingDatabase)
{
    const ToolRun schema = runVelmoraDb({"schema", "--for", db->isServer() ? "postgresql" : "sqlite"});
    ASSERT_EQ(schema.status, 0) << schema.output;
    if (db->isServer()) {
        db->run(schema.output);
    } else {
        if (std::system("sqlite3 -version > /dev/null 2>&1") != 0)
            GTEST_SKIP() << "the sqlite3 tool is not installed";
        const std::string script = db->folder() + "schema.sql";
        std::ofstream(script) << schema.output;
        ASSERT_EQ(
            std::system(("sqlite3 " + shellQuote(db->path()) + " < " + shellQuote(script) + " >/dev/null").c_str()), 0);
        // Made as create makes a file: in the write-ahead log, so that a backup never keeps the tills waiting.
        EXPECT_EQ(rowsOfFile(db->path(), "PRAGMA journal_mode").at(0).at(0), "wal");
    }
    expectTheStartupOpens(*db);
}

// A database that is there already is never overwritten.
TEST_P(VelmoraDbTest, CreateRefusesADatabaseThatIsThere)
{
    std::string refusal;
    if (db->isServer()) {
        db->run("CREATE TABLE \"YdInfo\" (x integer)");
        refusal = "already holds the table YdInfo";
    } else {
        std::ofstream(db->path()) << "precious";
        refusal = "already exists";
    }
    const ToolRun run = runVelmoraDb(on("create"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(refusal), std::string::npos) << run.output;
    if (db->isServer()) {
        EXPECT_EQ(db->number("select count(*) from pg_tables where schemaname = 'public'"), 1);
    } else {
        EXPECT_EQ(bytesOfFile(db->path()), "precious");
    }
}

// A wrong database or role password is refused, and the refusal shows neither it nor the right one.
TEST_P(VelmoraDbTest, AWrongPasswordIsRefusedWithoutShowingIt)
{
    ASSERT_EQ(runVelmoraDb(on("create")).status, 0);
    const std::string wrong = "wrong-guess-41";
    std::vector<std::string> words = on("list-operators");
    words.back() = wrong; // the password given last
    const ToolRun refused = runVelmoraDb(words);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find(db->isServer() ? "password authentication failed" : db->path()), std::string::npos)
        << refused.output;
    for (const std::string& secret : {databaseSecret(), wrong})
        EXPECT_EQ(refused.output.find(secret), std::string::npos) << secret << ": " << refused.output;
}

// ---- a file only ----------------------------------------------------------------------------------------------

class VelmoraDbFileTest : public ::testing::Test
{
protected:
    TestDatabase db;
};

TEST_F(VelmoraDbFileTest, HelpNamesEveryCommand)
{
    const ToolRun run = runVelmoraDb({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* word : {"create", "add-operator", "list-operators", "--db-password", "--groups"})
        EXPECT_NE(run.output.find(word), std::string::npos) << word;
}

TEST_F(VelmoraDbFileTest, AFileCreatedOnceIsNotCreatedAgain)
{
    EXPECT_EQ(runVelmoraDb({"create", db.path()}).status, 0);
    EXPECT_EQ(runVelmoraDb({"create", db.path()}).status, 1);
}

// A protected file opens only with its password, and nothing on disk holds an operator password as text.
TEST_F(VelmoraDbFileTest, APasswordProtectedFileOpensOnlyWithItsPassword)
{
    const std::string path = db.path();
    ASSERT_EQ(runVelmoraDb({"create", path, "--password", "s3cr3t-db"}).status, 0);
    ASSERT_EQ(runVelmoraDb({"add-operator", path, "--db-password=s3cr3t-db", "--username", "admin", "--userid", "1",
                            "--password", "pw-admin-77", "--groups", "all"})
                  .status,
              0);
    ASSERT_EQ(runVelmoraDb({"add-operator", path, "--db-password", "s3cr3t-db", "--username", "clerk", "--userid", "2",
                            "--password", "pw-clerk-88", "--groups", "0"})
                  .status,
              0);
    EXPECT_EQ(runVelmoraDb({"list-operators", path}).status, 1);
    const ToolRun refused = runVelmoraDb({"add-operator", path, "--db-password", "wrong-guess-41", "--username", "eve",
                                          "--userid", "3", "--password", "pw-eve-99", "--groups", "all"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find(path), std::string::npos) << refused.output;
    for (const char* secret : {"s3cr3t-db", "wrong-guess-41", "pw-eve-99"})
        EXPECT_EQ(refused.output.find(secret), std::string::npos) << secret << ": " << refused.output;

    for (const std::string& file : {path, path + "-wal"}) {
        const std::string bytes = bytesOfFile(file);
        for (const char* secret : {"pw-admin-77", "pw-clerk-88", "pw-eve-99"})
            EXPECT_EQ(bytes.find(secret), std::string::npos) << secret << " in " << file;
    }
}

TEST_F(VelmoraDbFileTest, RightsWordGrantsTheListedGroups)
{
    const ToolRun run = runVelmoraDb({"rights-word", "--groups", "2,5"});
    ASSERT_EQ(run.status, 0);
    const std::int64_t word = std::stoll(run.output);
    EXPECT_GT(word, 1'000'000'000);
    for (int g = 0; g < 7; ++g)
        EXPECT_EQ(groupGranted(word, g), g == 2 || g == 5) << g;
}

struct BadCall
{
    std::vector<std::string> arguments; // "DB" stands for a created database
    int status;
};

const BadCall badCalls[] = {
    {{}, 2},
    {{"frobnicate", "DB"}, 2},
    {{"create"}, 2},
    {{"create", "DB2", "--pasword", "x"}, 2},
    {{"create", "DB2", "--password", ""}, 2},
    {{"create", "DB2", "--password"}, 2},
    {{"add-operator", "DB", "--username", "u", "--userid", "1", "--password", "pw-good-1"}, 2},
    {{"add-operator", "DB", "--username", "u", "--userid", "1", "--password", "pw-good-1", "--groups", "7"}, 2},
    {{"add-operator", "DB", "--username", "u", "--userid", "1", "--password", "pw-good-1", "--groups", "1,,2"}, 2},
    {{"add-operator", "DB", "--username", "u", "--userid", "one", "--password", "pw-good-1", "--groups", "all"}, 2},
    {{"add-operator", "DB", "--username", "  ", "--userid", "1", "--password", "pw-good-1", "--groups", "all"}, 2},
    {{"add-operator", "DB", "--username", "elevenchars", "--userid", "1", "--password", "pw-good-1", "--groups", "all"},
     2},
    {{"add-operator", "DB", "--username", "admin", "--userid", "5", "--password", "pw-good-1", "--groups", "all"}, 1},
    {{"add-operator", "DB", "--username", "other", "--userid", "1", "--password", "pw-good-1", "--groups", "all"}, 1},
    {{"add-operator", "DB", "--username", "u", "--userid", "5", "--password", "p", "--groups", "all"}, 1},
    {{"add-operator", "DB", "--username", "u", "--userid", "5", "--password", "p", "--password-file", "x", "--groups",
      "all"},
     2},
    {{"passwd", "DB", "--userid", "1", "--password", "1234"}, 1},
    {{"passwd", "DB", "--userid", "9", "--password", "pw-good-1"}, 1},
    {{"passwd", "DB", "--password", "pw-good-1"}, 2},
    {{"set-groups", "DB", "--userid", "1", "--groups", "0"}, 1},
    {{"disable-operator", "DB", "--userid", "1"}, 1},
    {{"signons", "DB", "--since", "yesterday"}, 2},
    {{"unlock", "DB", "--userid", "9"}, 1},
    {{"grant-till", "DB", "till"}, 2},
    {{"create", ""}, 2},
    {{"list-operators", "DB", "DB"}, 2},
    {{"list-operators", "MISSING"}, 1},
    {{"schema", "DB"}, 2},
    {{"rights-word"}, 2},
};

TEST_F(VelmoraDbFileTest, BadCallsFailWithAMessage)
{
    const std::string path = db.path();
    ASSERT_EQ(runVelmoraDb({"create", path}).status, 0);
    ASSERT_EQ(runVelmoraDb({"add-operator", path, "--username", "admin", "--userid", "1", "--password", "pw-good-1",
                            "--groups", "all"})
                  .status,
              0);
    const std::string fresh = db.folder() + "new.mdb";
    const std::string missing = db.folder() + "none.mdb";
    for (const BadCall& call : badCalls) {
        std::vector<std::string> arguments;
        std::string shown;
        for (const std::string& a : call.arguments) {
            arguments.push_back(a == "DB" ? path : a == "DB2" ? fresh : a == "MISSING" ? missing : a);
            shown += a + " ";
        }
        const ToolRun run = runVelmoraDb(arguments);
        EXPECT_EQ(run.status, call.status) << shown << "\n" << run.output;
        EXPECT_NE(run.output.find("velmora-db"), std::string::npos) << shown;
    }
    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_FALSE(std::filesystem::exists(missing));
    const ToolRun list = runVelmoraDb({"list-operators", path});
    EXPECT_EQ(list.output, "username\tuserid\tgroups\nadmin\t1\t0,1,2,3,4,5,6\n");
}

// ---- the server only ------------------------------------------------------------------------------------------

class VelmoraDbServerTest : public ServerTest
{
};

// The role's password may come from libpq's own PGPASSWORD instead of the command line.
TEST_F(VelmoraDbServerTest, TheRolesPasswordMayComeFromPgpassword)
{
    const std::vector<std::string> target = db->toolTarget();
    ASSERT_EQ(runVelmoraDb({"create", target[0], "--db-user", db->server()->user},
                           "PGPASSWORD=" + shellQuote(db->server()->password))
                  .status,
              0);
    const ToolRun run = runVelmoraDb({"list-operators", target[0], "--db-user", db->server()->user},
                                     "PGPASSWORD=" + shellQuote(db->server()->password));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "username\tuserid\tgroups\n");
    EXPECT_EQ(run.output.find(db->server()->password), std::string::npos);
}

// A server checks its role's own password: a database password for the file is a wrong call there.
TEST_F(VelmoraDbServerTest, CreateRefusesAFilesDatabasePassword)
{
    std::vector<std::string> words{"create"};
    const std::vector<std::string> target = db->toolTarget();
    words.insert(words.end(), target.begin(), target.end());
    words.insert(words.end(), {"--password", "x"});
    const ToolRun run = runVelmoraDb(words);
    EXPECT_EQ(run.status, 2) << run.output;
}

// A database that could only be read leaves its journals behind read-only, owned by whoever read it; once the file
// may be written again, those journals still cannot be: the write names them, who left them and what to do, and is
// never taken for another user's lock. Operators are accounts held to permission bits, so the tool runs as two
// such accounts (nobody, who reads, and daemon, who writes next).
TEST(VelmoraDbJournals, AJournalLeftReadOnlyIsNamedWithWhoLeftItAndWhatToDo)
{
    if (::geteuid() != 0 || std::system("command -v runuser >/dev/null") != 0)
        GTEST_SKIP() << "needs root and runuser to act as two operators";
    TempFolder dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const std::string database = dir.file("velmdb.mdb");
    ASSERT_EQ(runVelmoraDb({"create", database}).status, 0);
    // The build's folder may be closed to other accounts (a clone in a private folder): they run a copy.
    const std::string tool = dir.file("velmora-db");
    std::filesystem::copy_file(std::string(VELMORA_BIN_DIR) + "/velmora-db", tool);
    ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
    const auto as = [&](const char* account, const std::string& words) {
        return runShell("runuser -u " + std::string(account) + " -- " + shellQuote(tool) + " " + words);
    };
    ASSERT_EQ(::chmod(database.c_str(), 0444), 0);
    const ToolRun read = as("nobody", "list-operators " + shellQuote(database));
    ASSERT_EQ(read.status, 0) << read.output;
    ASSERT_TRUE(std::filesystem::exists(database + "-shm")) << "reading left no journal: nothing to test";
    ASSERT_EQ(::chmod(database.c_str(), 0666), 0); // the permissions mended

    const ToolRun write = as("daemon", "add-operator " + shellQuote(database) +
                                           " --username clerk --userid 2 --password 5678 --groups 0");
    EXPECT_EQ(write.status, 1) << write.output;
    for (const std::string& part : {"'" + database + "-shm' beside it (left by nobody) cannot be written",
                                    std::string("delete it or give it the permissions of the database file")})
        EXPECT_NE(write.output.find(part), std::string::npos) << write.output << "\nlacks: " << part;
    EXPECT_EQ(write.output.find("locked"), std::string::npos) << write.output;
    EXPECT_EQ(write.output.find("in use"), std::string::npos) << write.output;
}

} // namespace
