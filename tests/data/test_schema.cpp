#include "data/Errors.h"
#include "data/Schema.h"

#include <gtest/gtest.h>

#include <string>

using namespace velmora::data;

namespace {

struct TableCount
{
    const char* name;
    std::size_t columns;
    int declared;
};

// Column counts the database must have: every column the module declares or that a text or the login names.
const TableCount tableCounts[] = {
    {"OperatorTable", 15, 13}, {"bh", 1, 0},       {"oper", 4, 4},
    {"ypzdk", 21, 21},         {"cr", 47, 0},      {"kc", 9, 9},
    {"company", 10, 10},       {"YdInfo", 14, 14}, {"khzl", 7, 7},
    {"partment", 4, 4},        {"sccj", 7, 7},     {"zhaiwu", 11, 11},
};

TEST(SchemaTest, HasTheTwelveTablesInOrder)
{
    const auto tables = schemaTables();
    ASSERT_EQ(tables.size(), std::size(tableCounts));
    for (std::size_t i = 0; i < tables.size(); ++i) {
        EXPECT_EQ(tables[i].name, tableCounts[i].name);
        EXPECT_EQ(tables[i].columns.size(), tableCounts[i].columns) << tableCounts[i].name;
        EXPECT_EQ(tables[i].declaredColumns, tableCounts[i].declared) << tableCounts[i].name;
    }
    EXPECT_EQ(findTable("OPERATORTABLE"), &tables[0]);
    EXPECT_EQ(findTable("nothing"), nullptr);
}

TEST(SchemaTest, FlagsAndLabels)
{
    const TableDefinition& operators = *findTable("OperatorTable");
    EXPECT_EQ(findColumn(operators, "username")->label, "用户名");
    EXPECT_EQ(findColumn(operators, "oper")->label, "真实姓名");
    EXPECT_EQ(findColumn(operators, "UserId")->kind, FieldKind::Float);
    EXPECT_TRUE(findColumn(*findTable("partment"), "部门名称")->flags & Required);
    EXPECT_TRUE(findColumn(*findTable("cr"), "金额")->flags & Required);
    EXPECT_EQ(findColumn(*findTable("ypzdk"), "编号")->kind, FieldKind::FixedWideString);
    EXPECT_EQ(findColumn(*findTable("oper"), "operid")->kind, FieldKind::AutoInc);
}

struct KindCase
{
    AdoType type;
    int definedSize;
    int precision;
    int scale;
    bool autoIncrement;
    FieldKind kind;
    int size;
};

const KindCase kindCases[] = {
    {AdoType::adVarChar, 50, 0, 0, false, FieldKind::String, 50},
    {AdoType::adChar, 18, 0, 0, false, FieldKind::FixedString, 18},
    {AdoType::adVarWChar, 30, 0, 0, false, FieldKind::WideString, 30},
    {AdoType::adBSTR, 10, 0, 0, false, FieldKind::WideString, 10},
    {AdoType::adWChar, 16, 0, 0, false, FieldKind::FixedWideString, 16},
    {AdoType::adSmallInt, 2, 5, 0, false, FieldKind::SmallInt, 0},
    {AdoType::adTinyInt, 1, 3, 0, false, FieldKind::SmallInt, 0},
    {AdoType::adUnsignedTinyInt, 1, 3, 0, false, FieldKind::Word, 0},
    {AdoType::adUnsignedSmallInt, 2, 5, 0, false, FieldKind::Word, 0},
    {AdoType::adInteger, 4, 10, 0, false, FieldKind::Integer, 0},
    {AdoType::adInteger, 4, 10, 0, true, FieldKind::AutoInc, 0},
    {AdoType::adError, 4, 10, 0, false, FieldKind::Integer, 0},
    {AdoType::adUnsignedInt, 4, 10, 0, false, FieldKind::Integer, 0},
    {AdoType::adNumeric, 0, 9, 0, false, FieldKind::Integer, 0},
    {AdoType::adNumeric, 0, 10, 0, false, FieldKind::BCD, 0},
    {AdoType::adNumeric, 0, 9, 2, false, FieldKind::BCD, 2},
    {AdoType::adNumeric, 0, 19, 4, false, FieldKind::BCD, 4},
    {AdoType::adNumeric, 0, 19, -1, false, FieldKind::BCD, 4},
    {AdoType::adDecimal, 0, 15, 4, false, FieldKind::BCD, 4},
    {AdoType::adCurrency, 8, 19, 4, false, FieldKind::BCD, 4},
    {AdoType::adVarNumeric, 0, 12, 3, false, FieldKind::BCD, 3},
    {AdoType::adBigInt, 8, 19, 0, false, FieldKind::LargeInt, 0},
    {AdoType::adUnsignedBigInt, 8, 20, 0, false, FieldKind::LargeInt, 0},
    {AdoType::adSingle, 4, 7, 0, false, FieldKind::Float, 0},
    {AdoType::adDouble, 8, 15, 0, false, FieldKind::Float, 0},
    {AdoType::adDate, 8, 0, 0, false, FieldKind::DateTime, 0},
    {AdoType::adDBTimeStamp, 16, 0, 0, false, FieldKind::DateTime, 0},
    {AdoType::adFileTime, 8, 0, 0, false, FieldKind::DateTime, 0},
    {AdoType::adDBFileTime, 8, 0, 0, false, FieldKind::DateTime, 0},
    {AdoType::adDBDate, 6, 0, 0, false, FieldKind::Date, 0},
    {AdoType::adDBTime, 6, 0, 0, false, FieldKind::Time, 0},
    {AdoType::adBoolean, 2, 0, 0, false, FieldKind::Boolean, 0},
    {AdoType::adLongVarChar, 536870910, 0, 0, false, FieldKind::Memo, 0},
    {AdoType::adLongVarWChar, 536870910, 0, 0, false, FieldKind::Memo, 0},
};

TEST(SchemaTest, ReportedColumnTypesMapToKinds)
{
    for (const KindCase& c : kindCases) {
        ColumnDescription column;
        column.name = "c";
        column.type = c.type;
        column.definedSize = c.definedSize;
        column.precision = c.precision;
        column.scale = c.scale;
        column.autoIncrement = c.autoIncrement;
        EXPECT_EQ(kindForColumn(column), c.kind)
            << "type " << static_cast<int>(c.type) << " p" << c.precision << " s" << c.scale;
        EXPECT_EQ(sizeForColumn(column), c.size) << "type " << static_cast<int>(c.type);
    }
}

TEST(SchemaTest, UnreadableTypeNamesTheColumn)
{
    ColumnDescription column;
    column.name = "照片";
    column.type = AdoType::adEmpty;
    try {
        kindForColumn(column);
        FAIL() << "no error";
    } catch (const DatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("照片"), std::string::npos) << e.what();
    }
}

TEST(SchemaTest, DdlQuotesIdentifiersAndWritesTheDialect)
{
    EXPECT_EQ(createTableSql(*findTable("partment")), "CREATE TABLE \"partment\" (\n"
                                                      "    \"部门名称\" VARCHAR(50) NOT NULL,\n"
                                                      "    \"部门负责人\" NVARCHAR(14),\n"
                                                      "    \"负责人联系方式\" NVARCHAR(50),\n"
                                                      "    \"简码\" NVARCHAR(10)\n"
                                                      ");\n");
    const std::string script = schemaScript();
    for (const char* piece :
         {"\"operid\" INTEGER PRIMARY KEY AUTOINCREMENT", "\"passwords\" NVARCHAR(255)", "\"able\" BIGINT",
          "\"成本金额\" DECIMAL(19,4)", "\"结款日期\" DATETIME", "\"作废日期\" DATETIME", "\"编号\" CHAR(18)",
          "\"编号\" NCHAR(16)", "\"主治\" LONGTEXT", "\"出入\" BIT", "\"出入\" SMALLINT", "\"购进单价\" DECIMAL(10,4)"})
        EXPECT_NE(script.find(piece), std::string::npos) << piece;
}

} // namespace
