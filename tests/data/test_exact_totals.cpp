// Totals of money come out exact on both backends: the stored texts' sums over many lines give the server's
// figures on the file too, and the file's sum, total and avg keep the engine's answers where their values are
// no decimals.

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/dataset/Field.h"
#include "data/engines/ExactAggregates.h"
#include "data/module/DMod.h"
#include "tests/support/BackendTest.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>

using namespace velmora::data;
using namespace velmora::test;

namespace {

// `count` sales lines of drug `drug`, each of amount `amount` and cost `cost`.
struct Lines
{
    const char* drug;
    int count;
    const char* amount;
    const char* cost;
};

struct Totals
{
    const char* drug;
    const char* what;
    double sales;  // 销售金额
    double profit; // 利润
};

// What a shop sells in a year, and what the engine's binary fractions made of it.
const Lines lines[] = {
    {"A", 100000, "19.99", "12.34"}, // was 1998999.99999914 and 765000.00000139
    {"B", 1, "10.10", "10.00"},      // three lines whose profits, 0.1 + 0.2 - 0.3, net to nothing
    {"B", 1, "0.20", "0"},           {"B", 1, "5.00", "5.30"}, {"C", 100000, "0.01", "0"}, // was 999.999999999236
};

const Totals totals[] = {
    {"A", "100,000 lines of 19.99 at a cost of 12.34", 1999000, 765000},
    {"B", "three lines whose profit nets to nothing", 15.30, 0},
    {"C", "100,000 lines of 0.01", 1000, 1000},
};

class ExactTotalsTest : public BackendTest
{
protected:
    void prepare() override
    {
        std::string sql = db->schema() + "INSERT INTO ypzdk (id, 名称) VALUES ('A', '甲'), ('B', '乙'), ('C', '丙');\n";
        for (const Lines& l : lines) {
            const std::string values =
                std::string("SELECT '") + l.drug + "', " + l.amount + ", " + l.cost + ", '零售', 1 FROM ";
            const std::string many = onServer()
                                         ? values + "generate_series(1, " + std::to_string(l.count) + ")"
                                         : "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
                                               std::to_string(l.count) + ") " + values + "n";
            sql += "INSERT INTO cr (ypid, 金额, 成本金额, 类型, 数量) " + many + ";\n";
        }
        db->run(sql);
        dmod = std::make_unique<TDMod>(db->folder());
        dmod->ADOCON().setConnectionString(db->connectionString());
    }

    std::unique_ptr<TDMod> dmod;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(ExactTotalsTest);

TEST_P(ExactTotalsTest, SalesStatisticsTotalMoneyExactly)
{
    Dataset& txstj = dmod->dataset("txstj");
    txstj.open();
    std::map<std::string, std::pair<double, double>> byDrug;
    for (txstj.first(); !txstj.eof(); txstj.next())
        byDrug[txstj.fieldByName("药品标识号").asString()] = {txstj.fieldByName("销售金额").asFloat(),
                                                              txstj.fieldByName("利润").asFloat()};
    for (const Totals& t : totals) {
        SCOPED_TRACE(t.what);
        ASSERT_TRUE(byDrug.contains(t.drug));
        EXPECT_EQ(byDrug[t.drug].first, t.sales);
        EXPECT_EQ(byDrug[t.drug].second, t.profit);
    }
    // As a till or velmora-db show prints them.
    EXPECT_TRUE(txstj.locate("药品标识号", "A"));
    EXPECT_EQ(txstj.fieldByName("销售金额").asString(), "1999000");
    EXPECT_EQ(txstj.fieldByName("利润").asString(), "765000");
}

// ---- the file's aggregates beside the engine's own -----------------------------------------------------------

// A value to 17 digits with its SQL type: "0.29999999999999999 real", "6 integer", "NULL null".
std::string shown(const Value& value, const std::string& type)
{
    char buffer[64] = "NULL";
    if (const auto* d = std::get_if<double>(&value))
        std::snprintf(buffer, sizeof buffer, "%.17g", *d);
    else if (const auto* i = std::get_if<std::int64_t>(&value))
        std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(*i));
    return std::string(buffer) + " " + type;
}

// The first row of a query through the program's connection, or the error.
std::vector<std::string> ours(Backend& backend, const std::string& sql)
{
    std::vector<std::string> out;
    try {
        const ResultSet r = backend.openCommand(sql);
        for (const auto& row : r.rows)
            out.push_back(shown(row.at(0), text::display(row.at(1))));
    } catch (const DatabaseError& e) {
        out.push_back(std::string("error: ") + e.what());
    }
    return out;
}

// The same through a plain SQLite connection with the engine's own aggregates.
std::vector<std::string> engines(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    std::vector<std::string> out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            Value value;
            if (sqlite3_column_type(st, 0) == SQLITE_FLOAT)
                value = sqlite3_column_double(st, 0);
            else if (sqlite3_column_type(st, 0) == SQLITE_INTEGER)
                value = static_cast<std::int64_t>(sqlite3_column_int64(st, 0));
            out.push_back(shown(value, reinterpret_cast<const char*>(sqlite3_column_text(st, 1))));
        }
        if (rc != SQLITE_DONE)
            out.push_back(std::string("error: ") + sqlite3_errmsg(db));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

struct AggregateCase
{
    const char* values; // the column x of the table numbers, as SQL
    const char* expression;
    const char* exact; // what the file gives now, where the engine gives another; null: the engine's own
};

const AggregateCase aggregateCases[] = {
    // Decimals exactly, as a REAL: the stored texts compare and print it, the sqlite3 tool reads it.
    {"(0.1), (0.2)", "sum(x)", "0.29999999999999999 real"},
    {"(0.1), (0.2), (-0.3)", "sum(x)", "0 real"},
    {"(0.1), (0.2), (-0.3)", "total(x)", "0 real"},
    {"(0.1), (0.2), (0.4)", "avg(x)", "0.23333333333333334 real"},
    {"(19.99), (12.34)", "sum(x - 12.34) - 7.65", "0 real"},
    // Integers stay integers, as the engine keeps them; mixed with decimals the total is exact.
    {"(1), (2), (3)", "sum(x)", nullptr},
    {"(3), (0.1), (0.2)", "sum(x)", "3.2999999999999998 real"},
    {"(9223372036854775807), (1)", "sum(x)", nullptr}, // the engine's "integer overflow"
    {"(9223372036854775807), (9223372036854775807)", "total(x)", nullptr},
    // No value: as the engine.
    {"(NULL)", "sum(x)", nullptr},
    {"(NULL)", "total(x)", nullptr},
    {"(NULL)", "avg(x)", nullptr},
    // Values that are no decimals of at most 8 places: the engine's own binary total.
    {"(1.0 / 3), (1.0 / 3), (1.0 / 3)", "sum(x)", nullptr},
    {"(1e-12), (0.1)", "sum(x)", nullptr},
    {"(1e300), (1e300)", "sum(x)", nullptr},
    {"('abc'), (0.1), (0.2)", "sum(x)", nullptr},
    {"('0.1'), ('0.2')", "sum(x)", "0.29999999999999999 real"}, // text that is a number
    // DISTINCT, and as a window function (rows leave the frame again).
    {"(0.1), (0.1), (0.2)", "sum(DISTINCT x)", "0.29999999999999999 real"},
};

TEST(ExactAggregates, AddDecimalsExactlyAndKeepTheEnginesAnswersOtherwise)
{
    for (const AggregateCase& c : aggregateCases) {
        SCOPED_TRACE(std::string(c.expression) + " of " + c.values);
        TestDatabase db;
        // No declared type: text stays text.
        db.run(std::string("CREATE TABLE numbers (x); INSERT INTO numbers (x) VALUES ") + c.values + ";");
        const auto backend = connectProvider(db.connectionString(), db.folder());
        const std::string sql =
            std::string("SELECT ") + c.expression + " AS v, typeof(" + c.expression + ") AS t FROM numbers";
        const std::vector<std::string> program = ours(*backend, sql);
        const std::vector<std::string> engine = engines(db.path(), sql);
        ASSERT_EQ(program.size(), 1u);
        ASSERT_EQ(engine.size(), 1u);
        if (c.exact) {
            EXPECT_EQ(program[0], c.exact);
            EXPECT_NE(program[0], engine[0]) << "the engine's own answer is already exact here";
        } else if (engine[0].starts_with("error: ")) {
            EXPECT_NE(program[0].find(engine[0]), std::string::npos) << program[0];
        } else {
            EXPECT_EQ(program[0], engine[0]);
        }
    }
}

TEST(ExactAggregates, WindowTotalsStayExactAsRowsLeaveTheFrame)
{
    TestDatabase db;
    db.run("CREATE TABLE numbers (i INTEGER, x DOUBLE); INSERT INTO numbers VALUES (1, 0.1), (2, 0.2), (3, 0.3), "
           "(4, 0.4), (5, 1.0 / 3);");
    const auto backend = connectProvider(db.connectionString(), db.folder());
    const auto window = [&](const std::string& function) {
        const std::string sql = "SELECT " + function +
                                "(x) OVER (ORDER BY i ROWS BETWEEN 1 PRECEDING AND CURRENT ROW) AS v, 'real' AS t "
                                "FROM numbers ORDER BY i";
        return std::pair(ours(*backend, sql), engines(db.path(), sql));
    };
    const auto [sums, engineSums] = window("sum");
    ASSERT_EQ(engineSums.size(), 5u);
    // The engine gives 0.30000000000000004, 0.5, 0.70000000000000007; the last frame holds a binary fraction
    // and is the engine's own again.
    EXPECT_EQ(sums, (std::vector<std::string>{"0.10000000000000001 real", "0.29999999999999999 real", "0.5 real",
                                              "0.69999999999999996 real", engineSums[4]}));
    EXPECT_NE(engineSums[1], sums[1]);
    const auto [means, engineMeans] = window("avg");
    ASSERT_EQ(means.size(), 5u);
    EXPECT_EQ(means[2], "0.25 real");
    EXPECT_EQ(means[3], "0.34999999999999998 real");
    EXPECT_EQ(means[4], engineMeans[4]);
}

// ---- which REALs are decimals ------------------------------------------------------------------------------

struct NearCase
{
    double value;
    std::optional<std::pair<std::int64_t, int>> decimal; // units, scale
};

const NearCase nearCases[] = {
    {19.99, {{1999, 2}}},
    {0.1 + 0.2, {{3, 1}}},
    {10.1 - 10.0, {{1, 1}}}, // 0.09999999999999964: the engine's subtraction
    {1000000.01 - 999999.99, {{2, 2}}},
    {-12.3456, {{-123456, 4}}},
    {0.00000001, {{1, 8}}},
    {12345678901.2345, {{123456789012345, 4}}}, // fifteen digits, as the file keeps them
    {0, {{0, 0}}},
    {1152921504606846976.0, {{1152921504606846976, 0}}}, // 2^60, whole
    {1.0 / 3, std::nullopt},
    {100000.0 / 3, std::nullopt},
    {0.123456789, std::nullopt}, // nine places
    {1e-12, std::nullopt},
    {2.77555756156289e-17, std::nullopt},
    {1e300, std::nullopt},
    {std::numeric_limits<double>::infinity(), std::nullopt},
    {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
};

TEST(ExactAggregates, ARealIsTheDecimalItLiesWithinNoiseOf)
{
    for (const NearCase& c : nearCases) {
        SCOPED_TRACE(c.value);
        const std::optional<NearDecimal> found = nearDecimal(c.value);
        ASSERT_EQ(found.has_value(), c.decimal.has_value());
        if (found) {
            EXPECT_EQ(found->units, c.decimal->first);
            EXPECT_EQ(found->scale, c.decimal->second);
        }
    }
}

} // namespace
