// velmora-db show and check: a dataset printed as a till sees it, on a file and on the server (skipped without
// VELMORA_TEST_PG), and the text columns of an older file that do not keep text as text.

#include "data/Schema.h"
#include "data/module/DMod.h"
#include "tests/support/BackendTest.h"
#include "tests/support/VelmoraDb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace velmora::data;
using namespace velmora::test;

namespace {

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class ShowTest : public BackendTest
{
protected:
    void prepare() override
    {
        const ToolRun made = tool({"create"});
        ASSERT_EQ(made.status, 0) << made.output;
    }

    // velmora-db's command on this backend's database, with its role, then the further arguments.
    ToolRun tool(std::vector<std::string> arguments, const std::vector<std::string>& after = {}) const
    {
        const std::vector<std::string> target = db->toolTarget();
        arguments.insert(arguments.end(), target.begin(), target.end());
        arguments.insert(arguments.end(), after.begin(), after.end());
        return runVelmoraDb(arguments);
    }
    ToolRun show(const std::string& dataset) const { return tool({"show"}, {dataset}); }
};

VELMORA_INSTANTIATE_FOR_BACKENDS(ShowTest);

// A purchase price set by hand to the engine's own 0.1 + 0.2 shows as the decimal it stands for.
TEST_P(ShowTest, StockShowsDecimalsExactly)
{
    db->run("insert into kc(数量, 购进单价, 购进金额, 购进日期, ypid, 柜组) values "
            "(1, 0, 12345678901.2345, '2026-01-05 08:00:00', 'Y1', '西药'), (2.5, 0, NULL, NULL, 'Y2', NULL);"
            "update kc set 购进单价 = 0.1 + 0.2;");
    const ToolRun run = show("tkc");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output, "kcid\t数量\t购进单价\t购进金额\t购进日期\t生产日期\t有效期至\typid\t柜组\n"
                          "1\t1\t0.3\t12345678901.2345\t2026-01-05 08:00:00\t\t\tY1\t西药\n"
                          "2\t2.5\t0.3\t\t\t\t\tY2\t\n");
}

TEST_P(ShowTest, StocktakingShowsWithoutRetailPrices)
{
    db->run("insert into ypzdk(id, 名称) values ('Y1', '阿莫西林');"
            "insert into kc(数量, 购进单价, 购进金额, ypid, 柜组) values (10, 6, 60, 'Y1', '西药');");
    const ToolRun run = show("TPd");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output,
              "id\t名称\t简码\t数量\t单位\t规格\t生产厂家\t批准文号\t批发价\t零售价\t购进单价\t购进金额\t柜组\t"
              "销售金额\t利润\n"
              "Y1\t阿莫西林\t\t10\t\t\t\t\t\t\t6\t60\t西药\t\t\n");
}

// Tabs, line breaks and backslashes inside values are escaped, so that each row is one line of fields.
TEST_P(ShowTest, TextIsEscapedAndMemoKeptAsWritten)
{
    TDMod dmod(db->folder());
    dmod.ADOCON().setConnectionString(db->connectionString());
    Dataset& typzdk = dmod.dataset("TTYpzd");
    typzdk.open();
    typzdk.append();
    typzdk.fieldByName("id").setAsString("Y1");
    typzdk.fieldByName("名称").setAsString("阿莫西林\t胶囊");
    typzdk.fieldByName("规格").setAsString("C:\\药\\1");
    typzdk.fieldByName("供应商").setAsString("第一行\n第二行");
    typzdk.fieldByName("零售价").setAsFloat(12.5);
    typzdk.post();
    dmod.ADOCON().close();
    db->run("update ypzdk set 主治 = '0012';");

    const ToolRun run = show("typzdk");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output,
              "id\t名称\t编号\t条码\t简码\t单位\t规格\t生产厂家\t批准文号\t最高限量\t最低限量\t批发价\t零售价\t"
              "主治\t剂型\t分类\t生产批号\t供应商\t注册商标\t合格证\t兑换点\n"
              "Y1\t阿莫西林\\t胶囊\t\t\t\t\tC:\\\\药\\\\1\t\t\t\t\t\t12.5\t0012\t\t\t\t第一行\\n第二行\t\t\t\n");
}

// What show prints of text a terminal would act on, and of binary: never a control byte, only its escape.
struct ShownText
{
    const char* what;
    std::string written;
    const char* shown;
};

const ShownText shownTexts[] = {
    {"a memo written on Windows", "第一行\r\n第二行", "第一行\\r\\n第二行"},
    {"an escape sequence", "\x1b[31m红\x1b[0m", "\\x1b[31m红\\x1b[0m"},
    {"a bell, a backspace and DEL",
     "a\x07"
     "b\x08"
     "c\x7f",
     "a\\x07b\\x08c\\x7f"},
    {"a tab and a backslash", "x\ty\\z", "x\\ty\\\\z"},
};

TEST_P(ShowTest, ControlCharactersAndBinaryArePrintedEscaped)
{
    db->run(db->isServer() ? "alter table ypzdk add column 图片 bytea;" : "alter table ypzdk add column 图片 BLOB;");
    {
        TDMod dmod(db->folder());
        dmod.ADOCON().setConnectionString(db->connectionString());
        Dataset& typzdk = dmod.dataset("typzdk");
        typzdk.open();
        for (std::size_t i = 0; i < std::size(shownTexts); ++i) {
            typzdk.append();
            typzdk.fieldByName("id").setAsString("Y" + std::to_string(i));
            typzdk.fieldByName("主治").setAsString(shownTexts[i].written);
            typzdk.post();
        }
    }
    db->run(std::string(db->isServer() ? "update ypzdk set 图片 = '\\x00011b0d0a7fff'::bytea where id = 'Y0';"
                                       : "update ypzdk set 图片 = X'00011B0D0A7FFF' where id = 'Y0';") +
            "insert into kc (ypid, 数量) select id, 1 from ypzdk;");

    // The drugs with their stock: a dataset without declared fields, which shows every column.
    const ToolRun run = show("ttemp");
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char c : run.output) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE((byte >= 0x20 && byte != 0x7F) || c == '\t' || c == '\n') << "a raw byte " << int(byte);
    }
    // The lines as fields: the header names 主治 and 图片.
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(run.output);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string>& fields = lines.emplace_back();
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
    }
    ASSERT_EQ(lines.size(), std::size(shownTexts) + 1) << run.output;
    const auto at = [&](const char* name) {
        return static_cast<std::size_t>(std::find(lines[0].begin(), lines[0].end(), name) - lines[0].begin());
    };
    const std::size_t id = at("id"), memo = at("主治"), picture = at("图片");
    ASSERT_LT(picture, lines[0].size()) << run.output;
    std::map<std::string, std::vector<std::string>> byDrug; // the server keeps no order
    for (std::size_t i = 1; i < lines.size(); ++i)
        byDrug[lines[i].at(id)] = lines[i];
    for (std::size_t i = 0; i < std::size(shownTexts); ++i) {
        SCOPED_TRACE(shownTexts[i].what);
        EXPECT_EQ(byDrug["Y" + std::to_string(i)].at(memo), shownTexts[i].shown);
    }
    EXPECT_EQ(byDrug["Y0"].at(picture), "\\x00011b0d0a7fff");
    EXPECT_EQ(byDrug["Y1"].at(picture), "");
}

// A dataset that does not open prints its own error and fails; a name the module lacks is a usage error.
TEST_P(ShowTest, ADatasetThatDoesNotOpenFails)
{
    ToolRun run = show("qrydata");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("qrydata: CommandText does not return a result set"), std::string::npos) << run.output;

    db->run(db->isServer() ? "drop table kc; create table kc (kcid integer, 数量 double precision);"
                           : "drop table kc; create table kc (kcid INTEGER PRIMARY KEY AUTOINCREMENT, 数量 DOUBLE);");
    run = show("tkc");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("tkc: Field '购进单价' not found"), std::string::npos) << run.output;

    run = show("NoSuchSet");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("NoSuchSet"), std::string::npos) << run.output;
}

TEST_P(ShowTest, CheckFindsNothingToMendInWhatCreateMakes)
{
    const ToolRun run = tool({"check"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(db->isServer() ? "keeps text as text" : "nothing to mend"), std::string::npos)
        << run.output;
}

class CheckTest : public ::testing::Test
{
protected:
    TestDatabase db{TestBackend::Embedded};
};

// A file whose memo column is declared MEMO (numeric affinity) is found, and the check's whole output, piped
// into the sqlite3 tool as the help says, rebuilds the table with its rows: from then on the column keeps text
// as text. What it found goes along as SQL comments.
TEST_F(CheckTest, AnOlderFilesMemoColumnIsFoundAndMendedThroughSqlite3)
{
    const std::string older = replaced(schemaScript(), " LONGTEXT", " MEMO");
    db.run(older + "insert into ypzdk(id, 名称, 主治) values ('Y1', '阿莫西林', '0012'), ('Y2', '布洛芬', 'x');"
                   "insert into kc(数量, ypid) values (1, 'Y1');");
    ASSERT_EQ(db.rows("select typeof(主治) from ypzdk order by id").front().front(), "integer");

    ToolRun run = runVelmoraDb({"check", db.path()});
    EXPECT_EQ(run.status, 1) << run.output;
    for (const char* piece : {"-- ypzdk.主治 is declared MEMO", "| sqlite3 "})
        EXPECT_NE(run.output.find(piece), std::string::npos) << piece << " in " << run.output;
    EXPECT_EQ(run.output.find("kc."), std::string::npos) << run.output;

    const std::string tool = shellQuote(std::string(VELMORA_BIN_DIR) + "/velmora-db");
    const ToolRun mended =
        runShell(tool + " check " + shellQuote(db.path()) + " | sqlite3 -bail " + shellQuote(db.path()));
    ASSERT_EQ(mended.status, 0) << mended.output << "\n" << run.output;
    EXPECT_EQ(mended.output, "") << run.output;

    run = runVelmoraDb({"check", db.path()});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("nothing to mend"), std::string::npos) << run.output;
    EXPECT_EQ(db.rows("select id, 名称, 主治 from ypzdk order by id"),
              (std::vector<std::vector<std::string>>{{"Y1", "阿莫西林", "12"}, {"Y2", "布洛芬", "x"}}));
    db.run("update ypzdk set 主治 = '0012' where id = 'Y1';");
    EXPECT_EQ(db.rows("select 主治, typeof(主治) from ypzdk where id = 'Y1'"),
              (std::vector<std::vector<std::string>>{{"0012", "text"}}));
    EXPECT_EQ(db.number("select count(*) from kc"), 1);
}

TEST(VelmoraDbValuesHelpTest, HelpNamesShowAndCheck)
{
    const ToolRun run = runVelmoraDb({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* word : {"show FILE", "check FILE", "DATASET"})
        EXPECT_NE(run.output.find(word), std::string::npos) << word;
}

} // namespace
