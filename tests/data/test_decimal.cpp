// The exact decimal BCD fields hold: reading text, rounding, writing text, and the row store keeping it.

#include "data/Decimal.h"
#include "data/dataset/RowStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace velmora::data;

namespace {

struct ParseCase
{
    const char* text;
    int roundTo;
    const char* shown; // nullptr: refused
};

const ParseCase parseCases[] = {
    {"0", -1, "0"},
    {"-0.000", -1, "0"},
    {"12.50", -1, "12.5"},
    {"+.5", -1, "0.5"},
    {"3.", -1, "3"},
    {"-0.0001", -1, "-0.0001"},
    {"007.10", -1, "7.1"},
    {"1.5e-3", -1, "0.0015"},
    {"1.5E+3", -1, "1500"},
    {"2e0", -1, "2"},
    {"12345678901234567890123456789012345678", -1, "12345678901234567890123456789012345678"},
    {"0.12345678901234567890123456789012345678", -1, "0.12345678901234567890123456789012345678"},
    {"1.0000000000000000000000000000000000000000000", -1, "1"}, // trailing zeros beyond 38 decimals
    {"123456789012345678901234567890123456789", -1, nullptr},   // 39 digits
    {"1e38", -1, nullptr},
    {"1e-39", -1, nullptr},
    {"1e-39", 4, "0"},
    {"", -1, nullptr},
    {".", -1, nullptr},
    {"-", -1, nullptr},
    {"1e", -1, nullptr},
    {"1e+", -1, nullptr},
    {"1.2.3", -1, nullptr},
    {" 1", -1, nullptr},
    {"1 ", -1, nullptr},
    {"0x10", -1, nullptr},
    {"inf", -1, nullptr},
    {"NaN", -1, nullptr},
    // Rounded from the digits: to the nearest, halves to the even digit.
    {"2.00025", 4, "2.0002"},
    {"2.00035", 4, "2.0004"},
    {"2.000250000000000000000000000000000000000000001", 4, "2.0003"},
    {"-2.00025", 4, "-2.0002"},
    {"-2.000251", 4, "-2.0003"},
    {"0.00005", 4, "0"},
    {"0.00015", 4, "0.0002"},
    {"0.5", 0, "0"},
    {"1.5", 0, "2"},
    {"2.5", 0, "2"},
    {"9999.99995", 4, "10000"},
    {"0.000049999", 4, "0"},
    {"1.5e-3", 2, "0"},
    {"1.51e-3", 2, "0"},
    {"5.1e-3", 2, "0.01"},
    {"12", 4, "12"},
    {"1e-1000000000", 4, "0"},
};

TEST(DecimalTest, ParsesPlainAndExponentNotationAndRoundsFromTheDigits)
{
    for (const ParseCase& c : parseCases) {
        SCOPED_TRACE(std::string(c.text) + " to " + std::to_string(c.roundTo));
        const std::optional<Decimal> parsed = Decimal::parse(c.text, c.roundTo);
        if (!c.shown) {
            EXPECT_FALSE(parsed) << parsed->toString();
            continue;
        }
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->toString(), c.shown);
        if (c.roundTo >= 0) {
            EXPECT_LE(parsed->scale(), c.roundTo);
        }
    }
}

// A double is rounded from its exact binary value, as glibc's printf("%.*f") rounds it.
TEST(DecimalTest, DoublesRoundFromTheirExactBinaryValueAsPrintfDoes)
{
    EXPECT_EQ(Decimal::fromDouble(0.1 + 0.2, 4)->toString(), "0.3");
    EXPECT_EQ(Decimal::fromDouble(2.00025, 4)->toString(), "2.0002"); // 2.000249999...
    EXPECT_EQ(Decimal::fromDouble(1.00015, 4)->toString(), "1.0002"); // 1.000150000...1
    EXPECT_EQ(Decimal::fromDouble(0.125, 2)->toString(), "0.12");     // an exact half: to even
    EXPECT_EQ(Decimal::fromDouble(0.375, 2)->toString(), "0.38");
    EXPECT_EQ(Decimal::fromDouble(-2.5, 0)->toString(), "-2");
    EXPECT_EQ(Decimal::fromDouble(-0.0, 4)->toString(), "0");
    EXPECT_EQ(Decimal::fromDouble(1e22, 0)->toString(), "10000000000000000000000");
    EXPECT_EQ(Decimal::fromDouble(123456789012345.6789, 4)->toString(), "123456789012345.6719");
    EXPECT_FALSE(Decimal::fromDouble(NAN, 4));
    EXPECT_FALSE(Decimal::fromDouble(INFINITY, 4));
    EXPECT_FALSE(Decimal::fromDouble(1e300, 4)); // more than 38 digits

    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
        double value;
        const int scale = static_cast<int>(random() % 13);
        if (i % 2 == 0) {
            // Prices: a few decimals, often right at a half of the last place kept.
            value = static_cast<double>(static_cast<std::int64_t>(random() % 100000000) - 50000000) /
                    std::pow(10.0, static_cast<int>(random() % 9));
            if (random() % 2)
                value += 0.5 / std::pow(10.0, scale);
        } else {
            const std::uint64_t bits = random();
            std::memcpy(&value, &bits, sizeof value);
            if (!std::isfinite(value) || std::fabs(value) > 1e25)
                continue;
        }
        char printed[512];
        std::snprintf(printed, sizeof printed, "%.*f", scale, value);
        const std::optional<Decimal> decimal = Decimal::fromDouble(value, scale);
        ASSERT_TRUE(decimal) << printed;
        ASSERT_EQ(*decimal, *Decimal::parse(printed)) << printed << " from " << value << " at " << scale;
    }
}

TEST(DecimalTest, ComparesByValueWhateverTheScale)
{
    const auto d = [](const char* text) { return *Decimal::parse(text); };
    EXPECT_EQ(d("0.30"), d("0.3"));
    EXPECT_EQ(d("-0"), d("0.0000"));
    EXPECT_LT(d("-1"), d("-0.5"));
    EXPECT_LT(d("0.1"), d("0.10000000000000000000000000000000000001"));
    EXPECT_LT(d("9999999999999999999999999999999999999.9"), d("99999999999999999999999999999999999999"));
    EXPECT_LT(d("-99999999999999999999999999999999999999"), d("-0.00000000000000000000000000000000000001"));
    EXPECT_LT(d("1.5"), d("2"));
    EXPECT_FALSE(d("2") < d("1.99999999999999999999999999999999999"));
    EXPECT_EQ(Decimal(12), d("12.0000"));
}

TEST(DecimalTest, ConvertsToWholeNumbersAndDoubles)
{
    struct Case
    {
        const char* text;
        bool fits;
        std::int64_t whole;
        int wholeDigits;
    };
    const Case cases[] = {
        {"2.5", true, 2, 1},
        {"3.5", true, 4, 1},
        {"-2.5", true, -2, 1},
        {"12.7", true, 13, 2},
        {"0.0001", true, 0, 0},
        {"9223372036854775807", true, INT64_MAX, 19},
        {"-9223372036854775808", true, INT64_MIN, 19},
        {"9223372036854775807.5", false, 0, 19},
        {"123456789012345678901234567890", false, 0, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Decimal d = *Decimal::parse(c.text);
        std::int64_t whole = 0;
        EXPECT_EQ(d.toInt64(whole), c.fits);
        if (c.fits) {
            EXPECT_EQ(whole, c.whole);
        }
        EXPECT_EQ(d.wholeDigits(), c.wholeDigits);
    }
    EXPECT_EQ(Decimal::parse("0.3")->toDouble(), 0.3);
    EXPECT_EQ(Decimal::parse("-123456789012.3456")->toDouble(), -123456789012.3456);
    EXPECT_EQ(Decimal::parse("99999.99995")->rounded(4)->toString(), "100000");
    EXPECT_EQ(Decimal::parse("9999999999999999999999999999999999999.5")->rounded(0)->toString(),
              "10000000000000000000000000000000000000");
}

// Decimals of every size, kept in a row beside the other kinds of cell.
TEST(DecimalTest, RowStoreKeepsDecimalsExactly)
{
    const std::vector<Value> row = {
        Value{*Decimal::parse("0.3")},
        Value{std::string("阿莫西林")},
        Value{*Decimal::parse("-0.0001")},
        Value{*Decimal::parse("99999999999999999999999999999999999999")},
        Value{*Decimal::parse("-99999999999999999999999999999999999999")},
        Value{*Decimal::parse("0.00000000000000000000000000000000000001")},
        Value{Decimal(0)},
        Value{std::int64_t{-5}},
        Value{*Decimal::parse("123456789012345.6789")},
    };
    RowStore store;
    store.reset(static_cast<int>(row.size()));
    for (int i = 0; i < 1000; ++i)
        store.appendRow(row);
    for (int c = 0; c < store.columnCount(); ++c) {
        const Value value = store.value(999, c);
        EXPECT_EQ(value, row[static_cast<std::size_t>(c)]) << c;
        if (const auto* d = std::get_if<Decimal>(&value)) {
            EXPECT_EQ(d->scale(), std::get<Decimal>(row[static_cast<std::size_t>(c)]).scale()) << c;
        }
    }
}

} // namespace
