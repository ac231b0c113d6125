#include "data/Errors.h"
#include "data/provider/ConnectionString.h"
#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace velmora::data;
using velmora::test::startupConnectionString;

namespace {

using Properties = std::vector<std::pair<std::string, std::string>>;

struct ParseCase
{
    const char* text;
    Properties expected;
};

TEST(ConnectionStringTest, ReadsPropertiesByTheOleDbRules)
{
    const std::vector<ParseCase> cases = {
        {"", {}},
        {"a=1", {{"a", "1"}}},
        {"a=1;b=2;", {{"a", "1"}, {"b", "2"}}},
        {";;a=1;;", {{"a", "1"}}},
        {"  Data Source  =  x.mdb  ;", {{"Data Source", "x.mdb"}}},
        {"p=\"\";q=''", {{"p", ""}, {"q", ""}}},
        {"p=\"a;b\"", {{"p", "a;b"}}},
        {"p='a;b'", {{"p", "a;b"}}},
        {"p=\"say \"\"hi\"\"\";q=1", {{"p", "say \"hi\""}, {"q", "1"}}},
        {"p='it''s'", {{"p", "it's"}}},
        {"p='a\"b'", {{"p", "a\"b"}}},
        {"p=\"a'b\"", {{"p", "a'b"}}},
        {"p=  \" padded \"  ;", {{"p", " padded "}}},
        {"p=it's", {{"p", "it's"}}}, // a quote inside a value does not start quoting
        {"p=a\"b\"", {{"p", "a\"b\""}}},
        {"Don't Copy=False", {{"Don't Copy", "False"}}}, // nor does one inside a key
        {"a==b=c", {{"a=b", "c"}}},                      // a doubled '=' belongs to the key
        {"p=x=y", {{"p", "x=y"}}},
        {"p=", {{"p", ""}}},
        {"名称=药房;路径=数据/库.mdb", {{"名称", "药房"}, {"路径", "数据/库.mdb"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ConnectionString::parse(c.text).properties(), c.expected);
    }
}

TEST(ConnectionStringTest, RefusesMalformedText)
{
    for (const char* text : {"novalue", "a=1;novalue;b=2", "=1", "p=\"open", "p='open", "p=\"a\"b", " = x"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(ConnectionString::parse(text), DatabaseError);
    }
}

TEST(ConnectionStringTest, KeysMatchWithoutLetterCaseAndTheLastRepeatWins)
{
    const auto cs = ConnectionString::parse("User ID=one;user id=two;PROVIDER=p");
    EXPECT_EQ(cs.value("USER ID"), "two");
    EXPECT_EQ(cs.value(" provider "), "p");
    EXPECT_FALSE(cs.value("Data Source").has_value());
    EXPECT_EQ(cs.valueOr("Data Source", "d"), "d");
}

TEST(ConnectionStringTest, ReadsTheStartupConnectionString)
{
    const std::string text = startupConnectionString("admin", "data/velmdb.mdb", "mivotelq");
    ASSERT_EQ(text.size(), 569u + 5 + 15 + 8);
    const Properties expected = {
        {"Provider", "Microsoft.Jet.OLEDB.4.0"},
        {"Password", ""},
        {"User ID", "admin"},
        {"Data Source", "data/velmdb.mdb"},
        {"Mode", "Share Deny None"},
        {"Extended Properties", ""},
        {"Locale Identifier", "1028"},
        {"Jet OLEDB:System database", ""},
        {"Jet OLEDB:Registry Path", ""},
        {"Jet OLEDB:Database Password", "mivotelq"},
        {"Jet OLEDB:Engine Type", "5"},
        {"Jet OLEDB:Database Locking Mode", "1"},
        {"Jet OLEDB:Global Partial Bulk Ops", "2"},
        {"Jet OLEDB:Global Bulk Transactions", "1"},
        {"Jet OLEDB:New Database Password", ""},
        {"Jet OLEDB:Create System Database", "False"},
        {"Jet OLEDB:Encrypt Database", "False"},
        {"Jet OLEDB:Don't Copy Locale on Compact", "False"},
        {"Jet OLEDB:Compact Without Replica Repair", "False"},
        {"Jet OLEDB:SFP", "False"},
    };
    EXPECT_EQ(ConnectionString::parse(text).properties(), expected);
}

TEST(ConnectionStringTest, SettingsWithQuotesOrSemicolonsChangeHowTheStringReads)
{
    // Inserted unchanged, such a setting spills into the pieces after it.
    EXPECT_THROW(ConnectionString::parse(startupConnectionString("admin", "a;b.mdb", "x")), DatabaseError);
    EXPECT_THROW(ConnectionString::parse(startupConnectionString("admin", "x.mdb", "\"open")), DatabaseError);
    const auto cs = ConnectionString::parse(startupConnectionString("admin", "x.mdb", "p;Mode=Read"));
    EXPECT_EQ(cs.value("Jet OLEDB:Database Password"), "p");
    EXPECT_EQ(cs.value("Mode"), "Read"); // the spilled piece repeats Mode later, and the last one wins
}

TEST(ConnectionStringTest, QuotedValuesReadBackUnchanged)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"", ""},
        {"data/velmdb.mdb", "data/velmdb.mdb"},
        {"药房 数据.mdb", "药房 数据.mdb"},
        {"a;b", "\"a;b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"it's", "\"it's\""},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"\"", "\"\"\"\""},
        {"a=b", "a=b"},
        {"=b", "\"=b\""},
        {"\tx\n", "\"\tx\n\""},
    };
    for (const auto& [value, quoted] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(quoteValue(value), quoted);
        const auto cs = ConnectionString::parse("k=" + quoteValue(value) + ";next=1");
        EXPECT_EQ(cs.value("k"), value);
        EXPECT_EQ(cs.value("next"), "1");
        const auto in22 =
            ConnectionString::parse(startupConnectionString("admin", quoteValue(value), quoteValue(value)));
        EXPECT_EQ(in22.value("Data Source"), value);
        EXPECT_EQ(in22.value("Jet OLEDB:Database Password"), value);
    }
}

} // namespace
