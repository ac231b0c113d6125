// velmora-db against a PostgreSQL server: the same commands with the server's URI in place of the file.
// Skipped without a test server (VELMORA_TEST_PG).

#include "data/DMod.h"
#include "data/Errors.h"
#include "tests/data/backend_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

using namespace velmora::data;
using namespace velmora::data::test;

namespace {

struct ToolRun
{
    int status;
    std::string output; // stdout and stderr together
};

std::string shellQuote(const std::string& word)
{
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ToolRun velmoraDb(const std::vector<std::string>& arguments, const std::string& environment = {})
{
    std::string command = environment + " " + shellQuote(std::string(VELMORA_BIN_DIR) + "/velmora-db");
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

class VelmoraDbServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const std::string why = skipReason(TestBackend::Server); !why.empty())
            GTEST_SKIP() << why;
        db = std::make_unique<TestDatabase>(TestBackend::Server);
        role = {"--db-user", db->server()->user, "--db-password", db->server()->password};
    }

    std::vector<std::string> with(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.end(), role.begin(), role.end());
        return arguments;
    }

    std::unique_ptr<TestDatabase> db;
    std::vector<std::string> role;
};

TEST_F(VelmoraDbServerTest, CreatesTheTablesAddsAndListsOperators)
{
    const std::string uri = db->source();
    ToolRun run = velmoraDb(with({"create", uri}));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(db->number("select count(*) from pg_tables where schemaname = 'public'"), 12);

    run = velmoraDb(
        with({"add-operator", uri, "--username", "admin", "--userid", "1", "--password", "1234", "--groups", "all"}));
    ASSERT_EQ(run.status, 0) << run.output;
    // The role's password may come from libpq's own PGPASSWORD instead of the command line.
    run = velmoraDb({"list-operators", uri, "--db-user", db->server()->user},
                    "PGPASSWORD=" + shellQuote(db->server()->password));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("admin\t1\t0,1,2,3,4,5,6"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(db->server()->password), std::string::npos);

    // The program starts on what the tool made.
    TDMod dmod(db->folder());
    dmod.ADOCON().setConnectionString(db->connectionString());
    for (const char* name : {"toper", "tuser", "typzdk", "tkc", "tbm", "tdw"}) {
        SCOPED_TRACE(name);
        EXPECT_NO_THROW(dmod.dataset(name).open());
    }
    EXPECT_EQ(dmod.tuser().recordCount(), 1);
    EXPECT_EQ(dmod.tbm().fieldByName("部门名称").kind(), FieldKind::String);
}

TEST_F(VelmoraDbServerTest, RefusesADatabaseThatHoldsTheTablesAndAWrongPassword)
{
    const std::string uri = db->source();
    db->run("CREATE TABLE \"YdInfo\" (x integer)");
    ToolRun run = velmoraDb(with({"create", uri}));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("already holds the table YdInfo"), std::string::npos) << run.output;
    EXPECT_EQ(db->number("select count(*) from pg_tables where schemaname = 'public'"), 1);

    run = velmoraDb({"list-operators", uri, "--db-user", db->server()->user, "--db-password", "Not-The-Secret"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("password authentication failed"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Not-The-Secret"), std::string::npos) << run.output;

    run = velmoraDb(with({"create", uri, "--password", "x"}));
    EXPECT_EQ(run.status, 2) << run.output;
}

// An administrator may run the printed SQL with psql instead of letting the tool connect.
TEST_F(VelmoraDbServerTest, PrintedServerSchemaMakesAWorkingDatabase)
{
    const ToolRun run = velmoraDb({"schema", "--for", "postgresql"});
    ASSERT_EQ(run.status, 0) << run.output;
    db->run(run.output);
    TDMod dmod(db->folder());
    dmod.ADOCON().setConnectionString(db->connectionString());
    for (const char* name : {"toper", "tuser", "typzdk", "tkc", "tbm", "tdw"}) {
        SCOPED_TRACE(name);
        EXPECT_NO_THROW(dmod.dataset(name).open());
    }
    EXPECT_EQ(dmod.tbm().fieldByName("部门名称").kind(), FieldKind::String);
    EXPECT_EQ(dmod.toper().fieldByName("operid").kind(), FieldKind::AutoInc);
}

} // namespace
