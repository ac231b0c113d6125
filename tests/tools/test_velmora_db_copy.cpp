// velmora-db copy, as a shop that grows into a server takes its data along (and back, for an archive or when the
// server is gone): every dataset shows the same on the file it came from, on the server and on the file it went
// back to; a second copy into the same target changes nothing; the server numbers the next sign-on past the
// file's records; an interrupted copy leaves nothing.

#include "data/module/DMod.h"
#include "data/module/LoginRecord.h"
#include "tests/support/TestDatabase.h"
#include "tests/support/VelmoraDb.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

using namespace velmora::data;
using namespace velmora::test;

namespace {

namespace fs = std::filesystem;

// A small shop in a file: two operators, login records up to 57, a drug, stock, a document line, companies, and a
// table of the old system's own.
const char* const ShopRows = R"(
INSERT INTO oper (operid, userid, 登录时间, 退出时间) VALUES (3, '1', '2024-01-02 08:00:00', '2024-01-02 18:30:00');
INSERT INTO oper (operid, userid, 登录时间) VALUES (57, '2', '2024-02-29 23:59:59');
INSERT INTO ypzdk (id, 名称, 编号, 单位, 规格, 批发价, 零售价, 主治, 兑换点)
    VALUES ('Y0001', '阿莫西林胶囊', 'A001', '盒', '0.25g*24', 8.5, 12.8, '0012' || char(9) || '抗感染' || char(10) || '第二行', 0.1);
INSERT INTO ypzdk (id, 名称, 编号, 零售价) VALUES ('Y0002', '板蓝根颗粒 "特"', 'B002', 15);
INSERT INTO kc (数量, 购进单价, 购进金额, 购进日期, 有效期至, ypid, 柜组)
    VALUES (24, 6.125, 147, '2024-01-05 00:00:00', '2026-01-31 00:00:00', 'Y0001', '西药');
INSERT INTO cr (编号, 数量, 金额, 操作人, 日期, 类型, 出入, 成本金额, 是否审核, 折后价)
    VALUES ('CR2024010500000001', 2, 25.6, 'clerk', '2024-01-05 10:11:12', 'sale', 1, 12.25, 0, 12.8);
INSERT INTO company (简码, 名称, 电话, 出入, clientid) VALUES ('HY', '华源医药', '0571-88886666', 1, 7);
INSERT INTO partment (部门名称, 部门负责人) VALUES ('药房', '李四');
CREATE TABLE "Order Details" ("OrderID" INTEGER NOT NULL, "ProductID" INTEGER NOT NULL, "UnitPrice" CURRENCY,
    "Quantity" SMALLINT, "Note" LONGTEXT, "Shipped" DATETIME, PRIMARY KEY ("OrderID", "ProductID"));
INSERT INTO "Order Details" VALUES (10248, 11, 14, 12, '第一单', '1996-07-16 00:00:00');
INSERT INTO "Order Details" VALUES (10248, 42, 9.8, 10, NULL, NULL);
)";

class Copy : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(runVelmoraDb({"create", shop}).status, 0);
        for (const auto& [name, id, groups] : {std::tuple{"admin", "1", "all"}, std::tuple{"张三", "2", "0,1"}})
            ASSERT_EQ(runVelmoraDb({"add-operator", shop, "--username", name, "--userid", id, "--password",
                                    "Till-pass-1234", "--groups", groups})
                          .status,
                      0);
        rowsOfFile(shop, ShopRows);
    }

    // What `show` prints of every dataset of the data module, with its exit status.
    static std::vector<std::string> everyDataset(const std::vector<std::string>& database)
    {
        std::vector<std::string> shown;
        TDMod dmod("/");
        for (const Dataset* dataset : dmod.datasets()) {
            std::vector<std::string> words{"show", database.front(), dataset->name()};
            words.insert(words.end(), database.begin() + 1, database.end());
            const ToolRun run = runVelmoraDb(words);
            shown.push_back(dataset->name() + " (" + std::to_string(run.status) + ")\n" + run.output);
        }
        return shown;
    }

    TempFolder folder;
    const std::string shop = folder.file("velmdb.mdb");
};

std::vector<std::string> copyArguments(const std::string& source, const std::vector<std::string>& target)
{
    std::vector<std::string> words{"copy", source};
    words.insert(words.end(), target.begin(), target.end());
    return words;
}

TEST_F(Copy, FileToServerAndBackShowsEveryDatasetAlikeAndASecondCopyChangesNothing)
{
    if (const std::string why = skipReason(TestBackend::Server); !why.empty())
        GTEST_SKIP() << why;
    TestDatabase server(TestBackend::Server);
    const ToolRun there = runVelmoraDb(copyArguments(shop, server.toolTarget()));
    ASSERT_EQ(there.status, 0) << there.output;
    EXPECT_NE(there.output.find("oper: 2 rows read, 2 written"), std::string::npos) << there.output;
    EXPECT_NE(there.output.find("Order Details: 2 rows read, 2 written (a table of its own, key OrderID, ProductID)"),
              std::string::npos)
        << there.output;

    const std::string back = folder.file("archive/velmdb.mdb");
    fs::create_directories(fs::path(back).parent_path());
    // The server as the source: its URI with the role and password the copy reads as.
    const std::vector<std::string> fromServer = server.toolTarget();
    std::vector<std::string> words{"copy",        fromServer[0],       back,         "--source-user",
                                   fromServer[2], "--source-password", fromServer[4]};
    const ToolRun again = runVelmoraDb(words);
    ASSERT_EQ(again.status, 0) << again.output;

    const std::vector<std::string> original = everyDataset({shop});
    // What is compared holds the shop's rows: the operators, a decimal of the stock, text with a tab in it.
    std::string all;
    for (const std::string& shown : original)
        all += shown;
    for (const char* row : {"张三", "6.125", "0012\\t抗感染\\n第二行", "华源医药"})
        EXPECT_NE(all.find(row), std::string::npos) << row;
    EXPECT_EQ(everyDataset(server.toolTarget()), original);
    EXPECT_EQ(everyDataset({back}), original);
    EXPECT_EQ(rowsOfFile(back, "SELECT * FROM \"Order Details\" ORDER BY \"ProductID\""),
              rowsOfFile(shop, "SELECT * FROM \"Order Details\" ORDER BY \"ProductID\""));

    // Into a target that holds the rows already: refused, nothing changed.
    const long long records = server.number("select count(*) from oper");
    const ToolRun twice = runVelmoraDb(copyArguments(shop, server.toolTarget()));
    EXPECT_EQ(twice.status, 1) << twice.output;
    EXPECT_NE(twice.output.find("Nothing was copied"), std::string::npos) << twice.output;
    EXPECT_EQ(server.number("select count(*) from oper"), records);
    EXPECT_EQ(server.number("select count(*) from \"Order Details\""), 2);
    const ToolRun fileTwice = runVelmoraDb({"copy", shop, back});
    EXPECT_EQ(fileTwice.status, 1) << fileTwice.output;
    EXPECT_EQ(rowsOfFile(back, "SELECT count(*) FROM oper").at(0).at(0), "2");
}

// The server numbers new rows itself: after the copy its counter stands past the file's largest record.
TEST_F(Copy, TheFirstSignOnOnTheServerIsNumberedPastTheFilesRecords)
{
    if (const std::string why = skipReason(TestBackend::Server); !why.empty())
        GTEST_SKIP() << why;
    TestDatabase server(TestBackend::Server);
    const ToolRun run = runVelmoraDb(copyArguments(shop, server.toolTarget()));
    ASSERT_EQ(run.status, 0) << run.output;
    TDMod dmod(server.folder());
    dmod.ADOCON().setConnectionString(server.connectionString());
    dmod.ADOCON().open();
    EXPECT_EQ(appendLoginRecord(dmod, 1), 58);
}

TEST_F(Copy, FileToFileKeepsTheCountersAndAnInterruptedCopyLeavesNothing)
{
    const std::string copied = folder.file("copy.mdb");
    const ToolRun run = runVelmoraDb({"copy", shop, copied});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(everyDataset({copied}), everyDataset({shop}));
    rowsOfFile(copied, "INSERT INTO oper (userid) VALUES ('3')");
    EXPECT_EQ(rowsOfFile(copied, "SELECT max(operid) FROM oper").at(0).at(0), "58");

    // Stopped at its first line of progress: the new file goes again.
    const std::string stopped = folder.file("stopped.mdb");
    HeldVelmoraDb held({"copy", shop, stopped});
    ASSERT_EQ(held.waitUntilHeld(std::chrono::seconds(30)), "");
    ::kill(held.pid(), SIGTERM);
    const HeldVelmoraDb::Ended ended = held.finish(std::chrono::seconds(30));
    EXPECT_TRUE(WIFSIGNALED(ended.waitStatus) && WTERMSIG(ended.waitStatus) == SIGTERM) << ended.errorOutput;
    EXPECT_NE(ended.errorOutput.find("the copy was interrupted (SIGTERM)"), std::string::npos) << ended.errorOutput;
    EXPECT_NE(ended.errorOutput.find("Nothing was copied"), std::string::npos) << ended.errorOutput;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        EXPECT_FALSE(fs::exists(stopped + suffix)) << suffix;
}

} // namespace
