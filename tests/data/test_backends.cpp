// The backend interface behaves alike over the embedded file and the server: the same cases on both.

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/Schema.h"
#include "tests/support/BackendTest.h"
#include "tests/support/ErrorOf.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <optional>
#include <set>

using namespace velmora::data;
using namespace velmora::test;

namespace {

class BackendInterfaceTest : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(db->schema());
        backend = connectProvider(db->connectionString(), db->folder());
    }

    static std::vector<std::string> names(const ResultSet& r)
    {
        std::vector<std::string> out;
        for (const auto& c : r.columns)
            out.push_back(c.name);
        return out;
    }

    std::unique_ptr<Backend> backend;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(BackendInterfaceTest);

// Every column of a database made from the backend's DDL reads back as the kind and size the schema gives it.
TEST_P(BackendInterfaceTest, DatabaseFromTheDdlReportsTheSchemasKinds)
{
    for (const TableDefinition& table : schemaTables()) {
        const ResultSet result = backend->openTable(std::string(table.name));
        ASSERT_EQ(result.columns.size(), table.columns.size()) << table.name;
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            const ColumnDefinition& item = table.columns[i];
            const ColumnDescription& column = result.columns[i];
            SCOPED_TRACE(std::string(table.name) + "." + std::string(item.name));
            EXPECT_EQ(column.name, item.name);
            EXPECT_EQ(column.baseTable, table.name);
            EXPECT_EQ(kindForColumn(column), item.kind);
            EXPECT_EQ(column.updatable, item.kind != FieldKind::AutoInc);
            if (item.kind != FieldKind::Memo) {
                EXPECT_EQ(sizeForColumn(column), item.size);
            }
            if (item.kind == FieldKind::BCD) {
                EXPECT_EQ(column.precision, item.precision ? item.precision : 19);
            }
        }
    }
}

// Every kind of column, declared through the one table of kinds in the backend's own dialect, reads back as
// that kind: the words the schema, the import and the server's DDL write are the words the reader knows. What
// a column cannot tell apart reads as the dataset binds it: Word as Integer, a 4-byte float as Float, bytes as
// Memo.
TEST_P(BackendInterfaceTest, EveryKindDeclaredInTheDialectReadsBackAsItself)
{
    std::vector<std::string> names;
    std::vector<ColumnDefinition> columns;
    names.reserve(kindWords().size());
    for (const KindWords& w : kindWords())
        names.push_back("c_" + std::string(kindName(w.kind)));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const FieldKind kind = kindWords()[i].kind;
        const int size = kind == FieldKind::BCD ? 3 : isTextKind(kind) ? 12 : 0;
        columns.push_back({names[i], kind, size, kind == FieldKind::BCD ? 11 : 0});
    }
    backend->createTableIfMissing({"kinds", columns});

    const ResultSet result = backend->openTable("kinds");
    ASSERT_EQ(result.columns.size(), columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnDefinition& item = columns[i];
        const ColumnDescription& column = result.columns[i];
        SCOPED_TRACE(names[i] + " declared " + sqlType(item, onServer() ? Dialect::Server : Dialect::File));
        static const std::map<FieldKind, FieldKind> readAs = {
            {FieldKind::Word, FieldKind::Integer},
            {FieldKind::Single, FieldKind::Float},
            {FieldKind::Blob, FieldKind::Memo},
        };
        const auto other = readAs.find(item.kind);
        EXPECT_EQ(kindName(kindForColumn(column)), kindName(other == readAs.end() ? item.kind : other->second));
        if (familyOf(item.kind) != KindFamily::Long) {
            EXPECT_EQ(sizeForColumn(column), item.size);
        }
        if (item.kind == FieldKind::BCD) {
            EXPECT_EQ(column.precision, 11);
        }
    }
}

TEST_P(BackendInterfaceTest, ValuesRoundTripThroughInsertAndRead)
{
    const std::string tricky = "O'Brien\"; DROP TABLE cr; --";
    const std::vector<std::vector<std::pair<std::string, Value>>> rows = {
        {{"出入", true},
         {"数量", 0.1},
         {"出库单位", std::int64_t{-7}},
         {"客户", tricky},
         {"金额", 12.5},
         {"成本金额", std::int64_t{7}},
         {"日期", std::string("2026-12-10 08:00:00")},
         {"编号", std::string("D-1")}},
        {{"出入", false},
         {"数量", -1e300},
         {"出库单位", std::int64_t{2147483647}},
         {"客户", std::string("张三")},
         {"金额", -0.0001},
         {"成本金额", std::monostate{}},
         {"日期", std::monostate{}},
         {"编号", std::string()}},
        {{"出入", std::monostate{}},
         {"数量", std::monostate{}},
         {"出库单位", std::monostate{}},
         {"客户", std::monostate{}},
         {"金额", std::int64_t{0}},
         {"成本金额", std::monostate{}},
         {"日期", std::monostate{}},
         {"编号", std::monostate{}}},
    };
    std::vector<std::int64_t> keys;
    for (const auto& row : rows)
        keys.push_back(backend->insertRow("cr", row));
    EXPECT_EQ(keys, (std::vector<std::int64_t>{1, 2, 3}));

    // The BCD columns 金额 and 成本金额 read back as the exact decimals written.
    const std::map<std::pair<std::size_t, std::string>, Value> decimals = {
        {{0, "金额"}, *Decimal::parse("12.5")},
        {{0, "成本金额"}, Decimal(7)},
        {{1, "金额"}, *Decimal::parse("-0.0001")},
        {{2, "金额"}, Decimal(0)},
    };
    const ResultSet r = backend->openCommand(
        "select crid, 出入, 数量, 出库单位, 客户, 金额, 成本金额, 日期, 编号 from cr order by crid");
    ASSERT_EQ(r.rows.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.rows[i][0], Value(keys[i]));
        for (std::size_t j = 0; j < rows[i].size(); ++j) {
            const auto decimal = decimals.find({i, rows[i][j].first});
            EXPECT_EQ(r.rows[i][j + 1], decimal == decimals.end() ? rows[i][j].second : decimal->second)
                << rows[i][j].first;
        }
    }
    EXPECT_TRUE(r.columns[0].autoIncrement);
    EXPECT_FALSE(r.columns[0].updatable);
}

// Names with capitals (OperatorTable, YdInfo.ID) read in any letter case, as the embedded engine reads them;
// literals, aliases and the key's name are not touched.
TEST_P(BackendInterfaceTest, NamesReadInAnyLetterCase)
{
    backend->insertRow("YdInfo", {{"药店名称", std::string("OperatorTable 药店")}});
    backend->insertRow("sccj", {{"生产厂家", std::string("华北制药")}});
    backend->insertRow("OperatorTable", {{"username", std::string("admin")}, {"userid", 1.0}});

    struct Case
    {
        const char* text;
        std::vector<std::string> columns;
        std::size_t rows;
    };
    const Case cases[] = {
        {"select ID, 药店名称 from YdInfo", {"ID", "药店名称"}, 1},
        {"select id, 药店名称 from ydinfo where 药店名称 = 'OperatorTable 药店'", {"ID", "药店名称"}, 1},
        {"select X.ID, y.ID from YDINFO x, Sccj Y where 1=2", {"x.ID", "Y.ID"}, 0},
        {"select username, UserId from OperatorTable where UserId = 1", {"username", "userid"}, 1},
        {"select [username] from [OperatorTable] where [userid] = 1", {"username"}, 1},
        {"select count(*) as n from operatortable", {"n"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ResultSet r = backend->openCommand(c.text);
        std::vector<std::string> got = names(r);
        std::vector<std::string> lower;
        for (std::string name : got) {
            for (char& ch : name)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            lower.push_back(name);
        }
        std::vector<std::string> expected;
        for (std::string name : c.columns) {
            for (char& ch : name)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            expected.push_back(name);
        }
        EXPECT_EQ(lower, expected);
        EXPECT_EQ(r.rows.size(), c.rows);
    }
    const ResultSet ydInfo = backend->openTable("ydinfo");
    EXPECT_EQ(ydInfo.columns[0].name, "ID");
    EXPECT_EQ(ydInfo.columns[0].baseTable, "YdInfo");
}

TEST_P(BackendInterfaceTest, TransactionsWriteAllOrNothing)
{
    backend->beginTransaction();
    backend->insertRow("partment", {{"部门名称", std::string("a")}});
    backend->insertRow("partment", {{"部门名称", std::string("b")}});
    backend->rollback();
    EXPECT_TRUE(backend->openTable("partment").rows.empty());

    backend->beginTransaction();
    EXPECT_THROW(backend->beginTransaction(), DatabaseError);
    backend->insertRow("partment", {{"部门名称", std::string("a")}});
    // A refused row leaves the rows around it in the transaction.
    EXPECT_THROW(backend->insertRow("partment", {{"部门名称", std::monostate{}}}), DatabaseError);
    backend->insertRow("partment", {{"部门名称", std::string("c")}});
    backend->commit();
    EXPECT_EQ(backend->openTable("partment").rows.size(), 2u);
    EXPECT_THROW(backend->commit(), DatabaseError);
    EXPECT_NO_THROW(backend->rollback());
}

TEST_P(BackendInterfaceTest, CommandTextsAreCheckedBeforeTheyRun)
{
    backend->insertRow("bh", {{"编号", std::string("x")}});
    EXPECT_EQ(backend->openCommand("select * from bh;  -- done\n").rows.size(), 1u);
    for (const char* text : {"", "   ", "-- nothing", "select * from bh; delete from bh", "delete from bh",
                             "selec * from bh", "select * from missing"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(backend->openCommand(text), DatabaseError);
    }
    EXPECT_EQ(backend->openTable("bh").rows.size(), 1u);
    EXPECT_THROW(backend->openTable("missing"), DatabaseError);
    EXPECT_THROW(backend->insertRow("bh", {{"nope", std::string("x")}}), DatabaseError);
}

// Callers tell failures apart by their kind, alike on both backends, never by their text; the engine's own
// code travels with it.
TEST_P(BackendInterfaceTest, FailuresNameTheirKind)
{
    EXPECT_EQ(kindOf([&] { backend->openCommand("  "); }), ErrorKind::Malformed);
    EXPECT_EQ(kindOf([&] { backend->openCommand("delete from bh"); }), ErrorKind::Malformed);
    EXPECT_EQ(kindOf([&] { backend->openCommand("select * from bh; delete from bh"); }), ErrorKind::Malformed);
    EXPECT_EQ(kindOf([&] { backend->commit(); }), ErrorKind::Other);

    const auto notNull = causeOf([&] { backend->insertRow("partment", {{"部门名称", std::monostate{}}}); });
    ASSERT_TRUE(notNull);
    EXPECT_EQ(notNull->kind, ErrorKind::Constraint);
    if (onServer())
        EXPECT_EQ(notNull->sqlState, "23502"); // not_null_violation
    else
        EXPECT_EQ(notNull->engineCode, 1299); // SQLITE_CONSTRAINT_NOTNULL
}

// Columns of one name: a copy read straight from a table is called by its alias; a named copy keeps its name.
TEST_P(BackendInterfaceTest, CopiesOfOneNameAreCalledByTheirTablesAlias)
{
    const ResultSet r = backend->openCommand("select a.*, b.编号 as 生产批号, b.id from cr a, ypzdk b where 1=2");
    const std::vector<std::string> all = names(r);
    const std::set<std::string> got(all.begin(), all.end());
    for (const char* name : {"a.生产批号", "生产批号", "id", "crid", "编号"})
        EXPECT_TRUE(got.contains(name)) << name;
}

} // namespace
