#include "access/AccessFile.h"

#include <cmath>
#include <cstdio>

namespace velmora::access {

namespace {

// Days from 1970-01-01 to 1899-12-30, Access's day zero.
constexpr std::int64_t accessEpochFromUnix = -25569;
// Whole parts of the first and last days Access holds: 0100-01-01 and 9999-12-31.
constexpr double firstAccessDay = -657434;
constexpr double lastAccessDay = 2958465;

// Proleptic Gregorian date of a day counted from 1970-01-01 (valid far beyond the years 100 to 9999), in eras
// of 400 years so the leap rules need no special cases.
void civilFromDays(std::int64_t z, int& year, int& month, int& day)
{
    z += 719468; // days from 0000-03-01
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100); // from 1 March
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

std::string digits(unsigned __int128 value)
{
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return out;
}

// Unscaled digits with the point placed `scale` digits from the right.
std::string scaledText(bool negative, unsigned __int128 unscaled, int scale)
{
    std::string text = digits(unscaled);
    if (scale > 0) {
        if (text.size() <= static_cast<std::size_t>(scale))
            text.insert(0, static_cast<std::size_t>(scale) + 1 - text.size(), '0');
        text.insert(text.size() - static_cast<std::size_t>(scale), 1, '.');
    }
    if (negative && unscaled != 0)
        text.insert(0, 1, '-');
    return text;
}

} // namespace

std::string_view kindName(Kind kind)
{
    switch (kind) {
    case Kind::Text:
        return "Text";
    case Kind::Memo:
        return "Memo";
    case Kind::Byte:
        return "Byte";
    case Kind::Integer:
        return "Integer";
    case Kind::LongInteger:
        return "Long Integer";
    case Kind::AutoNumber:
        return "AutoNumber";
    case Kind::Currency:
        return "Currency";
    case Kind::Decimal:
        return "Decimal";
    case Kind::Single:
        return "Single";
    case Kind::Double:
        return "Double";
    case Kind::DateTime:
        return "Date/Time";
    case Kind::Boolean:
        return "Yes/No";
    case Kind::Binary:
        return "Binary";
    case Kind::ReplicationId:
        return "Replication ID";
    }
    return "?";
}

DateTime DateTime::fromStored(double days)
{
    if (!std::isfinite(days) || std::trunc(days) < firstAccessDay || std::trunc(days) > lastAccessDay) {
        char shown[64];
        std::snprintf(shown, sizeof shown, "%.17g", days);
        throw AccessError(std::string("date-time value ") + shown +
                          " is outside the years 100 to 9999 that Access can hold");
    }
    const double whole = std::trunc(days);
    // The time of day is the fraction's magnitude even before 1899-12-30 (-1.25 is 1899-12-29 06:00).
    const double fraction = std::fabs(days - whole);
    std::int64_t dayNumber = static_cast<std::int64_t>(whole);
    std::int64_t seconds = std::llround(fraction * 86400.0);
    if (seconds >= 86400) { // 23:59:59.5 and later round up to the next midnight, never to 23:59:60
        seconds -= 86400;
        ++dayNumber;
    }
    DateTime result;
    civilFromDays(dayNumber + accessEpochFromUnix, result.year, result.month, result.day);
    if (result.year > 9999)
        throw AccessError("date-time value 9999-12-31 23:59:59.5 or later rounds past the year 9999");
    result.hour = static_cast<int>(seconds / 3600);
    result.minute = static_cast<int>(seconds / 60 % 60);
    result.second = static_cast<int>(seconds % 60);
    return result;
}

std::string DateTime::text() const
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return buffer;
}

std::string Currency::text() const
{
    const bool negative = tenThousandths < 0;
    // Through unsigned arithmetic, so the most negative value has a magnitude too.
    const std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(tenThousandths) + 1 : static_cast<std::uint64_t>(tenThousandths);
    return scaledText(negative, magnitude, 4);
}

ExactDecimal ExactDecimal::fromStored(std::span<const std::uint8_t, 17> stored, int scale)
{
    ExactDecimal result;
    result.negative = (stored[0] & 0x80) != 0;
    result.scale = scale;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t value = 0;
        for (int byte = 3; byte >= 0; --byte)
            value = (value << 8) | stored[1 + 4 * word + byte];
        result.unscaled = (result.unscaled << 32) | value;
    }
    return result;
}

std::string ExactDecimal::text() const
{
    return scaledText(negative, unscaled, scale);
}

} // namespace velmora::access
