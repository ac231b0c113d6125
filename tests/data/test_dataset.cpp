#include "data/Errors.h"
#include "data/module/DMod.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace velmora::data;
using namespace velmora::test;

namespace {

TEST(RowStoreTest, CellsComeBackAsStored)
{
    const std::vector<Value> row = {Value{},
                                    Value{std::int64_t{0}},
                                    Value{std::int64_t{-1}},
                                    Value{std::numeric_limits<std::int64_t>::min()},
                                    Value{std::numeric_limits<std::int64_t>::max()},
                                    Value{-0.125},
                                    Value{1e300},
                                    Value{std::string()},
                                    Value{std::string(300, 'x')},
                                    Value{std::string("阿莫西林")},
                                    Value{true},
                                    Value{false}};
    RowStore store;
    store.reset(static_cast<int>(row.size()));
    store.appendRow(row);
    std::vector<Value> reversed(row.rbegin(), row.rend());
    store.appendRow(reversed);
    store.appendRow(row);
    ASSERT_EQ(store.rowCount(), 3);
    EXPECT_EQ(store.row(0), row);
    EXPECT_EQ(store.row(1), reversed);
    for (int c = 0; c < store.columnCount(); ++c)
        EXPECT_EQ(store.value(2, c), row[static_cast<std::size_t>(c)]) << c;
    store.replaceRow(0, reversed);
    EXPECT_EQ(store.row(0), reversed);
    EXPECT_EQ(store.row(2), row);
    EXPECT_THROW(store.appendRow(std::vector<Value>(2)), std::logic_error);
}

// A data module connected to a database made from the schema, with chosen columns changed: on each backend.
class DatasetTest : public ::testing::TestWithParam<TestBackend>
{
protected:
    void SetUp() override
    {
        if (const std::string why = skipReason(GetParam()); !why.empty())
            GTEST_SKIP() << why;
    }

    void TearDown() override
    {
        dmod.reset();
        db.reset();
    }

    // A new database each time.
    void makeDatabase(const std::vector<ColumnChange>& changes = {}, const std::string& rows = {})
    {
        dmod.reset();
        db = std::make_unique<TestDatabase>(GetParam());
        db->run(schemaWith(GetParam(), changes) + rows);
        dmod = std::make_unique<TDMod>(db->folder());
        dmod->ADOCON().setConnectionString(db->connectionString());
    }

    bool onServer() const { return GetParam() == TestBackend::Server; }
    long long queryNumber(const std::string& sql) { return db->number(sql); }

    std::unique_ptr<TestDatabase> db; // declared first: the data module goes before its database
    std::unique_ptr<TDMod> dmod;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(DatasetTest);

struct OpenFailure
{
    ColumnChange change;
    const char* dataset;
    const char* message;
    ErrorKind kind = ErrorKind::Unsupported; // a column of another kind or size than its field
};

const OpenFailure openFailures[] = {
    {{"ypzdk", "兑换点", std::nullopt}, "typzdk", "typzdk: Field '兑换点' not found", ErrorKind::NotFound},
    {{"oper", "operid", std::nullopt}, "toper", "toper: Field 'operid' not found", ErrorKind::NotFound},
    {{"partment", "部门名称", "NVARCHAR(50)"},
     "tbm",
     "tbm: Type mismatch for field '部门名称', expecting: String actual: WideString"},
    {{"ypzdk", "名称", "VARCHAR(50)"},
     "typzdk",
     "typzdk: Type mismatch for field '名称', expecting: WideString actual: String"},
    {{"oper", "登录时间", "NVARCHAR(20)"},
     "toper",
     "toper: Type mismatch for field '登录时间', expecting: DateTime actual: WideString"},
    {{"company", "clientid", "DECIMAL(19,4)"},
     "tdw",
     "tdw: Type mismatch for field 'clientid', expecting: Float actual: BCD"},
    {{"kc", "购进单价", "DECIMAL(10,2)"}, "tkc", "tkc: Size mismatch for field '购进单价', expecting: 4 actual: 2"},
    // Scale 0 and fewer than 10 digits read as a 32-bit integer; with more digits it stays BCD.
    {{"kc", "购进金额", "DECIMAL(9,0)"},
     "tkc",
     "tkc: Type mismatch for field '购进金额', expecting: BCD actual: Integer"},
    {{"kc", "购进金额", "DECIMAL(15,0)"}, "tkc", "tkc: Size mismatch for field '购进金额', expecting: 4 actual: 0"},
};

TEST_P(DatasetTest, OpenFailsOnAColumnThatDoesNotFitItsDeclaredField)
{
    for (const OpenFailure& c : openFailures) {
        SCOPED_TRACE(c.message);
        makeDatabase({c.change});
        Dataset& dataset = dmod->dataset(c.dataset);
        EXPECT_EQ(errorOf([&] { dataset.open(); }), c.message);
        EXPECT_EQ(kindOf([&] { dataset.open(); }), c.kind);
        EXPECT_FALSE(dataset.active());
        EXPECT_TRUE(dmod->ADOCON().connected());
        EXPECT_EQ(dataset.recordCount(), 0);
    }
}

TEST_P(DatasetTest, KindsOfOneFamilyBind)
{
    // A 16-bit field over a 32-bit column, a fixed-length field over a variable one, and the other way round.
    makeDatabase({{"company", "出入", "INTEGER"}, {"company", "电话", "NVARCHAR(20)"}, {"ypzdk", "条码", "NCHAR(15)"}});
    dmod->tdw().open();
    dmod->typzdk().open();
    EXPECT_EQ(dmod->tdw().fieldByName("出入").kind(), FieldKind::SmallInt);
    EXPECT_EQ(dmod->tdw().fieldByName("电话").kind(), FieldKind::FixedWideString);
}

TEST_P(DatasetTest, DeclaredTextFieldTakesAShorterColumnsSize)
{
    struct SizeCase
    {
        const char* type;
        int size;
    };
    for (const SizeCase& c :
         {SizeCase{"NVARCHAR(30)", 30}, SizeCase{"NVARCHAR(80)", 50}, SizeCase{"NVARCHAR(50)", 50}}) {
        SCOPED_TRACE(c.type);
        makeDatabase({{"ypzdk", "名称", c.type}});
        dmod->typzdk().open();
        EXPECT_EQ(dmod->typzdk().fieldByName("名称").size(), c.size);
        dmod->typzdk().close();
    }
}

TEST_P(DatasetTest, RequiredFieldRefusesTheRowWithItsLabel)
{
    makeDatabase();
    Dataset& tbm = dmod->tbm();
    tbm.open();
    tbm.append();
    tbm.fieldByName("部门负责人").setAsString("王五");
    EXPECT_EQ(errorOf([&] { tbm.post(); }), "Field '部门名称' must have a value");
    EXPECT_TRUE(tbm.editing());
    EXPECT_EQ(queryNumber("select count(*) from partment"), 0);

    tbm.fieldByName("部门名称").setAsString("药房");
    tbm.post();
    EXPECT_FALSE(tbm.editing());
    EXPECT_EQ(tbm.recordCount(), 1);
    EXPECT_EQ(tbm.fieldByName("部门名称").asString(), "药房");
    EXPECT_EQ(queryNumber("select count(*) from partment where 部门名称='药房' and 部门负责人='王五'"), 1);
}

TEST_P(DatasetTest, DatasetWithoutDeclaredFieldsExposesEveryColumn)
{
    makeDatabase({{"OperatorTable", "备用", "NVARCHAR(20)"}},
                 "insert into \"OperatorTable\"(username, userid, passwords, able, 备用) values ('admin', 1, '1234', "
                 "1849316807, 'x');");
    Dataset& tuser = dmod->tuser();
    tuser.open();
    ASSERT_EQ(tuser.fields().size(), 16u);
    EXPECT_EQ(tuser.fieldByName("UserId").fieldName(), "userid");
    EXPECT_EQ(tuser.fieldByName("UserId").asString(), "1");
    EXPECT_EQ(tuser.fieldByName("passwords").asString(), "1234");
    EXPECT_EQ(tuser.fieldByName("able").asLargeInt(), 1849316807);
    EXPECT_EQ(tuser.fieldByName("备用").asString(), "x");
    EXPECT_EQ(tuser.fieldByName("username").kind(), FieldKind::WideString);
}

TEST_P(DatasetTest, DeclaredDatasetDoesNotExposeOtherColumns)
{
    makeDatabase({{"oper", "备注", "NVARCHAR(20)"}});
    Dataset& tyg = dmod->dataset("tyg");
    tyg.open();
    EXPECT_EQ(tyg.fields().size(), 13u);
    EXPECT_EQ(tyg.findField("passwords"), nullptr);
    EXPECT_EQ(errorOf([&] { tyg.fieldByName("passwords"); }), "tyg: Field 'passwords' not found");
    EXPECT_TRUE(tyg.active());

    Dataset& toper = dmod->toper();
    toper.open();
    std::vector<std::string> names;
    for (const auto& field : toper.fields())
        names.push_back(field->fieldName());
    EXPECT_EQ(names, (std::vector<std::string>{"登录时间", "退出时间", "userid", "operid"}));
    EXPECT_EQ(errorOf([&] { toper.fieldByName("备注"); }), "toper: Field '备注' not found");
}

TEST_P(DatasetTest, LoginRecordGetsTheKeyTheDatabaseAssignsAndStandsLast)
{
    // Rows loaded with keys of their own; the server's counter is then moved on as the README says.
    makeDatabase({}, std::string("insert into oper(operid, userid) values (3, '1'); insert into oper(operid, userid) "
                                 "values (7, '1');") +
                         (onServer() ? "select setval(pg_get_serial_sequence('\"oper\"', 'operid'), max(operid)) "
                                       "from oper;"
                                     : "") +
                         "delete from oper where operid = 7;");
    Dataset& toper = dmod->toper();
    toper.open();
    ASSERT_EQ(toper.recordCount(), 1);
    toper.append();
    toper.fieldByName("登录时间").setAsDateTime({2026, 12, 10, 9, 5, 7});
    toper.fieldByName("userid").setAsLargeInt(1);
    toper.post();
    toper.last();
    EXPECT_EQ(toper.recNo(), 1);
    // AUTOINCREMENT never reuses 7, so the key is the database's and not a count of rows.
    EXPECT_EQ(toper.fieldByName("operid").asLargeInt(), 8);
    EXPECT_EQ(queryNumber("select max(operid) from oper"), 8);
    EXPECT_EQ(toper.fieldByName("userid").asString(), "1");
    EXPECT_EQ(toper.fieldByName("登录时间").asString(), "2026-12-10 09:05:07");
    EXPECT_TRUE(toper.fieldByName("退出时间").isNull());
    EXPECT_EQ(queryNumber("select count(*) from oper where 登录时间 = '2026-12-10 09:05:07' and userid = '1' "
                          "and 退出时间 is null"),
              1);
}

TEST_P(DatasetTest, FieldsRefuseWritesOutsideEditingAndIntoTheKey)
{
    makeDatabase();
    Dataset& toper = dmod->toper();
    toper.open();
    EXPECT_EQ(errorOf([&] { toper.fieldByName("userid").setAsString("1"); }),
              "toper: Dataset not in edit or insert mode");
    toper.append();
    EXPECT_EQ(errorOf([&] { toper.fieldByName("operid").setAsLargeInt(5); }), "Field 'operid' cannot be modified");
    toper.cancel();
    EXPECT_EQ(toper.recordCount(), 0);
    EXPECT_EQ(queryNumber("select count(*) from oper"), 0);
}

struct ReadCase
{
    const char* username;
    const char* asString; // of able
    bool convertible;
    std::int64_t asLargeInt;
};

// able holds what a damaged rights column might: fractions, text, nothing.
const ReadCase readCases[] = {
    {"whole", "1849316807", true, 1849316807},
    {"half-even-down", "2.5", true, 2},
    {"half-even-up", "3.5", true, 4},
    {"negative-half", "-2.5", true, -2},
    {"fraction", "12.7", true, 13},
    {"text", "abc", false, 0},
    {"empty", "", false, 0},
    {"null", "", false, 0},
};

TEST_P(DatasetTest, ReadingFieldsConverts)
{
    if (onServer())
        GTEST_SKIP() << "the server's bigint column holds whole numbers only, not the text and fractions read here";
    makeDatabase({}, "insert into \"OperatorTable\"(username, able) values ('whole', 1849316807), ('half-even-down', "
                     "2.5), ('half-even-up', 3.5), ('negative-half', -2.5), ('fraction', 12.7), "
                     "('text', 'abc'), ('empty', ''), ('null', NULL);");
    Dataset& tuser = dmod->tuser();
    tuser.open();
    for (const ReadCase& c : readCases) {
        SCOPED_TRACE(c.username);
        ASSERT_TRUE(tuser.locate("username", c.username));
        Field& able = tuser.fieldByName("able");
        EXPECT_EQ(able.asString(), c.asString);
        if (c.convertible)
            EXPECT_EQ(able.asLargeInt(), c.asLargeInt);
        else
            EXPECT_THROW(able.asLargeInt(), ConversionError);
    }
    ASSERT_TRUE(tuser.locate("username", "text"));
    try {
        tuser.fieldByName("able").asLargeInt();
        ADD_FAILURE() << "'abc' read as an integer";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
}

struct WriteCase
{
    const char* dataset;
    const char* field;
    const char* input;
    const char* shown; // what asString gives back, or the error text
    bool fails;
};

// Text written into fields of each kind, converted as the field's kind holds it.
const WriteCase writeCases[] = {
    {"tcr", "出库单位", " 12 ", "12", false},
    {"tcr", "出库单位", "12.5", "'12.5' is not a valid integer value", true},
    {"tcr", "出库单位", "abc", "'abc' is not a valid integer value", true},
    {"tcr", "出库单位", "", "", false}, // no value
    {"tdw", "出入", "40000", "40000 is not a valid value for field '出入'. The allowed range is -32768 to 32767", true},
    {"tcr", "数量", "2.50", "2.5", false},
    {"tcr", "数量", "1e3", "1000", false},
    {"tcr", "数量", "x1", "'x1' is not a valid floating point value", true},
    {"tcr", "金额", "19.99", "19.99", false},
    {"tcr", "日期", "2026-1-5", "2026-01-05 00:00:00", false},
    {"tcr", "日期", "2026-12-10 09:05", "2026-12-10 09:05:00", false},
    {"tcr", "日期", "2026-02-30", "'2026-02-30' is not a valid date and time", true},
    {"tcr", "出入", "true", "True", false},
    {"tcr", "出入", "0", "False", false},
    {"tcr", "出入", "maybe", "'maybe' is not a valid boolean value", true},
    {"tcr", "操作人", "0123456789abcdef", "0123456789ab", false}, // cut to the field's 12 characters
    {"tcr", "患者姓名", "欧阳一二三四五六七八九", "欧阳一二三四五六七八", false},
};

TEST_P(DatasetTest, WritingFieldsConvertsToTheirKind)
{
    makeDatabase();
    for (const WriteCase& c : writeCases) {
        SCOPED_TRACE(std::string(c.field) + " <- '" + c.input + "'");
        Dataset& dataset = dmod->dataset(c.dataset);
        dataset.open();
        dataset.append();
        Field& field = dataset.fieldByName(c.field);
        try {
            field.setAsString(c.input);
            EXPECT_FALSE(c.fails);
            EXPECT_EQ(field.asString(), c.shown);
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(c.fails);
            EXPECT_EQ(std::string(e.what()), c.shown);
            EXPECT_TRUE(field.isNull());
        }
        dataset.cancel();
    }
}

TEST_P(DatasetTest, WholeDoublesDisplayWithoutAFraction)
{
    makeDatabase({}, "insert into \"OperatorTable\"(username, userid) values ('a', 12), ('b', 2.5), ('c', NULL), "
                     "('d', 1e20), ('e', -0.125);");
    Dataset& tuser = dmod->tuser();
    tuser.open();
    std::vector<std::string> shown;
    for (tuser.first(); !tuser.eof(); tuser.next())
        shown.push_back(tuser.fieldByName("userid").asString());
    EXPECT_EQ(shown, (std::vector<std::string>{"12", "2.5", "", "1E20", "-0.125"}));
}

struct LocateCase
{
    const char* field;
    const char* value;
    LocateOptions options;
    int row; // -1: not found, position unchanged
};

const LocateCase locateCases[] = {
    {"username", "Admin", {}, 0},
    {"username", "admin", {}, -1},
    {"username", "admin", {true, false}, 0},
    {"username", "cl", {}, -1},
    {"username", "cl", {false, true}, 1},
    {"username", "CL", {false, true}, -1},
    {"username", "CL", {true, true}, 1},
    {"USERNAME", "张", {true, true}, 2},
    {"userid", "12", {}, 2},
    {"UserId", "1", {true, true}, 0}, // a number column compares whole values, never prefixes
    {"userid", "1.0", {}, 0},
    {"userid", " 2 ", {}, 1},
    {"userid", "abc", {true, true}, -1},
    {"userid", "", {true, true}, -1},
    {"passwords", "", {}, 2}, // an empty text is a value; a null is not
};

TEST_P(DatasetTest, LocateFindsTheFirstMatchingRow)
{
    makeDatabase({}, "insert into \"OperatorTable\"(username, userid, passwords) values ('Admin', 1, NULL), "
                     "('clerk', 2, NULL), ('张三', 12, ''), ('clerk2', 2, 'x');");
    Dataset& tuser = dmod->tuser();
    tuser.open();
    for (const LocateCase& c : locateCases) {
        SCOPED_TRACE(std::string(c.field) + " '" + c.value + "'");
        tuser.moveTo(3);
        EXPECT_EQ(tuser.locate(c.field, c.value, c.options), c.row >= 0);
        EXPECT_EQ(tuser.recNo(), c.row >= 0 ? c.row : 3);
    }
    EXPECT_THROW(tuser.locate("nothing", "x"), DatabaseError);
}

// Rows are held packed: a result costs a small multiple of its values' bytes, however many columns are empty.
TEST_P(DatasetTest, RowsTakeLittleMoreThanTheirValues)
{
    makeDatabase({}, "with recursive n(i) as (select 1 union all select i + 1 from n where i < 5000) "
                     "insert into \"OperatorTable\"(username, userid, passwords, able) "
                     "select 'user' || i, i, 'pw' || i, 1849316807 + i from n;");
    Dataset& tuser = dmod->tuser();
    tuser.open();
    ASSERT_EQ(tuser.recordCount(), 5000);
    std::size_t valueBytes = 0;
    for (tuser.first(); !tuser.eof(); tuser.next())
        valueBytes += tuser.fieldByName("username").asString().size() +
                      tuser.fieldByName("passwords").asString().size() + 2 * sizeof(std::int64_t);
    EXPECT_LT(tuser.rowBytes(), 3 * valueBytes) << "values " << valueBytes;
    tuser.last();
    EXPECT_EQ(tuser.fieldByName("username").asString(), "user5000");
    EXPECT_EQ(tuser.fieldByName("able").asLargeInt(), 1849316807 + 5000);
}

TEST_P(DatasetTest, NavigationMarksTheEnds)
{
    makeDatabase({}, "insert into partment(部门名称) values ('a'), ('b');");
    Dataset& tbm = dmod->tbm();
    tbm.open();
    EXPECT_TRUE(tbm.bof());
    EXPECT_EQ(tbm.recNo(), 0);
    tbm.next();
    EXPECT_EQ(tbm.recNo(), 1);
    EXPECT_FALSE(tbm.eof());
    tbm.next();
    EXPECT_TRUE(tbm.eof());
    EXPECT_EQ(tbm.recNo(), 1);
    tbm.prior();
    tbm.prior();
    EXPECT_TRUE(tbm.bof());
    EXPECT_EQ(tbm.fieldByName("部门名称").asString(), "a");
    EXPECT_THROW(tbm.moveTo(2), DatabaseError);
    tbm.close();
    EXPECT_EQ(tbm.recNo(), -1);
    EXPECT_TRUE(tbm.fieldByName("部门名称").isNull());
}

TEST_P(DatasetTest, BatchRowsReachTheTableOnlyWhenApplied)
{
    makeDatabase({}, "insert into ypzdk(id, 名称) values ('Y1', '阿莫西林');");
    Dataset& tcr = dmod->dataset("tcr");
    tcr.open();
    for (const char* amount : {"10.5", "20"}) {
        tcr.append();
        tcr.fieldByName("ypid").setAsString("Y1");
        tcr.fieldByName("金额").setAsString(amount);
        tcr.fieldByName("类型").setAsString("零售");
        tcr.post();
    }
    EXPECT_EQ(tcr.recordCount(), 2);
    EXPECT_EQ(tcr.pendingUpdates(), 2);
    EXPECT_EQ(queryNumber("select count(*) from cr"), 0);
    tcr.applyUpdates();
    EXPECT_EQ(tcr.pendingUpdates(), 0);
    EXPECT_EQ(queryNumber("select count(*) from cr where ypid = 'Y1' and 类型 = '零售'"), 2);
    EXPECT_EQ(queryNumber("select sum(金额) * 10 from cr"), 305);
    tcr.last();
    EXPECT_EQ(tcr.fieldByName("crid").asLargeInt(), queryNumber("select max(crid) from cr"));
}

TEST_P(DatasetTest, FailedBatchWritesNothing)
{
    makeDatabase({{"cr", "数量", "DOUBLE CHECK (\"数量\" < 100)"}});
    Dataset& tcr = dmod->dataset("tcr");
    tcr.open();
    for (const char* quantity : {"5", "500"}) {
        tcr.append();
        tcr.fieldByName("金额").setAsString("1");
        tcr.fieldByName("数量").setAsString(quantity);
        tcr.post();
    }
    EXPECT_THROW(tcr.applyUpdates(), DatabaseError);
    EXPECT_EQ(queryNumber("select count(*) from cr"), 0);
    EXPECT_EQ(tcr.pendingUpdates(), 2);
    EXPECT_TRUE(tcr.fieldByName("crid").isNull());
}

TEST_P(DatasetTest, ConnectionFailureLeavesEverythingClosed)
{
    makeDatabase();
    dmod->ADOCON().setConnectionString(
        onServer() ? "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + db->server()->uriOf("velmora_missing") +
                         ";User ID=" + db->server()->user + ";Jet OLEDB:Database Password=" + db->server()->password
                   : fileConnectionString(db->folder() + "missing.mdb"));
    EXPECT_THROW(dmod->ADOCON().open(), DatabaseError);
    EXPECT_FALSE(dmod->ADOCON().connected());
    EXPECT_THROW(dmod->toper().open(), DatabaseError);
    EXPECT_FALSE(dmod->toper().active());
    EXPECT_FALSE(dmod->ADOCON().connected());
}

TEST_P(DatasetTest, ConnectionStringChangesOnlyWhileClosed)
{
    makeDatabase();
    Connection& connection = dmod->ADOCON();
    const std::string held = connection.connectionString();
    connection.open();
    connection.setConnectionString(held); // the same value: nothing to do
    EXPECT_THROW(connection.setConnectionString(held + ";"), DatabaseError);
    EXPECT_EQ(connection.connectionString(), held);
    dmod->tbm().open();
    connection.close();
    EXPECT_FALSE(dmod->tbm().active());
    connection.setConnectionString(held + ";");
    EXPECT_EQ(connection.connectionString(), held + ";");
}

} // namespace
