#include "data/Errors.h"
#include "data/Schema.h"
#include "data/module/DMod.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace velmora::data;
using namespace velmora::test;

namespace {

const std::vector<std::string> componentOrder = {
    "ADOConn", "ADOQuery1", "ADOQuery2", "ADOQuery3", "ADOCON",     "qrydata",   "qrydata2", "qrydata3", "tyg",
    "dsyg",    "TBH",       "tuser",     "dsuser",    "toper",      "dsoper",    "typzdk",   "dsypzdk",  "YDTemp",
    "txstj",   "dsxstj",    "TXgPd",     "tdjsearch", "dsdjsearch", "ttemp",     "dstemp",   "TTYpzd",   "DsYpzd",
    "TPhkc",   "DSPhkc",    "tcr",       "dscr",      "tdw",        "dsdw",      "tkc",      "dskc",     "TPd",
    "DsPd",    "TTemGys",   "DSTemGys",  "TYdInfo",   "DSYdInfo",   "DsHuiyuan", "TPfTem",   "TTyTemp",  "DsTyTemp",
    "TAPD",    "DSAPD",     "TYpyh",     "Dsypyh",    "tcrlist",    "dscrlist",  "TKhzl",    "DSKhzl",   "THYXF",
    "DSHYXF",  "tbm",       "dsbm",      "TSccj",     "Dsccj",      "DSZwr",     "TZwr",     "THuiyuan",
};

TEST(DModTest, BuildsTheComponentsInOrderAndOpensNothing)
{
    ASSERT_EQ(DMod, nullptr);
    {
        TDMod dmod("/nowhere/");
        EXPECT_EQ(DMod, &dmod);
        EXPECT_EQ(dmod.componentNames(), componentOrder);
        EXPECT_FALSE(dmod.ADOCON().connected());
        EXPECT_FALSE(dmod.ADOConn().connected());
        EXPECT_EQ(dmod.datasets().size(), 35u);
        for (Dataset* dataset : dmod.datasets())
            EXPECT_FALSE(dataset->active()) << dataset->name();
        EXPECT_EQ(dmod.ADOConn().connectionString(),
                  "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=data\\velmdb.mdb;Persist Security Info=False");
        EXPECT_EQ(dmod.ADOConn().mode(), ConnectMode::ReadWrite);
        EXPECT_EQ(dmod.ADOCON().mode(), ConnectMode::ShareDenyNone);
        EXPECT_NE(dmod.ADOCON().connectionString().find("Provider=Microsoft.Jet.OLEDB.4.0;"), std::string::npos);
        EXPECT_FALSE(dmod.ADOCON().loginPrompt());
    }
    EXPECT_EQ(DMod, nullptr);
}

TEST(DModTest, DataSourcesLinkTheirDatasetsEvenWhenNamedLater)
{
    TDMod dmod("/nowhere/");
    int sources = 0;
    for (const ComponentDefinition& item : dataModuleCatalogue()) {
        if (item.type != ComponentType::DataSource)
            continue;
        ++sources;
        EXPECT_EQ(dmod.dataSource(item.name).dataSet(), &dmod.dataset(item.source)) << item.name;
    }
    EXPECT_EQ(sources, 25);
    EXPECT_EQ(dmod.dataSource("DsHuiyuan").dataSet()->name(), "THuiyuan");
    EXPECT_EQ(dmod.dataSource("DSZwr").dataSet()->name(), "TZwr");
    EXPECT_EQ(dmod.dsuser().dataSet(), &dmod.tuser());
    EXPECT_EQ(&dmod.dataset("TUSER"), &dmod.tuser());
    EXPECT_THROW(dmod.dataset("dsuser"), DatabaseError);
    EXPECT_THROW(dmod.dataSource("nothing"), DatabaseError);
}

struct DatasetRow
{
    const char* name;
    DatasetKind kind;
    const char* connection;
    const char* table; // table datasets
    bool hasText;
    CursorType cursor;
    LockType lock;
    int cacheSize;
    bool paramCheck;
    int declared;
};

constexpr auto Q = DatasetKind::Query;
constexpr auto Tb = DatasetKind::Table;
constexpr auto C = DatasetKind::Command;
constexpr auto S = CursorType::Static;
constexpr auto Ks = CursorType::Keyset;
constexpr auto O = LockType::Optimistic;
constexpr auto B = LockType::BatchOptimistic;

const DatasetRow datasetRows[] = {
    {"ADOQuery1", Q, "ADOConn", "", false, Ks, O, 1, true, 0},
    {"ADOQuery2", Q, "ADOConn", "", false, Ks, O, 1, true, 0},
    {"ADOQuery3", Q, "ADOConn", "", false, Ks, O, 1, true, 0},
    {"qrydata", Q, "ADOCON", "", false, Ks, O, 1, true, 0},
    {"qrydata2", Q, "ADOCON", "", false, Ks, O, 1, true, 0},
    {"qrydata3", Q, "ADOCON", "", false, Ks, O, 1, true, 0},
    {"tyg", Tb, "ADOCON", "OperatorTable", false, S, O, 1, true, 13},
    {"TBH", Tb, "ADOCON", "bh", false, S, O, 1, true, 0},
    {"tuser", Tb, "ADOCON", "OperatorTable", false, S, O, 1, true, 0},
    {"toper", C, "ADOCON", "", true, S, O, 1, true, 4},
    {"typzdk", Tb, "ADOCON", "ypzdk", false, S, O, 1, true, 21},
    {"YDTemp", C, "ADOCON", "", false, S, O, 1, true, 0},
    {"txstj", C, "ADOCON", "", true, S, O, 1, true, 0},
    {"TXgPd", Q, "ADOCON", "", false, Ks, O, 1, true, 0},
    {"tdjsearch", C, "ADOCON", "", true, S, O, 1, true, 0},
    {"ttemp", C, "ADOCON", "", true, S, O, 1, true, 0},
    {"TTYpzd", C, "ADOCON", "", true, S, O, 1, true, 18},
    {"TPhkc", C, "ADOCON", "", true, S, O, 1, true, 0},
    {"tcr", C, "ADOCON", "", true, S, B, 1000, false, 53},
    {"tdw", Tb, "ADOCON", "company", false, S, O, 1, true, 10},
    {"tkc", Tb, "ADOCON", "kc", false, S, O, 1, true, 9},
    {"TPd", C, "ADOCON", "", true, S, B, 1000, false, 15},
    {"TTemGys", C, "ADOCON", "", true, S, O, 1, true, 0},
    {"TYdInfo", Tb, "ADOCON", "YdInfo", false, S, O, 1, true, 14},
    {"TPfTem", C, "ADOCON", "", false, S, O, 1, true, 0},
    {"TTyTemp", C, "ADOCON", "", true, S, O, 1, true, 0},
    {"TAPD", Tb, "ADOCON", "kc", false, S, O, 1, true, 0},
    {"TYpyh", C, "ADOCON", "", true, S, O, 1, true, 12},
    {"tcrlist", C, "ADOCON", "", true, S, O, 1, true, 0},
    {"TKhzl", Tb, "ADOCON", "khzl", false, S, O, 1, true, 7},
    {"THYXF", C, "ADOCON", "", false, S, O, 1, true, 0},
    {"tbm", Tb, "ADOCON", "partment", false, S, O, 1, true, 4},
    {"TSccj", Tb, "ADOCON", "sccj", false, S, O, 1, true, 7},
    {"TZwr", Tb, "ADOCON", "zhaiwu", false, S, O, 1, true, 11},
    {"THuiyuan", C, "ADOCON", "", false, Ks, O, 1, true, 0},
};

TEST(DModTest, DatasetsCarryTheirSettingsAndDeclaredFields)
{
    TDMod dmod("/nowhere/");
    ASSERT_EQ(dmod.datasets().size(), std::size(datasetRows));
    for (std::size_t i = 0; i < std::size(datasetRows); ++i) {
        const DatasetRow& row = datasetRows[i];
        SCOPED_TRACE(row.name);
        Dataset& dataset = *dmod.datasets()[i];
        EXPECT_EQ(dataset.name(), row.name);
        EXPECT_EQ(dataset.settings().kind, row.kind);
        EXPECT_EQ(dataset.connection().name(), row.connection);
        EXPECT_EQ(dataset.tableName(), row.table);
        EXPECT_EQ(!dataset.commandText().empty(), row.hasText);
        EXPECT_EQ(dataset.settings().cursorType, row.cursor);
        EXPECT_EQ(dataset.settings().lockType, row.lock);
        EXPECT_EQ(dataset.settings().cacheSize, row.cacheSize);
        EXPECT_EQ(dataset.settings().paramCheck, row.paramCheck);
        EXPECT_EQ(dataset.settings().commandTimeout, 30);
        EXPECT_EQ(dataset.fields().size(), static_cast<std::size_t>(row.declared));
    }
    EXPECT_EQ(dmod.toper().commandText(), "select  * from oper ");
    int lookups = 0;
    for (const auto& field : dmod.dataset("tcr").fields())
        lookups += field->isLookup() ? 1 : 0;
    EXPECT_EQ(lookups, 9);
    // The declared fields exist, without values, before the dataset opens.
    EXPECT_TRUE(dmod.typzdk().fieldByName("兑换点").isNull());
    EXPECT_EQ(dmod.dataset("tyg").fieldByName("username").displayLabel(), "用户名");
    EXPECT_EQ(dmod.dataset("tyg").fieldByName("职务").displayLabel(), "职务");
}

// The start-up opens these six, in this order.
const char* const startupDatasets[] = {"toper", "tuser", "typzdk", "tkc", "tbm", "tdw"};

void openStartupDatasets(const std::string& folder, const std::string& path)
{
    TDMod dmod(folder);
    dmod.ADOCON().setConnectionString(fileConnectionString(path));
    dmod.ADOCON().open();
    for (const char* name : startupDatasets) {
        Dataset& dataset = dmod.dataset(name);
        dataset.open();
        EXPECT_TRUE(dataset.active()) << name;
    }
    EXPECT_EQ(dmod.tuser().fields().size(), 15u);
    EXPECT_EQ(dmod.typzdk().fieldByName("编号").kind(), FieldKind::FixedWideString);
    EXPECT_EQ(dmod.tkc().fieldByName("购进单价").kind(), FieldKind::BCD);
    EXPECT_EQ(dmod.tbm().fieldByName("部门名称").kind(), FieldKind::String);
}

TEST(DModTest, DatabaseFromTheSchemaDdlPassesTheStartup)
{
    TestDatabase db;
    db.run(db.schema());
    openStartupDatasets(db.folder(), db.path());
}

// A shop may make its database with the plain sqlite3 tool and the published DDL.
TEST(DModTest, DatabaseMadeByTheSqliteToolPassesTheStartup)
{
    if (std::system("sqlite3 -version > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "the sqlite3 tool is not installed";
    TempFolder dir;
    std::ofstream(dir.file("schema.sql")) << schemaScript();
    const std::string command = "sqlite3 '" + dir.file("velmdb.mdb") + "' < '" + dir.file("schema.sql") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    openStartupDatasets(dir.folder(), dir.file("velmdb.mdb"));
}

TEST(DModTest, DatasetWithoutTextCannotOpen)
{
    TestDatabase db;
    db.run(db.schema());
    TDMod dmod(db.folder());
    dmod.ADOCON().setConnectionString(db.connectionString());
    EXPECT_EQ(kindOf([&] { dmod.dataset("qrydata").open(); }), ErrorKind::Malformed);
    EXPECT_FALSE(dmod.dataset("qrydata").active());
}

} // namespace
