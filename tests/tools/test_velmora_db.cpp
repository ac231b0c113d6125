#include "data/DMod.h"
#include "data/OperatorPassword.h"
#include "data/Rights.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora::data;

namespace {

struct ToolRun
{
    int status;
    std::string output; // stdout and stderr together
};

std::string shellQuote(const std::string& word)
{
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

ToolRun velmoraDb(const std::vector<std::string>& arguments)
{
    std::string command = shellQuote(std::string(VELMORA_BIN_DIR) + "/velmora-db");
    for (const std::string& argument : arguments)
        command += " " + shellQuote(argument);
    command += " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {-1, {}};
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class VelmoraDbTest : public ::testing::Test
{
protected:
    VelmoraDbTest()
    {
        static std::atomic<int> counter{0};
        m_dir = std::filesystem::temp_directory_path() /
                ("velmora-db-" + std::to_string(::getpid()) + "-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                 std::to_string(counter++));
        std::filesystem::create_directories(m_dir);
    }
    ~VelmoraDbTest() override
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::string file(const std::string& name) const { return (m_dir / name).string(); }
    std::string folder() const { return m_dir.string() + "/"; }

    std::filesystem::path m_dir;
};

TEST_F(VelmoraDbTest, HelpNamesEveryCommand)
{
    const ToolRun run = velmoraDb({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* word : {"create", "add-operator", "list-operators", "--db-password", "--groups"})
        EXPECT_NE(run.output.find(word), std::string::npos) << word;
}

TEST_F(VelmoraDbTest, CreateRefusesToOverwrite)
{
    const std::string db = file("velmdb.mdb");
    std::ofstream(db) << "precious";
    const ToolRun run = velmoraDb({"create", db});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("already exists"), std::string::npos) << run.output;
    std::ifstream in(db);
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), "precious");

    EXPECT_EQ(velmoraDb({"create", file("fresh.mdb")}).status, 0);
    EXPECT_EQ(velmoraDb({"create", file("fresh.mdb")}).status, 1);
}

TEST_F(VelmoraDbTest, OperatorsRoundTripWithoutShowingPasswords)
{
    const std::string db = file("velmdb.mdb");
    ASSERT_EQ(velmoraDb({"create", db, "--password", "s3cr3t-db"}).status, 0);
    const ToolRun admin = velmoraDb({"add-operator", db, "--db-password", "s3cr3t-db", "--username", "admin",
                                     "--userid", "1", "--password", "pw-admin-77", "--groups", "all"});
    EXPECT_EQ(admin.status, 0) << admin.output;
    const ToolRun clerk = velmoraDb({"add-operator", db, "--db-password=s3cr3t-db", "--username", "张三", "--userid",
                                     "12", "--password", "pw-clerk-88", "--groups", "0, 3"});
    EXPECT_EQ(clerk.status, 0) << clerk.output;
    const ToolRun list = velmoraDb({"list-operators", db, "--db-password", "s3cr3t-db"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.output, "username\tuserid\tgroups\n"
                           "admin\t1\t0,1,2,3,4,5,6\n"
                           "张三\t12\t0,3\n");
    for (const ToolRun* run : {&admin, &clerk, &list})
        for (const char* secret : {"s3cr3t-db", "pw-admin-77", "pw-clerk-88"})
            EXPECT_EQ(run->output.find(secret), std::string::npos) << secret;

    // Without the database password the file does not open, and the refusal
    // names neither the given password nor the right one.
    EXPECT_EQ(velmoraDb({"list-operators", db}).status, 1);
    const ToolRun wrong = velmoraDb({"list-operators", db, "--db-password", "wrong-guess-41"});
    EXPECT_EQ(wrong.status, 1);
    const ToolRun refused = velmoraDb({"add-operator", db, "--db-password", "wrong-guess-41", "--username", "eve",
                                       "--userid", "3", "--password", "pw-eve-99", "--groups", "all"});
    EXPECT_EQ(refused.status, 1);
    for (const ToolRun* run : {&wrong, &refused}) {
        EXPECT_NE(run->output.find(db), std::string::npos) << run->output;
        for (const char* secret : {"s3cr3t-db", "wrong-guess-41", "pw-eve-99"})
            EXPECT_EQ(run->output.find(secret), std::string::npos) << secret << ": " << run->output;
    }

    // Nothing on disk holds an operator password as text.
    for (const std::string& path : {db, db + "-wal"}) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        for (const char* secret : {"pw-admin-77", "pw-clerk-88", "pw-eve-99"})
            EXPECT_EQ(bytes.str().find(secret), std::string::npos) << secret << " in " << path;
    }
}

// What the tool writes is what the login reads: the operator's row through tuser.
TEST_F(VelmoraDbTest, OperatorSignsOnThroughTheDataModule)
{
    const std::string db = file("velmdb.mdb");
    ASSERT_EQ(velmoraDb({"create", db, "--password", "mivotelq"}).status, 0);
    ASSERT_EQ(velmoraDb({"add-operator", db, "--db-password", "mivotelq", "--username", "clerk", "--userid", "2",
                         "--password", "5678", "--groups", "0,1"})
                  .status,
              0);
    TDMod dmod(folder());
    dmod.ADOCON().setConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + db +
                                      ";Jet OLEDB:Database Password=mivotelq");
    dmod.ADOCON().open();
    for (const char* name : {"toper", "tuser", "typzdk", "tkc", "tbm", "tdw"})
        dmod.dataset(name).open();
    Dataset& tuser = dmod.tuser();
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

// The printed schema, run by the plain sqlite3 tool, makes a database the start-up opens.
TEST_F(VelmoraDbTest, PrintedSchemaMakesAWorkingDatabase)
{
    if (std::system("sqlite3 -version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "the sqlite3 tool is not installed";
    const ToolRun schema = velmoraDb({"schema"});
    ASSERT_EQ(schema.status, 0);
    std::ofstream(file("schema.sql")) << schema.output;
    const std::string db = file("velmdb.mdb");
    ASSERT_EQ(std::system(("sqlite3 " + shellQuote(db) + " < " + shellQuote(file("schema.sql"))).c_str()), 0);
    TDMod dmod(folder());
    dmod.ADOCON().setConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + db);
    for (const char* name : {"toper", "tuser", "typzdk", "tkc", "tbm", "tdw"}) {
        dmod.dataset(name).open();
        EXPECT_TRUE(dmod.dataset(name).active()) << name;
    }
}

TEST_F(VelmoraDbTest, RightsWordGrantsTheListedGroups)
{
    const ToolRun run = velmoraDb({"rights-word", "--groups", "2,5"});
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
    {{"add-operator", "DB", "--username", "u", "--userid", "1", "--password", "p"}, 2},
    {{"add-operator", "DB", "--username", "u", "--userid", "1", "--password", "p", "--groups", "7"}, 2},
    {{"add-operator", "DB", "--username", "u", "--userid", "1", "--password", "p", "--groups", "1,,2"}, 2},
    {{"add-operator", "DB", "--username", "u", "--userid", "one", "--password", "p", "--groups", "all"}, 2},
    {{"add-operator", "DB", "--username", "  ", "--userid", "1", "--password", "p", "--groups", "all"}, 2},
    {{"add-operator", "DB", "--username", "elevenchars", "--userid", "1", "--password", "p", "--groups", "all"}, 2},
    {{"add-operator", "DB", "--username", "admin", "--userid", "5", "--password", "p", "--groups", "all"}, 1},
    {{"add-operator", "DB", "--username", "other", "--userid", "1", "--password", "p", "--groups", "all"}, 1},
    {{"list-operators", "DB", "DB"}, 2},
    {{"list-operators", "MISSING"}, 1},
    {{"schema", "DB"}, 2},
    {{"rights-word"}, 2},
};

TEST_F(VelmoraDbTest, BadCallsFailWithAMessage)
{
    const std::string db = file("velmdb.mdb");
    ASSERT_EQ(velmoraDb({"create", db}).status, 0);
    ASSERT_EQ(
        velmoraDb({"add-operator", db, "--username", "admin", "--userid", "1", "--password", "p", "--groups", "all"})
            .status,
        0);
    for (const BadCall& call : badCalls) {
        std::vector<std::string> arguments;
        std::string shown;
        for (const std::string& a : call.arguments) {
            arguments.push_back(a == "DB" ? db : a == "DB2" ? file("new.mdb") : a == "MISSING" ? file("none.mdb") : a);
            shown += a + " ";
        }
        const ToolRun run = velmoraDb(arguments);
        EXPECT_EQ(run.status, call.status) << shown << "\n" << run.output;
        EXPECT_NE(run.output.find("velmora-db"), std::string::npos) << shown;
    }
    EXPECT_FALSE(std::filesystem::exists(file("new.mdb")));
    EXPECT_FALSE(std::filesystem::exists(file("none.mdb")));
    const ToolRun list = velmoraDb({"list-operators", db});
    EXPECT_EQ(list.output, "username\tuserid\tgroups\nadmin\t1\t0,1,2,3,4,5,6\n");
}

} // namespace
