#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::data {

// An exact decimal number: a signed whole number of units and a scale (the units are 10^-scale each), of at
// most 38 digits. BCD fields hold these, so money never passes through a binary fraction.
//
// Rounding is always to the nearest, halves to the even digit.
class Decimal
{
public:
    static constexpr int MaxDigits = 38;
    static constexpr int MaxScale = 38;

    Decimal() = default;
    explicit Decimal(std::int64_t whole) : Decimal(static_cast<__int128>(whole), 0) {}

    // Nothing when the units have more than MaxDigits digits or the scale is out of 0..MaxScale.
    static std::optional<Decimal> fromUnits(__int128 units, int scale);

    // Plain ("-12.50", ".5", "3.") or exponent ("1.5e-3") notation, nothing else around it. With roundTo >= 0
    // the value is first rounded to that many decimals, from its digits; nothing when the result needs more
    // than MaxDigits digits (or, without rounding, more than MaxScale decimals).
    static std::optional<Decimal> parse(std::string_view text, int roundTo = -1);

    // The double's exact binary value rounded to `scale` decimals (as printf's "%.*f" does); nothing for an
    // infinity, a NaN or a value too large.
    static std::optional<Decimal> fromDouble(double value, int scale);

    __int128 units() const
    {
        // Put together unsigned, so that no negative number is shifted.
        using Wide = unsigned __int128;
        return static_cast<__int128>((static_cast<Wide>(static_cast<std::uint64_t>(m_high)) << 64) | m_low);
    }
    int scale() const { return m_scale; }
    bool isZero() const { return m_low == 0 && m_high == 0; }
    bool isNegative() const { return m_high < 0; }

    // At most `scale` decimals (never more than it has); nothing for a negative scale.
    std::optional<Decimal> rounded(int scale) const;
    // Digits before the point, 0 when there are none (|x| < 1).
    int wholeDigits() const;
    // The whole number nearest to it; false when it does not fit.
    bool toInt64(std::int64_t& out) const;
    // The double nearest to it.
    double toDouble() const;
    // Plain notation without trailing fractional zeros: "0.3", "12", "-0.0001".
    std::string toString() const;

    friend bool operator==(const Decimal& a, const Decimal& b) { return compare(a, b) == 0; }
    friend bool operator<(const Decimal& a, const Decimal& b) { return compare(a, b) < 0; }

private:
    Decimal(__int128 units, int scale)
        : m_low(static_cast<std::uint64_t>(units)), m_high(static_cast<std::int64_t>(units >> 64)),
          m_scale(static_cast<std::uint8_t>(scale))
    {
    }
    static int compare(const Decimal& a, const Decimal& b);

    // Two halves rather than one __int128, so that a Value holding a decimal is no larger than one holding text.
    std::uint64_t m_low = 0;
    std::int64_t m_high = 0;
    std::uint8_t m_scale = 0;
};

std::ostream& operator<<(std::ostream& out, const Decimal& value);

} // namespace velmora::data
