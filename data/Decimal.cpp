#include "data/Decimal.h"

#include <array>
#include <charconv>
#include <cmath>
#include <ostream>
#include <system_error>

namespace velmora::data {

namespace {

using Int = __int128;

constexpr std::array<Int, Decimal::MaxDigits + 1> powersOfTen = [] {
    std::array<Int, Decimal::MaxDigits + 1> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i)
        p[i] = p[i - 1] * 10;
    return p;
}();

// 10^38: one more than the largest number of units.
constexpr Int unitsLimit = powersOfTen[Decimal::MaxDigits];

Int magnitude(Int n)
{
    return n < 0 ? -n : n;
}

// The digits of a non-negative number.
std::string digitsOf(Int n)
{
    char buffer[40];
    char* end = buffer + sizeof buffer;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(n % 10));
        n /= 10;
    } while (n > 0);
    return std::string(p, end);
}

int digitCount(Int n)
{
    int count = 0;
    for (n = magnitude(n); n > 0; n /= 10)
        ++count;
    return count;
}

// Adds one to a string of decimal digits.
void increment(std::string& digits)
{
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

} // namespace

std::optional<Decimal> Decimal::fromUnits(Int units, int scale)
{
    if (scale < 0 || scale > MaxScale || units >= unitsLimit || units <= -unitsLimit)
        return std::nullopt;
    return Decimal(units, scale);
}

std::optional<Decimal> Decimal::parse(std::string_view text, int roundTo)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // The significant digits, and the power of ten of the last one.
    std::string digits;
    long long exponent = 0;
    bool anyDigit = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            anyDigit = true;
            if (!digits.empty() || c != '0')
                digits += c;
            if (point)
                --exponent;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        if (i == text.size() || text[i] < '0' || text[i] > '9')
            return std::nullopt;
        long long written = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            if (written < 1'000'000'000)
                written = written * 10 + (text[i] - '0');
        exponent += negativeExponent ? -written : written;
    }
    if (i != text.size())
        return std::nullopt;

    if (digits.empty()) {
        const long long scale = exponent < 0 ? -exponent : 0;
        return Decimal(Int{0}, static_cast<int>(std::min<long long>(scale, roundTo >= 0 ? roundTo : MaxScale)));
    }
    if (roundTo >= 0 && -exponent > roundTo) {
        // Cut the digits after the wanted decimals, rounding on the first one cut and whatever follows it.
        const long long cut = -exponent - roundTo;
        std::string kept;
        char first = '0';
        bool restNonZero = false;
        if (cut <= static_cast<long long>(digits.size())) {
            const std::size_t keep = digits.size() - static_cast<std::size_t>(cut);
            kept = digits.substr(0, keep);
            first = digits[keep];
            restNonZero = digits.find_first_not_of('0', keep + 1) != std::string::npos;
        } else {
            restNonZero = true; // every digit lies below the first one cut, which is a zero
        }
        const bool lastOdd = !kept.empty() && (kept.back() - '0') % 2 == 1;
        if (first > '5' || (first == '5' && (restNonZero || lastOdd)))
            increment(kept);
        digits = kept.empty() ? "0" : kept;
        exponent = -roundTo;
    }
    if (exponent > 0) {
        if (exponent > MaxDigits)
            return std::nullopt;
        digits.append(static_cast<std::size_t>(exponent), '0');
        exponent = 0;
    }
    // Trailing zeros of the fraction go only when there would be too many digits or decimals with them.
    while (exponent < 0 && digits.size() > 1 && digits.back() == '0' &&
           (-exponent > MaxScale || digits.size() > static_cast<std::size_t>(MaxDigits))) {
        digits.pop_back();
        ++exponent;
    }
    if (-exponent > MaxScale || digits.size() > static_cast<std::size_t>(MaxDigits))
        return std::nullopt;
    Int units = 0;
    for (char c : digits)
        units = units * 10 + (c - '0');
    return Decimal(negative ? -units : units, static_cast<int>(-exponent));
}

std::optional<Decimal> Decimal::fromDouble(double value, int scale)
{
    if (!std::isfinite(value) || scale < 0 || scale > MaxScale)
        return std::nullopt;
    // The usual case, without any text: value * 10^scale exactly, as the rounded product and its error, then
    // rounded to a whole number by both together.
    if (scale <= 22) {
        static constexpr double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const double factor = tens[scale];
        const double product = value * factor;
        if (std::fabs(product) < 4503599627370496.0) { // 2^52: the product's last place is at most 1/2
            const double error = std::fma(value, factor, -product);
            double whole = std::nearbyint(product); // halves to even
            const double rest = product - whole;    // exact
            // Only a product that is a half itself can be pushed to the other side by its error.
            if (rest == 0.5 && error > 0)
                whole += 1;
            else if (rest == -0.5 && error < 0)
                whole -= 1;
            return Decimal(static_cast<Int>(static_cast<long long>(whole)), scale);
        }
    }
    char buffer[400];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, scale);
    if (ec != std::errc())
        return std::nullopt;
    return parse(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

std::optional<Decimal> Decimal::rounded(int scale) const
{
    if (scale < 0)
        return std::nullopt;
    if (scale >= m_scale)
        return *this;
    const Int divisor = powersOfTen[static_cast<std::size_t>(m_scale - scale)];
    const Int half = divisor / 2;
    const Int u = units();
    Int quotient = u / divisor;
    const Int rest = magnitude(u % divisor);
    if (rest > half || (rest == half && quotient % 2 != 0))
        quotient += u < 0 ? -1 : 1;
    return fromUnits(quotient, scale);
}

int Decimal::wholeDigits() const
{
    return digitCount(units() / powersOfTen[m_scale]);
}

bool Decimal::toInt64(std::int64_t& out) const
{
    const std::optional<Decimal> whole = rounded(0);
    if (!whole)
        return false;
    const Int u = whole->units();
    if (u < static_cast<Int>(INT64_MIN) || u > static_cast<Int>(INT64_MAX))
        return false;
    out = static_cast<std::int64_t>(u);
    return true;
}

double Decimal::toDouble() const
{
    const std::string text = toString();
    double out = 0;
    std::from_chars(text.data(), text.data() + text.size(), out);
    return out;
}

std::string Decimal::toString() const
{
    const Int u = units();
    std::string digits = digitsOf(magnitude(u));
    if (m_scale > 0) {
        if (digits.size() <= m_scale)
            digits.insert(0, m_scale + 1 - digits.size(), '0');
        digits.insert(digits.size() - m_scale, 1, '.');
        while (digits.back() == '0')
            digits.pop_back();
        if (digits.back() == '.')
            digits.pop_back();
    }
    return u < 0 ? "-" + digits : digits;
}

int Decimal::compare(const Decimal& a, const Decimal& b)
{
    const Int ua = a.units();
    const Int ub = b.units();
    const int signA = ua < 0 ? -1 : ua > 0;
    const int signB = ub < 0 ? -1 : ub > 0;
    if (signA != signB)
        return signA < signB ? -1 : 1;
    // Same sign: whole parts first, then the fractions at the larger scale (which cannot overflow, both being
    // below one).
    const Int ma = magnitude(ua);
    const Int mb = magnitude(ub);
    const Int wholeA = ma / powersOfTen[a.m_scale];
    const Int wholeB = mb / powersOfTen[b.m_scale];
    int order = 0;
    if (wholeA != wholeB) {
        order = wholeA < wholeB ? -1 : 1;
    } else {
        const int scale = std::max(a.m_scale, b.m_scale);
        const Int fractionA = (ma % powersOfTen[a.m_scale]) * powersOfTen[static_cast<std::size_t>(scale - a.m_scale)];
        const Int fractionB = (mb % powersOfTen[b.m_scale]) * powersOfTen[static_cast<std::size_t>(scale - b.m_scale)];
        order = fractionA == fractionB ? 0 : fractionA < fractionB ? -1 : 1;
    }
    return signA < 0 ? -order : order;
}

std::ostream& operator<<(std::ostream& out, const Decimal& value)
{
    return out << value.toString();
}

} // namespace velmora::data
