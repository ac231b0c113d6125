// Values keep what was written on their way through the data layer, on both backends: memo text stays text,
// decimals are rounded to their column's scale and read back exactly, and computed columns without values
// take their declared kind.

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/engines/SchemaDialect.h"
#include "data/module/DMod.h"
#include "tests/support/BackendTest.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace velmora::data;
using namespace velmora::test;

namespace {

class ExactValuesTest : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(db->schema());
        dmod = std::make_unique<TDMod>(db->folder());
        dmod->ADOCON().setConnectionString(db->connectionString());
    }

    // The dataset read afresh from the database.
    Dataset& reopened(const char* name)
    {
        Dataset& dataset = dmod->dataset(name);
        dataset.close();
        dataset.open();
        return dataset;
    }

    std::unique_ptr<TDMod> dmod;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(ExactValuesTest);

// A memo column of a database that velmora-db makes keeps text that looks like a number as it was written.
TEST_P(ExactValuesTest, MemoTextComesBackAsWritten)
{
    const std::vector<std::string> texts = {"0012", "1.50", "1e3", " 7", "-0", "主治 0012"};
    Dataset& typzdk = reopened("typzdk");
    for (std::size_t i = 0; i < texts.size(); ++i) {
        typzdk.append();
        typzdk.fieldByName("id").setAsString("Y" + std::to_string(i));
        typzdk.fieldByName("主治").setAsString(texts[i]);
        typzdk.post();
    }
    Dataset& again = reopened("typzdk");
    std::vector<std::string> read;
    for (again.first(); !again.eof(); again.next())
        read.push_back(again.fieldByName("主治").asString());
    EXPECT_EQ(read, texts);
}

struct DecimalWrite
{
    const char* field; // of tkc: 购进单价 DECIMAL(10,4), 购进金额 DECIMAL(15,4)
    double number;     // written with setAsFloat when text is null
    const char* text;  // written with setAsString
    const char* shown; // asString after the row is stored and read again
};

// Written values are rounded to the column's scale, to the nearest, halves to the even digit: a double from
// its exact binary value, text from its digits.
const DecimalWrite decimalWrites[] = {
    {"购进单价", 0.1 + 0.2, nullptr, "0.3"},
    {"购进单价", 2.00025, nullptr, "2.0002"}, // just below the half in binary
    {"购进单价", 1.00015, nullptr, "1.0002"}, // just above
    {"购进单价", 0, "2.00025", "2.0002"},     // a half: to the even digit
    {"购进单价", 0, "2.00035", "2.0004"},
    {"购进单价", 0, "-0.00005", "0"},
    {"购进单价", 0, "999999.9999", "999999.9999"},
    {"购进单价", 0, "1.5e-3", "0.0015"},
    {"购进金额", 0, "12345678901.23456", "12345678901.2346"},
    {"购进金额", 0, " 60 ", "60"},
};

TEST_P(ExactValuesTest, DecimalsAreRoundedToTheScaleAndReadBackExactly)
{
    Dataset& tkc = reopened("tkc");
    for (const DecimalWrite& w : decimalWrites) {
        tkc.append();
        tkc.fieldByName("ypid").setAsString("Y1");
        if (w.text)
            tkc.fieldByName(w.field).setAsString(w.text);
        else
            tkc.fieldByName(w.field).setAsFloat(w.number);
        tkc.post();
    }
    Dataset& again = reopened("tkc");
    ASSERT_EQ(again.recordCount(), static_cast<int>(std::size(decimalWrites)));
    int row = 0;
    for (const DecimalWrite& w : decimalWrites) {
        SCOPED_TRACE(std::string(w.field) + " <- " + (w.text ? std::string(w.text) : std::to_string(w.number)));
        again.moveTo(row++);
        EXPECT_EQ(again.fieldByName(w.field).asString(), w.shown);
    }
    again.moveTo(0);
    EXPECT_EQ(again.fieldByName("购进单价").asFloat(), 0.3);
}

// A value whose whole part needs more digits than the column's precision leaves is refused when it is
// written, with the column's range.
TEST_P(ExactValuesTest, AValueTooWideForThePrecisionIsRefused)
{
    Dataset& tkc = reopened("tkc");
    tkc.append();
    for (const char* text : {"1000000", "999999.99995", "-1234567"}) {
        SCOPED_TRACE(text);
        try {
            tkc.fieldByName("购进单价").setAsString(text);
            FAIL() << "taken";
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::Constraint);
            EXPECT_NE(std::string(e.what()).find("is not a valid value for field '购进单价'. The allowed range is "
                                                 "-999999.9999 to 999999.9999"),
                      std::string::npos)
                << e.what();
        }
    }
    tkc.fieldByName("购进单价").setAsString("-999999.9999");
    EXPECT_EQ(tkc.fieldByName("购进单价").asString(), "-999999.9999");
}

// A decimal set by hand as the engine's own floating-point sum reads as the decimal of the column's scale
// nearest to it.
TEST_P(ExactValuesTest, AHandSetFloatingPointSumReadsAsTheNearestDecimal)
{
    db->run("insert into kc(数量, 购进单价, ypid) values (1, 0.1 + 0.2, 'Y1');");
    Dataset& tkc = reopened("tkc");
    EXPECT_EQ(tkc.fieldByName("购进单价").asString(), "0.3");
    EXPECT_EQ(tkc.fieldByName("购进单价").asFloat(), 0.3);
}

// Nineteen digits: the server keeps them all; the file, which keeps a decimal as a binary floating-point
// number, refuses the value rather than store another one.
TEST_P(ExactValuesTest, NineteenDigitsAreKeptByTheServerAndRefusedByTheFile)
{
    Dataset& zwr = reopened("TZwr");
    zwr.append();
    zwr.fieldByName("债务人").setAsString("甲");
    zwr.fieldByName("欠债金额").setAsString("123456789012345.6789");
    if (db->isServer()) {
        zwr.post();
        EXPECT_EQ(reopened("TZwr").fieldByName("欠债金额").asString(), "123456789012345.6789");
        db->run("insert into zhaiwu(债务人, 欠债金额) values ('乙', -987654321098765.4321);");
        Dataset& again = reopened("TZwr");
        again.last();
        EXPECT_EQ(again.fieldByName("欠债金额").asString(), "-987654321098765.4321");
        return;
    }
    try {
        zwr.post();
        FAIL() << "stored " << reopened("TZwr").fieldByName("欠债金额").asString();
    } catch (const DatabaseError& e) {
        const std::string text = e.what();
        EXPECT_EQ(e.kind(), ErrorKind::Constraint);
        for (const char* piece : {"欠债金额", "zhaiwu", "15 significant digits", "123456789012345.6789"})
            EXPECT_NE(text.find(piece), std::string::npos) << piece << " in " << text;
    }
    EXPECT_EQ(db->number("select count(*) from zhaiwu"), 0);
    // Fifteen digits fit.
    zwr.fieldByName("欠债金额").setAsString("12345678901.2345");
    zwr.post();
    EXPECT_EQ(reopened("TZwr").fieldByName("欠债金额").asString(), "12345678901.2345");
}

// Below the data module: a decimal handed to the backend is written and read back exactly, or, where the file
// cannot keep it, refused.
TEST_P(ExactValuesTest, DecimalsTravelThroughTheBackendExactly)
{
    auto backend = connectProvider(db->connectionString(), db->folder());
    backend->insertRow("cr", {{"金额", *Decimal::parse("12345678901.2345")},
                              {"成本金额", *Decimal::parse("0.30")},
                              {"客户", *Decimal::parse("1.50")}});
    const std::vector<Value> expected = {*Decimal::parse("12345678901.2345"), *Decimal::parse("0.3"),
                                         std::string("1.5")};
    EXPECT_EQ(backend->openCommand("select 金额, 成本金额, 客户 from cr").rows,
              (std::vector<std::vector<Value>>{expected}));

    const std::vector<std::pair<std::string, Value>> wide = {{"金额", Decimal(0)},
                                                             {"成本金额", *Decimal::parse("123456789012345.6789")}};
    if (db->isServer()) {
        backend->insertRow("cr", wide);
        EXPECT_EQ(backend->openCommand("select 成本金额 from cr where 金额 = 0").rows.at(0).at(0),
                  Value(*Decimal::parse("123456789012345.6789")));
    } else {
        EXPECT_THROW(backend->insertRow("cr", wide), DatabaseError);
        EXPECT_EQ(db->number("select count(*) from cr"), 1);
    }
}

// The stocktaking view opens when no drug has a retail price: its computed columns then hold no value and
// take the kind their fields declare.
TEST_P(ExactValuesTest, StocktakingOpensWithoutRetailPrices)
{
    db->run("insert into ypzdk(id, 名称) values ('Y1', '阿莫西林'), ('Y2', '布洛芬');"
            "insert into kc(数量, 购进单价, 购进金额, ypid) values (10, 6, 60, 'Y1'), (4, 3, 12, 'Y2');");
    Dataset& tpd = reopened("TPd");
    EXPECT_EQ(tpd.recordCount(), 2);
    for (const char* name : {"销售金额", "利润"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(tpd.fieldByName(name).kind(), FieldKind::Float);
        EXPECT_TRUE(tpd.fieldByName(name).isNull());
    }
    EXPECT_EQ(tpd.fieldByName("购进金额").asString(), "60");
}

// The affinity the check reads from a declared type is the one SQLite gives it: text and a number written
// into a column of each type come back as the affinity keeps them.
TEST(TextAffinityTest, DeclaredTypesGetSqlitesAffinity)
{
    const struct
    {
        const char* declared;
        Affinity affinity;
    } cases[] = {
        {"MEMO", Affinity::Numeric},
        {"LONGTEXT", Affinity::Text},
        {"NVARCHAR(10)", Affinity::Text},
        {"VARCHAR(5)", Affinity::Text},
        {"NCHAR(3)", Affinity::Text},
        {"CHAR(2)", Affinity::Text},
        {"NTEXT", Affinity::Text},
        {"TEXT(20)", Affinity::Text},
        {"longchar", Affinity::Text},
        {"CLOB", Affinity::Text},
        {"DECIMAL(10,4)", Affinity::Numeric},
        {"CURRENCY", Affinity::Numeric},
        {"DATETIME", Affinity::Numeric},
        {"BIT", Affinity::Numeric},
        {"DOUBLE", Affinity::Real},
        {"FLOAT", Affinity::Real},
        {"REAL", Affinity::Real},
        {"BIGINT", Affinity::Integer},
        {"SMALLINT", Affinity::Integer},
        {"CHARINT", Affinity::Integer},
        {"BLOB", Affinity::Blob},
        {"", Affinity::Blob},
        {"VARBINARY(8)", Affinity::Numeric},
        {"IMAGE", Affinity::Numeric},
    };
    TestDatabase db(TestBackend::Embedded);
    std::string table = "CREATE TABLE t (";
    std::string insertText = "INSERT INTO t VALUES (";
    std::string insertNumber = "INSERT INTO t VALUES (";
    std::string select = "SELECT ";
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string sep = i ? ", " : "";
        table += sep + "c" + std::to_string(i) + " " + cases[i].declared;
        insertText += sep + "'0012'";
        insertNumber += sep + "12";
        select += sep + "typeof(c" + std::to_string(i) + ")";
    }
    db.run(table + "); " + insertText + "); " + insertNumber + ");");
    const auto kept = db.rows(select + " FROM t ORDER BY rowid");
    ASSERT_EQ(kept.size(), 2u);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].declared);
        const std::pair<std::string, std::string> seen = {kept[0][i], kept[1][i]};
        const std::pair<std::string, std::string> expected =
            cases[i].affinity == Affinity::Text   ? std::pair<std::string, std::string>{"text", "text"}
            : cases[i].affinity == Affinity::Blob ? std::pair<std::string, std::string>{"text", "integer"}
            : cases[i].affinity == Affinity::Real ? std::pair<std::string, std::string>{"real", "real"}
                                                  : std::pair<std::string, std::string>{"integer", "integer"};
        EXPECT_EQ(sqliteAffinity(cases[i].declared), cases[i].affinity);
        EXPECT_EQ(seen, expected);
    }
}

// Every text and memo column the DDL declares keeps text as text.
TEST(TextAffinityTest, EveryTextColumnOfTheDdlHasTextAffinity)
{
    for (const TableDefinition& table : schemaTables())
        for (const ColumnDefinition& column : table.columns)
            if (isTextKind(column.kind) || column.kind == FieldKind::Memo) {
                EXPECT_EQ(sqliteAffinity(sqlType(column)), Affinity::Text) << table.name << "." << column.name;
                EXPECT_TRUE(parseDeclaredType(sqlType(column))) << sqlType(column);
            }
    EXPECT_EQ(parseDeclaredType("MEMO")->type, parseDeclaredType("LONGTEXT")->type); // older files still read
}

} // namespace
