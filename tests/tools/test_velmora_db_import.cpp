// velmora-db import as an administrator runs it: the summary and the progress lines, the refused second import,
// the Jet 3 code page option and wrong arguments.

#include "tests/support/BackendTest.h"
#include "tests/support/SampleBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/VelmoraDb.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/wait.h>

using namespace velmora::test;
using namespace std::chrono_literals;

namespace {

const std::string nwind = VELMORA_TEST_DATA "/nwind.mdb";

bool holds(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(VelmoraDbImport, ReportsEachTableAndRefusesASecondImport)
{
    TempFolder folder;
    const std::string shop = folder.file("shop.mdb");

    const ToolRun first = runVelmoraDb({"import", nwind, shop});
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_TRUE(holds(first.output, "Umsätze: 830 rows read, 830 written (a table of its own, key OrderID)"))
        << first.output;
    EXPECT_TRUE(holds(first.output, "Order Details: 2155 of 2155 rows, done")) << first.output;
    EXPECT_TRUE(holds(first.output, "made the schema's tables OperatorTable")) << first.output;
    EXPECT_EQ(rowsOfFile(shop, "SELECT count(*) FROM \"Order Details\""),
              std::vector<std::vector<std::string>>{{"2155"}});
    EXPECT_FALSE(holds(first.output, "warning")) << first.output;

    const ToolRun second = runVelmoraDb({"import", nwind, shop});
    EXPECT_EQ(second.status, 1) << second.output;
    EXPECT_TRUE(holds(second.output, "already holds rows")) << second.output;
    EXPECT_TRUE(holds(second.output, "Nothing was imported")) << second.output;
    EXPECT_EQ(rowsOfFile(shop, "SELECT count(*) FROM \"Order Details\""),
              std::vector<std::vector<std::string>>{{"2155"}});
}

// The code page given wins over the file's own: the same bytes read as Cyrillic.
TEST(VelmoraDbImport, Jet3TextIsReadInTheCodePageGiven)
{
    TempFolder folder;
    const std::string shop = folder.file("shop.mdb");
    const ToolRun run = runVelmoraDb({"import", nwind, shop, "--jet3-charset", "CP1251"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(rowsOfFile(shop, "SELECT City FROM Customers WHERE CustomerID = 'ANATR'"),
              std::vector<std::vector<std::string>>{{"Mйxico D.F."}});
}

// A Chinese shop's Jet 3 file whose header names the Western code page (a copy of the sample with a customer's
// name in GBK): the import reads it as the header says, and warns, naming the option that reads it as Chinese.
TEST(VelmoraDbImport, Jet3TextThatReadsAsChineseIsWarnedAbout)
{
    TempFolder folder;
    const std::string chinese = folder.file("chinese.mdb");
    std::ofstream(chinese, std::ios::binary) << withEvery(bytesOfFile(nwind), "Alfreds ",
                                                          "\xB0\xA2\xC4\xAA\xCE\xF7\xC1\xD6"); // 阿莫西林
    const ToolRun run = runVelmoraDb({"import", chinese, folder.file("shop.mdb")});
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char* part : {"warning: table 'Customers', column 'CompanyName', row 1", "阿莫西林Futterkiste",
                             "import again with --jet3-charset GBK"})
        EXPECT_TRUE(holds(run.output, part)) << part << " in " << run.output;
}

TEST(VelmoraDbImport, WrongArgumentsChangeNothing)
{
    TempFolder folder;
    const std::string shop = folder.file("shop.mdb");
    const struct
    {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } cases[] = {
        {{"import", nwind}, 2, "import needs an ACCESS_FILE and a TARGET"},
        {{"import", nwind, shop, "--db-user", "x"}, 2, "--db-user is for a server"},
        {{"import", nwind, shop, "--jet3-charset", "NO-SUCH-CHARSET"}, 1, "NO-SUCH-CHARSET"},
        {{"import", folder.file("missing.mdb"), shop}, 1, "missing.mdb"},
    };
    for (const auto& c : cases) {
        const ToolRun run = runVelmoraDb(c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_TRUE(holds(run.output, c.says)) << run.output;
        EXPECT_FALSE(std::filesystem::exists(shop)) << c.says;
    }
}

// Ctrl-C, a kill or a closed terminal while the import runs: it undoes itself as on any failure (a new file and
// its journals removed, the server's transaction rolled back), says so, and ends by that signal.
class InterruptedImportTest : public BackendTest
{
};

VELMORA_INSTANTIATE_FOR_BACKENDS(InterruptedImportTest);

TEST_P(InterruptedImportTest, ASignalPartWayLeavesNoFileAndNoTables)
{
    const std::string file = db->folder() + "shop.mdb";
    std::vector<std::string> arguments = {"import", nwind};
    if (onServer()) {
        const std::vector<std::string> target = db->toolTarget();
        arguments.insert(arguments.end(), target.begin(), target.end());
    } else {
        arguments.push_back(file);
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        // Stopped at its first line of progress: the target made, the first table's rows written.
        HeldVelmoraDb tool(arguments);
        ASSERT_EQ(tool.waitUntilHeld(60s), "");
        if (!onServer()) {
            EXPECT_TRUE(std::filesystem::exists(file));
        }
        ::kill(tool.pid(), signal);
        const HeldVelmoraDb::Ended ended = tool.finish(60s);

        EXPECT_TRUE(WIFSIGNALED(ended.waitStatus) && WTERMSIG(ended.waitStatus) == signal)
            << "wait status " << ended.waitStatus << "\n"
            << ended.errorOutput;
        const std::string name = signal == SIGTERM ? "SIGTERM" : signal == SIGINT ? "SIGINT" : "SIGHUP";
        EXPECT_TRUE(holds(ended.errorOutput, "the import was interrupted (" + name + ")")) << ended.errorOutput;
        EXPECT_TRUE(holds(ended.errorOutput, "Nothing was imported")) << ended.errorOutput;
        if (onServer()) {
            EXPECT_EQ(db->number("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"), 0);
        } else {
            for (const char* suffix : {"", "-wal", "-shm", "-journal"})
                EXPECT_FALSE(std::filesystem::exists(file + suffix)) << file + suffix;
        }
    }
}
