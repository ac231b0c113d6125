#include "data/Errors.h"
#include "data/engines/SchemaDialect.h"
#include "tests/support/ErrorOf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora::data;
using velmora::test::errorOf;

namespace {

struct DialectCase
{
    const char* declared;
    AdoType type;
    int size;
    int precision;
    int scale;
    bool fixed;
};

constexpr int Memo = 536870910;

const std::vector<DialectCase> Cases = {
    {"NVARCHAR(10)", AdoType::adVarWChar, 10, 0, 0, false},
    {"nvarchar ( 50 )", AdoType::adVarWChar, 50, 0, 0, false},
    {"NVARCHAR", AdoType::adVarWChar, 255, 0, 0, false},
    {"TEXT(8)", AdoType::adVarWChar, 8, 0, 0, false},
    {"VARCHAR(12)", AdoType::adVarChar, 12, 0, 0, false},
    {"varchar", AdoType::adVarChar, 255, 0, 0, false},
    {"NCHAR(16)", AdoType::adWChar, 16, 0, 0, true},
    {"CHAR(18)", AdoType::adChar, 18, 0, 0, true},
    {"Char (18)", AdoType::adChar, 18, 0, 0, true},
    {"SMALLINT", AdoType::adSmallInt, 2, 5, 0, false},
    {"TINYINT", AdoType::adUnsignedTinyInt, 1, 3, 0, false},
    {"BYTE", AdoType::adUnsignedTinyInt, 1, 3, 0, false},
    {"INTEGER", AdoType::adInteger, 4, 10, 0, false},
    {"int", AdoType::adInteger, 4, 10, 0, false},
    {"LONG", AdoType::adInteger, 4, 10, 0, false},
    {"BIGINT", AdoType::adBigInt, 8, 19, 0, false},
    {"REAL", AdoType::adDouble, 8, 15, 0, false},
    {"FLOAT", AdoType::adDouble, 8, 15, 0, false},
    {"DOUBLE", AdoType::adDouble, 8, 15, 0, false},
    {"double   precision", AdoType::adDouble, 8, 15, 0, false},
    {"DECIMAL(15,4)", AdoType::adNumeric, 19, 15, 4, false},
    {"NUMERIC( 10 , 4 )", AdoType::adNumeric, 19, 10, 4, false},
    {"DECIMAL", AdoType::adNumeric, 19, 18, 0, false},
    {"DECIMAL(9)", AdoType::adNumeric, 19, 9, 0, false},
    {"CURRENCY", AdoType::adCurrency, 8, 19, 4, false},
    {"MONEY", AdoType::adCurrency, 8, 19, 4, false},
    {"DATETIME", AdoType::adDate, 8, 0, 0, false},
    {"DATE", AdoType::adDBDate, 6, 0, 0, false},
    {"TIME", AdoType::adDBTime, 6, 0, 0, false},
    {"BIT", AdoType::adBoolean, 2, 0, 0, false},
    {"BOOLEAN", AdoType::adBoolean, 2, 0, 0, false},
    {"YesNo", AdoType::adBoolean, 2, 0, 0, false},
    {"MEMO", AdoType::adLongVarWChar, Memo, 0, 0, false},
    {"NTEXT", AdoType::adLongVarWChar, Memo, 0, 0, false},
    {"TEXT", AdoType::adLongVarWChar, Memo, 0, 0, false},
    {"LONGTEXT", AdoType::adLongVarWChar, Memo, 0, 0, false},
    {"LONGCHAR", AdoType::adLongVarWChar, Memo, 0, 0, false},
    {" \tINTEGER\n ", AdoType::adInteger, 4, 10, 0, false},
    {"BINARY(16)", AdoType::adBinary, 16, 0, 0, true},
    {"VARBINARY(100)", AdoType::adVarBinary, 100, 0, 0, false},
    {"BLOB", AdoType::adLongVarBinary, 2147483647, 0, 0, false},
    {"LongBinary", AdoType::adLongVarBinary, 2147483647, 0, 0, false},
    {"IMAGE", AdoType::adLongVarBinary, 2147483647, 0, 0, false},
};

TEST(SchemaDialectTest, MapsEachWord)
{
    for (const auto& c : Cases) {
        SCOPED_TRACE(c.declared);
        const auto info = parseDeclaredType(c.declared);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->type, c.type);
        EXPECT_EQ(info->definedSize, c.size);
        EXPECT_EQ(info->precision, c.precision);
        EXPECT_EQ(info->scale, c.scale);
        EXPECT_EQ(info->fixedLength, c.fixed);
    }
}

TEST(SchemaDialectTest, RefusesUnknownAndMalformedDeclarations)
{
    for (const char* declared : {"",
                                 "   ",
                                 "VARCHAR2(10)",
                                 "STRING",
                                 "INTEGER(4)",
                                 "DATETIME(3)",
                                 "NVARCHAR()",
                                 "NVARCHAR(0)",
                                 "NVARCHAR(-1)",
                                 "NVARCHAR(10",
                                 "NVARCHAR(10,2)",
                                 "NVARCHAR(x)",
                                 "NVARCHAR(99999999999)",
                                 "DECIMAL(4,5)",
                                 "DECIMAL(0)",
                                 "DECIMAL(10,2,1)",
                                 "DECIMAL(,2)",
                                 "DECIMAL(39)",
                                 "TEXT(10) x",
                                 "COUNTER",
                                 "UNSIGNED BIG INT",
                                 "名称",
                                 "INTEGER;",
                                 "BIT BIT",
                                 "(10)"}) {
        SCOPED_TRACE(declared);
        EXPECT_FALSE(parseDeclaredType(declared).has_value());
    }
}

TEST(SchemaDialectTest, AnUnknownDeclarationNamesTableAndColumn)
{
    const std::string text = errorOf([] { columnType("ypzdk", "名称", "VARCHAR2(50)"); });
    ASSERT_FALSE(text.empty()) << "no error";
    EXPECT_NE(text.find("'名称'"), std::string::npos) << text;
    EXPECT_NE(text.find("'ypzdk'"), std::string::npos) << text;
    EXPECT_NE(text.find("VARCHAR2(50)"), std::string::npos) << text;
}

TEST(SchemaDialectTest, CounterIsRefusedWithTheWayToDeclareAnAutoIncrement)
{
    const std::string text = errorOf([] { columnType("cr", "crid", "counter"); });
    ASSERT_FALSE(text.empty()) << "no error";
    EXPECT_NE(text.find("'crid'"), std::string::npos) << text;
    EXPECT_NE(text.find("INTEGER PRIMARY KEY AUTOINCREMENT"), std::string::npos) << text;
}

TEST(SchemaDialectTest, OnlyAPlainIntegerCanBeTheRowid)
{
    EXPECT_TRUE(isRowidAliasType("INTEGER"));
    EXPECT_TRUE(isRowidAliasType(" integer "));
    for (const char* declared : {"INT", "LONG", "BIGINT", "COUNTER", "INTEGER(4)", ""})
        EXPECT_FALSE(isRowidAliasType(declared)) << declared;
}

} // namespace
