#include "data/engines/ExactAggregates.h"

#include "data/Decimal.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace velmora::data {

namespace {

using Int = __int128;

constexpr double tens[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
static_assert(sizeof tens / sizeof tens[0] == ExactTotalScale + 1);

// Below it a double's product with a power of ten is known exactly from the rounded product and its error.
constexpr double twoTo52 = 4503599627370496.0;
constexpr double twoTo63 = 9223372036854775808.0;

constexpr Int powerOfTen(int n)
{
    Int p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

// One more than the largest total a Decimal holds.
constexpr Int unitsLimit = powerOfTen(Decimal::MaxDigits);

// 10^(ExactTotalScale - scale) as the whole number that takes a decimal of `scale` places to the total's.
constexpr Int toTotalScale[] = {powerOfTen(8), powerOfTen(7), powerOfTen(6), powerOfTen(5), powerOfTen(4),
                                powerOfTen(3), powerOfTen(2), powerOfTen(1), powerOfTen(0)};
static_assert(sizeof toTotalScale / sizeof toTotalScale[0] == ExactTotalScale + 1);

// What one aggregate has seen. SQLite hands out this memory zeroed and only 8-byte aligned, hence the exact
// total as two halves.
struct Totals
{
    std::int64_t count;
    // The engine's own accumulation, for its answer where the exact one is unknown.
    double realSum;
    std::int64_t intSum;
    bool approx;   // a value that was no integer
    bool overflow; // the integers overflowed 64 bits
    // The exact total, in units of 10^-ExactTotalScale: unknown once a value was no decimal or the total
    // outgrew 38 digits.
    bool inexact;
    std::uint64_t unitsLow;
    std::int64_t unitsHigh;

    Int units() const
    {
        return static_cast<Int>((static_cast<unsigned __int128>(static_cast<std::uint64_t>(unitsHigh)) << 64) |
                                unitsLow);
    }
    void setUnits(Int u)
    {
        unitsLow = static_cast<std::uint64_t>(u);
        unitsHigh = static_cast<std::int64_t>(u >> 64);
    }

    void addExact(Int amount, int amountScale)
    {
        if (inexact)
            return;
        Int total = units();
        if (__builtin_mul_overflow(amount, toTotalScale[amountScale], &amount) ||
            __builtin_add_overflow(total, amount, &total) || total >= unitsLimit || total <= -unitsLimit) {
            inexact = true;
            return;
        }
        setUnits(total);
    }

    // The value in or out of the total (sign -1: a window's row leaving it).
    void take(sqlite3_value* value, int sign)
    {
        const int type = sqlite3_value_numeric_type(value);
        if (type == SQLITE_NULL)
            return;
        count += sign;
        if (type == SQLITE_INTEGER) {
            const std::int64_t i = sqlite3_value_int64(value);
            if (sign > 0) {
                realSum += static_cast<double>(i);
                if (!approx && !overflow && __builtin_add_overflow(intSum, i, &intSum))
                    approx = overflow = true;
            } else if (!approx) {
                realSum -= static_cast<double>(i);
                intSum -= i;
            } else {
                realSum -= static_cast<double>(i);
            }
            addExact(static_cast<Int>(i) * sign, 0);
            return;
        }
        const double d = sqlite3_value_double(value);
        realSum += sign * d;
        approx = true;
        const std::optional<NearDecimal> decimal = type == SQLITE_FLOAT ? nearDecimal(d) : std::nullopt;
        if (decimal)
            addExact(static_cast<Int>(decimal->units) * sign, decimal->scale);
        else
            inexact = true; // text that is no number, bytes, a binary fraction
    }

    double exactTotal() const
    {
        const std::optional<Decimal> total = Decimal::fromUnits(units(), ExactTotalScale);
        return total ? total->toDouble() : realSum;
    }

    // The double nearest to the exact total over the count: enough digits of the quotient, and one more that
    // is not zero when the division leaves a rest, so that the parse rounds as the exact quotient would.
    double exactMean() const
    {
        const Int u = units();
        const unsigned __int128 magnitude = u < 0 ? -static_cast<unsigned __int128>(u) : u;
        const auto n = static_cast<unsigned __int128>(count);
        unsigned __int128 whole = magnitude / n;
        unsigned __int128 rest = magnitude % n;
        std::string digits;
        do {
            digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(whole % 10)));
            whole /= 10;
        } while (whole > 0);
        digits += '.';
        for (int i = 0; i < 40 && rest != 0; ++i) {
            rest *= 10;
            digits += static_cast<char>('0' + static_cast<int>(rest / n));
            rest %= n;
        }
        if (rest != 0)
            digits += '1';
        digits += "e-" + std::to_string(ExactTotalScale);
        double mean = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), mean);
        return u < 0 ? -mean : mean;
    }
};

Totals* totalsOf(sqlite3_context* context, bool make)
{
    return static_cast<Totals*>(sqlite3_aggregate_context(context, make ? static_cast<int>(sizeof(Totals)) : 0));
}

void step(sqlite3_context* context, int, sqlite3_value** arguments)
{
    Totals* totals = totalsOf(context, true);
    if (!totals) {
        sqlite3_result_error_nomem(context);
        return;
    }
    totals->take(arguments[0], 1);
}

void inverse(sqlite3_context* context, int, sqlite3_value** arguments)
{
    if (Totals* totals = totalsOf(context, true))
        totals->take(arguments[0], -1);
}

void sumResult(sqlite3_context* context)
{
    const Totals* t = totalsOf(context, false);
    if (!t || t->count <= 0)
        return sqlite3_result_null(context);
    if (t->overflow)
        return sqlite3_result_error(context, "integer overflow", -1);
    if (!t->approx)
        return sqlite3_result_int64(context, t->intSum);
    sqlite3_result_double(context, t->inexact ? t->realSum : t->exactTotal());
}

void totalResult(sqlite3_context* context)
{
    const Totals* t = totalsOf(context, false);
    if (!t)
        return sqlite3_result_double(context, 0.0);
    sqlite3_result_double(context, t->inexact ? t->realSum : t->exactTotal());
}

void avgResult(sqlite3_context* context)
{
    const Totals* t = totalsOf(context, false);
    if (!t || t->count <= 0)
        return sqlite3_result_null(context);
    sqlite3_result_double(context, t->inexact ? t->realSum / static_cast<double>(t->count) : t->exactMean());
}

} // namespace

std::optional<NearDecimal> nearDecimal(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double magnitude = std::fabs(value);
    if (magnitude >= twoTo52) {
        // Whole already; beyond 64 bits it is no amount of money.
        if (magnitude >= twoTo63)
            return std::nullopt;
        return NearDecimal{static_cast<std::int64_t>(value), 0};
    }
    int top = ExactTotalScale;
    while (top > 0 && magnitude * tens[top] >= twoTo52)
        --top;
    // value * 10^top to the nearest whole number (adding 2^52 leaves no fraction, halves to even), and how far
    // the product lies from it: within the noise allowed below, the product's own rounding does not count.
    const double product = value * tens[top];
    const double whole = std::copysign((std::fabs(product) + twoTo52) - twoTo52, product);
    const double distance = std::fabs(product - whole) / tens[top];
    NearDecimal decimal{static_cast<std::int64_t>(whole), top};
    // Its trailing zeros off, by constant divisors (which compile to multiplications): four, then two, then one.
    while (decimal.scale >= 4 && decimal.units % 10000 == 0) {
        decimal.units /= 10000;
        decimal.scale -= 4;
    }
    if (decimal.scale >= 2 && decimal.units % 100 == 0) {
        decimal.units /= 100;
        decimal.scale -= 2;
    }
    if (decimal.scale >= 1 && decimal.units % 10 == 0) {
        decimal.units /= 10;
        --decimal.scale;
    }
    // The distance to the next double up, from its bits (what nextafter gives, without the call).
    const double lastPlace = std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) + 1) - magnitude;
    const double noise = std::max(2 * lastPlace, std::min(1e-4 / tens[decimal.scale], magnitude * 1e-6));
    if (distance > noise)
        return std::nullopt;
    return decimal;
}

bool installExactAggregates(sqlite3* db)
{
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    const struct
    {
        const char* name;
        void (*result)(sqlite3_context*);
    } functions[] = {{"sum", sumResult}, {"total", totalResult}, {"avg", avgResult}};
    for (const auto& f : functions)
        if (sqlite3_create_window_function(db, f.name, 1, flags, nullptr, step, f.result, f.result, inverse, nullptr) !=
            SQLITE_OK)
            return false;
    return true;
}

} // namespace velmora::data
