#include "data/Errors.h"
#include "data/engines/CommandText.h"
#include "data/engines/SqliteBackend.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace velmora::data;
using velmora::test::TempFolder;

namespace {

class SqliteBackendTest : public ::testing::Test
{
protected:
    void SetUp() override { m_db = createDatabaseFile(m_dir.file("t.db")); }

    static const ColumnDescription& column(const ResultSet& r, std::string_view name)
    {
        for (const auto& c : r.columns) {
            if (c.name == name)
                return c;
        }
        throw std::runtime_error("no column " + std::string(name));
    }

    static std::vector<std::string> names(const ResultSet& r)
    {
        std::vector<std::string> out;
        for (const auto& c : r.columns)
            out.push_back(c.name);
        return out;
    }

    TempFolder m_dir;
    std::unique_ptr<SqliteBackend> m_db;
};

struct DescriptionCase
{
    const char* declared;
    AdoType type;
    int size;
    int precision;
    int scale;
};

TEST_F(SqliteBackendTest, DescribesEachColumnByItsDeclaredType)
{
    const std::vector<DescriptionCase> cases = {
        {"NVARCHAR(10)", AdoType::adVarWChar, 10, 0, 0},
        {"TEXT(50)", AdoType::adVarWChar, 50, 0, 0},
        {"VARCHAR(12)", AdoType::adVarChar, 12, 0, 0},
        {"NCHAR(16)", AdoType::adWChar, 16, 0, 0},
        {"CHAR(18)", AdoType::adChar, 18, 0, 0},
        {"SMALLINT", AdoType::adSmallInt, 2, 5, 0},
        {"TINYINT", AdoType::adUnsignedTinyInt, 1, 3, 0},
        {"BYTE", AdoType::adUnsignedTinyInt, 1, 3, 0},
        {"INTEGER", AdoType::adInteger, 4, 10, 0},
        {"INT", AdoType::adInteger, 4, 10, 0},
        {"LONG", AdoType::adInteger, 4, 10, 0},
        {"BIGINT", AdoType::adBigInt, 8, 19, 0},
        {"REAL", AdoType::adDouble, 8, 15, 0},
        {"FLOAT", AdoType::adDouble, 8, 15, 0},
        {"DOUBLE", AdoType::adDouble, 8, 15, 0},
        {"DECIMAL(15,4)", AdoType::adNumeric, 19, 15, 4},
        {"NUMERIC(10, 2)", AdoType::adNumeric, 19, 10, 2},
        {"DECIMAL", AdoType::adNumeric, 19, 18, 0},
        {"CURRENCY", AdoType::adCurrency, 8, 19, 4},
        {"MONEY", AdoType::adCurrency, 8, 19, 4},
        {"DATETIME", AdoType::adDate, 8, 0, 0},
        {"DATE", AdoType::adDBDate, 6, 0, 0},
        {"TIME", AdoType::adDBTime, 6, 0, 0},
        {"BIT", AdoType::adBoolean, 2, 0, 0},
        {"BOOLEAN", AdoType::adBoolean, 2, 0, 0},
        {"YESNO", AdoType::adBoolean, 2, 0, 0},
        {"MEMO", AdoType::adLongVarWChar, 536870910, 0, 0},
        {"NTEXT", AdoType::adLongVarWChar, 536870910, 0, 0},
        {"TEXT", AdoType::adLongVarWChar, 536870910, 0, 0},
    };
    std::string ddl = "CREATE TABLE 类型 (";
    for (std::size_t i = 0; i < cases.size(); ++i)
        ddl += (i ? ", 列" : "列") + std::to_string(i) + " " + cases[i].declared;
    m_db->execute(ddl + ")");

    for (const ResultSet& r : {m_db->openTable("类型"), m_db->openCommand("select * from 类型 where 1=2")}) {
        ASSERT_EQ(r.columns.size(), cases.size());
        EXPECT_TRUE(r.rows.empty());
        for (std::size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i].declared);
            const ColumnDescription& c = r.columns[i];
            EXPECT_EQ(c.name, "列" + std::to_string(i));
            EXPECT_EQ(c.type, cases[i].type);
            EXPECT_EQ(c.definedSize, cases[i].size);
            EXPECT_EQ(c.precision, cases[i].precision);
            EXPECT_EQ(c.scale, cases[i].scale);
            EXPECT_TRUE(c.updatable);
            EXPECT_FALSE(c.autoIncrement);
            EXPECT_EQ(c.baseTable, "类型");
            EXPECT_EQ(c.baseColumn, c.name);
        }
    }
}

TEST_F(SqliteBackendTest, AnUnknownTypeWordIsAnErrorNamingTheColumn)
{
    m_db->execute("CREATE TABLE kc (kcid INTEGER PRIMARY KEY, 购进单价 VARCHAR2(10));"
                  "CREATE TABLE cr (crid COUNTER PRIMARY KEY, 编号 CHAR(18))");
    for (const auto& [text, mentions] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"select * from kc", {"'购进单价'", "'kc'", "VARCHAR2(10)"}},
             {"select kcid, 购进单价 + 1 as x from kc", {}}, // computed: typed by its values, no error
             {"select * from cr", {"'crid'", "'cr'", "COUNTER", "INTEGER PRIMARY KEY AUTOINCREMENT"}}}) {
        SCOPED_TRACE(text);
        if (mentions.empty()) {
            EXPECT_NO_THROW(m_db->openCommand(text));
            continue;
        }
        try {
            m_db->openCommand(text);
            ADD_FAILURE() << "opened";
        } catch (const DatabaseError& e) {
            for (const auto& m : mentions)
                EXPECT_NE(std::string(e.what()).find(m), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(m_db->openTable("kc"), DatabaseError);
}

TEST_F(SqliteBackendTest, OnlyTheRowidKeyIsAnAutoIncrement)
{
    struct Case
    {
        const char* ddl;
        bool autoIncrement;
    };
    const std::vector<Case> cases = {
        {"CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT, v NVARCHAR(5))", true},
        {"CREATE TABLE t (id integer primary key, v NVARCHAR(5))", true},
        {"CREATE TABLE t (id INTEGER, v NVARCHAR(5), PRIMARY KEY (id))", true},
        {"CREATE TABLE t (id INT PRIMARY KEY, v NVARCHAR(5))", false},
        {"CREATE TABLE t (id INTEGER PRIMARY KEY, v NVARCHAR(5)) WITHOUT ROWID", false},
        {"CREATE TABLE t (id INTEGER, v NVARCHAR(5), PRIMARY KEY (id, v))", false},
        {"CREATE TABLE t (id INTEGER, v NVARCHAR(5))", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ddl);
        m_db->execute("DROP TABLE IF EXISTS t");
        m_db->execute(c.ddl);
        // Without a rowid key the caller gives the key (a WITHOUT ROWID key cannot be null).
        const Value none = c.autoIncrement ? Value() : Value(std::int64_t{1});
        const auto first = m_db->insertRow("t", {{"id", none}, {"v", std::string("a")}});
        const auto second = m_db->insertRow("T", {{"id", std::int64_t{41}}, {"v", std::string("b")}});
        const auto third = c.autoIncrement ? m_db->insertRow("t", {{"v", std::string("c")}})
                                           : m_db->insertRow("t", {{"id", std::int64_t{42}}, {"v", std::string("c")}});
        const ResultSet r = m_db->openTable("t");
        const ColumnDescription& id = column(r, "id");
        EXPECT_EQ(id.autoIncrement, c.autoIncrement);
        EXPECT_EQ(id.updatable, !c.autoIncrement);
        EXPECT_EQ(id.type, AdoType::adInteger);
        if (c.autoIncrement) {
            EXPECT_EQ(first, 1);
            EXPECT_EQ(second, 41);
            EXPECT_EQ(third, 42);
            ASSERT_EQ(r.rows.size(), 3u);
            EXPECT_EQ(r.rows[2][0], Value(std::int64_t{42}));
        } else {
            EXPECT_EQ(first, 0);
            EXPECT_EQ(second, 0);
            EXPECT_EQ(third, 0);
        }
    }
}

TEST_F(SqliteBackendTest, SeesAKeyAddedByAnotherConnection)
{
    m_db->execute("CREATE TABLE t (id INT, v TEXT)");
    EXPECT_EQ(m_db->insertRow("t", {{"v", std::string("a")}}), 0);
    {
        auto other = connectProvider("Provider=Microsoft.Jet.OLEDB.4.0;User ID=admin;Data Source=" + m_db->path(), "/");
        auto& sqlite = dynamic_cast<SqliteBackend&>(*other);
        sqlite.execute("DROP TABLE t; CREATE TABLE t (id INTEGER PRIMARY KEY, v TEXT)");
    }
    EXPECT_EQ(m_db->insertRow("t", {{"v", std::string("b")}}), 1);
    EXPECT_TRUE(column(m_db->openTable("t"), "id").autoIncrement);
}

// The two tables behind the document-line texts, with the columns they share.
const char* const LineSchema =
    "CREATE TABLE cr (crid INTEGER PRIMARY KEY AUTOINCREMENT, 编号 CHAR(18), "
    "生产批号 NVARCHAR(20), 供应商 NVARCHAR(30), ypid NVARCHAR(8), 金额 DECIMAL(15,4), "
    "数量 DOUBLE, 发票号码 NVARCHAR(20));"
    "CREATE TABLE ypzdk (id NVARCHAR(8), 编号 NCHAR(16), 批准文号 NVARCHAR(30), "
    "生产厂家 NVARCHAR(50), 生产批号 NVARCHAR(20), 供应商 NVARCHAR(50), 兑换点 DOUBLE);"
    "CREATE TABLE kc (kcid INTEGER PRIMARY KEY AUTOINCREMENT, ypid NVARCHAR(8), 数量 DOUBLE);";

TEST_F(SqliteBackendTest, CopiesOfOneNameAreCalledByTheirTablesAlias)
{
    m_db->execute(LineSchema);
    struct Case
    {
        const char* text;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"select a.*,b.批准文号,b.生产厂家,a.供应商,b.编号 as 生产批号,b.兑换点  from cr a,ypzdk b where "
         "a.ypid=b.id  and 1=2",
         {"crid", "编号", "a.生产批号", "a.供应商", "ypid", "金额", "数量", "发票号码", "批准文号", "生产厂家",
          "a.供应商", "生产批号", "兑换点"}},
        {"select a.*,b.*  from cr a,ypzdk b  where a.ypid=b.id",
         {"crid", "a.编号", "a.生产批号", "a.供应商", "ypid", "金额", "数量", "发票号码", "id", "b.编号", "批准文号",
          "生产厂家", "b.生产批号", "b.供应商", "兑换点"}},
        {"select cr.编号, ypzdk.编号 from cr, ypzdk", {"cr.编号", "ypzdk.编号"}},
        {"SELECT x.编号, y.编号 FROM cr AS x INNER JOIN ypzdk AS y ON x.ypid = y.id", {"x.编号", "y.编号"}},
        {"select c.发票号码,c.发票号码 from ypzdk a,kc b,cr c where a.id=b.ypid and a.id=c.ypid",
         {"c.发票号码", "c.发票号码"}},
        {"select a.编号 as 单据号, b.编号 from cr a, ypzdk b", {"单据号", "编号"}},
        {"select 编号, 1 as 编号 from cr", {"cr.编号", "编号"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(names(m_db->openCommand(c.text)), c.names);
    }
    const ResultSet tcr = m_db->openCommand(cases[0].text);
    const ColumnDescription& aliased = column(tcr, "生产批号");
    EXPECT_EQ(aliased.baseTable, "ypzdk");
    EXPECT_EQ(aliased.baseColumn, "编号");
    EXPECT_EQ(aliased.type, AdoType::adWChar);
    EXPECT_EQ(column(tcr, "a.生产批号").baseTable, "cr");
    EXPECT_EQ(column(tcr, "a.生产批号").definedSize, 20);
    EXPECT_TRUE(column(tcr, "crid").autoIncrement);
}

TEST_F(SqliteBackendTest, FromClauseAliases)
{
    using Aliases = std::vector<std::pair<std::string, std::string>>;
    const std::vector<std::pair<std::string, Aliases>> cases = {
        {"select * from cr a,ypzdk b,kc c where a.ypid=b.id", {{"cr", "a"}, {"ypzdk", "b"}, {"kc", "c"}}},
        {"SELECT * FROM cr", {{"cr", "cr"}}},
        {"select * from cr as a left outer join ypzdk b on a.ypid = b.id join kc using (ypid) order by 1",
         {{"cr", "a"}, {"ypzdk", "b"}, {"kc", "kc"}}},
        {"select * from \"my table\" [x], main.`kc` group by 1", {{"my table", "x"}, {"kc", "kc"}}},
        {"select * from (select * from cr q) s, ypzdk", {{"ypzdk", "ypzdk"}}},
        {"select (select 1 from kc k), a.id from ypzdk a -- from cr z\n", {{"ypzdk", "a"}}},
        {"select 'from cr z' from kc", {{"kc", "kc"}}},
        {"select 1 from cr a union select 2 from kc b", {{"cr", "a"}, {"kc", "b"}}},
        {"select 1", {}},
        {"", {}},
        {"select * from", {}},
        {"select * from (((", {}},
        {"select * from a,", {{"a", "a"}}},
    };
    for (const auto& [sql, aliases] : cases) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(fromClauseAliases(sql), aliases);
    }
}

TEST_F(SqliteBackendTest, ComputedColumnsAreTypedByTheirValues)
{
    m_db->execute("CREATE TABLE t (n INTEGER, d DOUBLE, s NVARCHAR(20), b BLOB)");
    m_db->insertRow(
        "t", {{"n", std::int64_t{2}}, {"d", 1.5}, {"s", std::string("药房名称")}, {"b", std::string("\x01\x00", 2)}});
    m_db->insertRow("t", {{"n", std::int64_t{3}}, {"d", 2.5}, {"s", std::string("ab")}, {"b", std::monostate{}}});
    const ResultSet r =
        m_db->openCommand("select sum(n) as total, sum(d) as dsum, s || '号' as label, "
                          "case when n = 2 then zeroblob(2) end as bytes, null as empty, n + d as mixed from t");
    struct Expect
    {
        const char* name;
        AdoType type;
        int size;
    };
    for (const Expect& e :
         {Expect{"total", AdoType::adBigInt, 8}, Expect{"dsum", AdoType::adDouble, 8},
          Expect{"label", AdoType::adVarWChar, 5}, Expect{"bytes", AdoType::adLongVarBinary, 2147483647},
          Expect{"empty", AdoType::adVarWChar, 255}, Expect{"mixed", AdoType::adDouble, 8}}) {
        SCOPED_TRACE(e.name);
        const ColumnDescription& c = column(r, e.name);
        EXPECT_EQ(c.type, e.type);
        EXPECT_EQ(c.definedSize, e.size);
        EXPECT_FALSE(c.updatable);
        EXPECT_TRUE(c.baseTable.empty());
        EXPECT_TRUE(c.baseColumn.empty());
    }
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0], Value(std::int64_t{5}));
    EXPECT_EQ(r.rows[0][1], Value(4.0));
}

TEST_F(SqliteBackendTest, ValuesRoundTripThroughInsertAndRead)
{
    m_db->execute("CREATE TABLE t (id INTEGER PRIMARY KEY, b BIT, x DOUBLE, n BIGINT, s NVARCHAR(50), m MEMO, "
                  "k DECIMAL(15,4), d DATETIME)");
    const std::string tricky = "O'Brien\"; DROP TABLE t; --";
    const std::vector<std::vector<std::pair<std::string, Value>>> rows = {
        {{"b", true},
         {"x", 0.1},
         {"n", std::numeric_limits<std::int64_t>::max()},
         {"s", tricky},
         {"m", std::string("主治\n头痛")},
         {"k", 12.5},
         {"d", std::string("2026-12-10 08:00:00")}},
        {{"b", false},
         {"x", -1e300},
         {"n", std::numeric_limits<std::int64_t>::min()},
         {"s", std::string()},
         {"m", std::string("a\0b", 3)},
         {"k", std::int64_t{7}},
         {"d", std::monostate{}}},
        {{"b", std::monostate{}},
         {"x", std::monostate{}},
         {"n", std::monostate{}},
         {"s", std::monostate{}},
         {"m", std::monostate{}},
         {"k", std::monostate{}},
         {"d", std::monostate{}}},
    };
    for (const auto& row : rows)
        m_db->insertRow("t", row);
    // The BCD column k reads back as the exact decimals written.
    const Value decimals[] = {*Decimal::parse("12.5"), Decimal(7), std::monostate{}};
    const ResultSet r = m_db->openTable("t");
    ASSERT_EQ(r.rows.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.rows[i][0], Value(static_cast<std::int64_t>(i + 1)));
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            EXPECT_EQ(r.rows[i][j + 1], rows[i][j].first == "k" ? decimals[i] : rows[i][j].second) << rows[i][j].first;
    }
}

TEST_F(SqliteBackendTest, BooleanColumnsReadAsBool)
{
    m_db->execute("CREATE TABLE t (b BOOLEAN, i INTEGER); INSERT INTO t VALUES (1, 1), (0, 0), (5, 5), (NULL, NULL)");
    const ResultSet r = m_db->openTable("t");
    const std::vector<Value> expected = {true, false, true, std::monostate{}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(r.rows[i][0], expected[i]);
        EXPECT_FALSE(std::holds_alternative<bool>(r.rows[i][1]));
    }
}

TEST_F(SqliteBackendTest, NamesAreQuotedNotSpliced)
{
    const std::string table = "odd \"name\"; --";
    m_db->execute("CREATE TABLE " + quoteIdentifier(table) + " (" + quoteIdentifier("col\"umn") + " TEXT(5))");
    m_db->insertRow(table, {{"col\"umn", std::string("v")}});
    const ResultSet r = m_db->openTable(table);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.columns[0].name, "col\"umn");
    EXPECT_EQ(r.columns[0].baseTable, table);
}

} // namespace
