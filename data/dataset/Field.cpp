#include "data/dataset/Field.h"

#include "data/Errors.h"
#include "data/dataset/Dataset.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace velmora::data {

namespace {

bool isIntegerKind(FieldKind kind)
{
    const KindFamily family = familyOf(kind);
    return family == KindFamily::Integer || family == KindFamily::LargeInt;
}

std::string quotedText(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

// Rounds to the nearest whole number, halves to the even neighbour; false when out of range.
bool roundToInt64(double number, std::int64_t& out)
{
    if (!std::isfinite(number))
        return false;
    const double rounded = std::nearbyint(number); // the default rounding mode rounds halves to even
    if (rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0)
        return false;
    out = static_cast<std::int64_t>(rounded);
    return true;
}

struct KindRange
{
    std::int64_t low, high;
};

KindRange rangeOf(FieldKind kind)
{
    switch (kind) {
    case FieldKind::SmallInt:
        return {-32768, 32767};
    case FieldKind::Word:
        return {0, 65535};
    case FieldKind::Integer:
    case FieldKind::AutoInc:
        return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    default:
        return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
    }
}

bool parseDateTime(std::string_view input, DateTime& out)
{
    const std::string s = text::trimSpacesAndAsciiControls(input);
    DateTime d{0, 0, 0};
    int consumed = 0;
    const int fields = std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &d.year, &d.month, &d.day, &consumed);
    if (fields != 3)
        return false;
    std::string_view rest = std::string_view(s).substr(static_cast<std::size_t>(consumed));
    if (!rest.empty()) {
        if (rest.front() != ' ' && rest.front() != 'T')
            return false;
        const std::string time(rest.substr(1));
        int used = 0;
        if (std::sscanf(time.c_str(), "%2d:%2d:%2d%n", &d.hour, &d.minute, &d.second, &used) == 3 ||
            (d.second = 0, std::sscanf(time.c_str(), "%2d:%2d%n", &d.hour, &d.minute, &used) == 2)) {
            if (static_cast<std::size_t>(used) != time.size())
                return false;
        } else {
            return false;
        }
    }
    static constexpr int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > monthDays[d.month - 1])
        return false;
    const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    if (d.month == 2 && d.day == 29 && !leap)
        return false;
    if (d.hour < 0 || d.hour > 23 || d.minute < 0 || d.minute > 59 || d.second < 0 || d.second > 59)
        return false;
    out = d;
    return true;
}

} // namespace

// ---- DateTime ----

DateTime DateTime::nowLocal()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

std::optional<DateTime> DateTime::parse(std::string_view text)
{
    DateTime moment{0, 0, 0};
    if (!parseDateTime(text, moment))
        return std::nullopt;
    return moment;
}

std::string DateTime::toString() const
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
    return buffer;
}

// ---- Field ----

const std::string& Field::displayLabel() const
{
    return m_label.empty() ? m_name : m_label;
}

Value Field::value() const
{
    return m_dataset->fieldValue(*this);
}

bool Field::isNull() const
{
    return data::isNull(value());
}

std::string Field::asString() const
{
    return text::display(value());
}

std::int64_t Field::asLargeInt() const
{
    return valueAsLargeInt(value());
}

std::int64_t valueAsLargeInt(const Value& v)
{
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return *i;
    if (const auto* b = std::get_if<bool>(&v))
        return *b ? 1 : 0;
    std::int64_t out = 0;
    if (const auto* d = std::get_if<double>(&v)) {
        if (!roundToInt64(*d, out))
            throw ConversionError(text::formatDouble(*d) + " is not a valid integer value");
        return out;
    }
    if (const auto* x = std::get_if<Decimal>(&v)) {
        if (!x->toInt64(out))
            throw ConversionError(x->toString() + " is not a valid integer value");
        return out;
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        double number = 0;
        if (text::parseInteger(*s, out))
            return out;
        if (text::parseNumber(*s, number) && roundToInt64(number, out))
            return out;
        throw ConversionError(quotedText(*s) + " is not a valid integer value");
    }
    throw ConversionError("Could not convert variant of type (Null) into type (Int64)");
}

double Field::asFloat() const
{
    const Value v = value();
    if (const auto* i = std::get_if<std::int64_t>(&v))
        return static_cast<double>(*i);
    if (const auto* d = std::get_if<double>(&v))
        return *d;
    if (const auto* x = std::get_if<Decimal>(&v))
        return x->toDouble();
    if (const auto* b = std::get_if<bool>(&v))
        return *b ? 1 : 0;
    if (const auto* s = std::get_if<std::string>(&v)) {
        double number = 0;
        if (text::parseNumber(*s, number))
            return number;
        throw ConversionError(quotedText(*s) + " is not a valid floating point value");
    }
    throw ConversionError("Could not convert variant of type (Null) into type (Double)");
}

void Field::setAsString(const std::string& input)
{
    setValue(input);
}

void Field::setAsLargeInt(std::int64_t number)
{
    setValue(number);
}

void Field::setAsFloat(double number)
{
    setValue(number);
}

void Field::setAsDateTime(const DateTime& moment)
{
    if (isTextKind(m_kind) || familyOf(m_kind) == KindFamily::DateTime || m_kind == FieldKind::Memo)
        store(moment.toString());
    else
        throw ConversionError("Cannot convert a date and time into field '" + m_name + "' of type " +
                              std::string(kindName(m_kind)));
}

void Field::clear()
{
    store({});
}

// Converts a value into what this field's kind holds; what it cannot hold is refused with the texts
// operators know from the field types ("'abc' is not a valid integer value").
void Field::setValue(const Value& input)
{
    if (data::isNull(input)) {
        store({});
        return;
    }
    if (isTextKind(m_kind) || m_kind == FieldKind::Memo) {
        std::string t = text::display(input);
        if (m_kind != FieldKind::Memo && m_size > 0 && text::utf8Length(t) > static_cast<std::size_t>(m_size))
            t = text::utf8Left(t, static_cast<std::size_t>(m_size));
        store(std::move(t));
        return;
    }
    const auto* s = std::get_if<std::string>(&input);
    if (s && text::trimSpacesAndAsciiControls(*s).empty()) {
        store({});
        return;
    }
    if (isIntegerKind(m_kind)) {
        std::int64_t n = 0;
        if (s) {
            if (!text::parseInteger(*s, n))
                throw ConversionError(quotedText(*s) + " is not a valid integer value");
        } else if (const auto* d = std::get_if<double>(&input)) {
            if (!roundToInt64(*d, n))
                throw ConversionError(text::formatDouble(*d) + " is not a valid integer value");
        } else if (const auto* x = std::get_if<Decimal>(&input)) {
            if (!x->toInt64(n))
                throw ConversionError(x->toString() + " is not a valid integer value");
        } else if (const auto* b = std::get_if<bool>(&input)) {
            n = *b ? 1 : 0;
        } else {
            n = std::get<std::int64_t>(input);
        }
        const KindRange range = rangeOf(m_kind);
        if (n < range.low || n > range.high)
            throw DatabaseError(std::to_string(n) + " is not a valid value for field '" + displayLabel() +
                                    "'. The allowed range is " + std::to_string(range.low) + " to " +
                                    std::to_string(range.high),
                                ErrorKind::Constraint);
        store(n);
        return;
    }
    if (m_kind == FieldKind::BCD) {
        storeDecimal(input);
        return;
    }
    if (m_kind == FieldKind::Float) {
        double d = 0;
        if (s) {
            if (!text::parseNumber(*s, d))
                throw ConversionError(quotedText(*s) + " is not a valid floating point value");
        } else if (const auto* i = std::get_if<std::int64_t>(&input)) {
            d = static_cast<double>(*i);
        } else if (const auto* b = std::get_if<bool>(&input)) {
            d = *b ? 1 : 0;
        } else if (const auto* x = std::get_if<Decimal>(&input)) {
            d = x->toDouble();
        } else {
            d = std::get<double>(input);
        }
        store(d);
        return;
    }
    if (familyOf(m_kind) == KindFamily::DateTime) {
        DateTime moment{0, 0, 0};
        if (!s || !parseDateTime(*s, moment))
            throw ConversionError(quotedText(text::display(input)) + " is not a valid date and time");
        const std::string full = moment.toString();
        // A date column keeps only the date, a time column only the time of day.
        if (m_kind == FieldKind::Date)
            store(full.substr(0, 10));
        else if (m_kind == FieldKind::Time)
            store(full.substr(11));
        else
            store(full);
        return;
    }
    if (m_kind == FieldKind::Boolean) {
        if (const auto* b = std::get_if<bool>(&input)) {
            store(*b);
        } else if (const auto* i = std::get_if<std::int64_t>(&input)) {
            store(*i != 0);
        } else if (const auto* d = std::get_if<double>(&input)) {
            store(*d != 0);
        } else if (const auto* x = std::get_if<Decimal>(&input)) {
            store(!x->isZero());
        } else if (s && (text::equalsIgnoreCase(text::trimSpacesAndAsciiControls(*s), "true") ||
                         text::trimSpacesAndAsciiControls(*s) == "1")) {
            store(true);
        } else if (s && (text::equalsIgnoreCase(text::trimSpacesAndAsciiControls(*s), "false") ||
                         text::trimSpacesAndAsciiControls(*s) == "0")) {
            store(false);
        } else {
            throw ConversionError(quotedText(text::display(input)) + " is not a valid boolean value");
        }
        return;
    }
    store(input);
}

int Field::bcdPrecision() const
{
    int precision = m_precision;
    if (m_column >= 0 && static_cast<std::size_t>(m_column) < m_dataset->columns().size()) {
        const int column = m_dataset->columns()[static_cast<std::size_t>(m_column)].precision;
        if (column > 0 && (precision <= 0 || column < precision))
            precision = column;
    }
    return precision > 0 && precision <= Decimal::MaxDigits ? precision : Decimal::MaxDigits;
}

// A BCD value is rounded to the field's scale (halves to the even digit: a double from its exact binary value,
// text from its digits) and must fit the digits the precision leaves before the point.
void Field::storeDecimal(const Value& input)
{
    const int scale = std::clamp(m_size, 0, Decimal::MaxScale);
    const int precision = std::max(bcdPrecision(), scale);
    std::optional<Decimal> decimal;
    std::string shown; // the value as a refusal names it, when it has no decimal
    if (const auto* s = std::get_if<std::string>(&input)) {
        const std::string trimmed = text::trimSpacesAndAsciiControls(*s);
        decimal = Decimal::parse(trimmed, scale);
        double number = 0;
        if (!decimal && !text::parseNumber(trimmed, number))
            throw ConversionError(quotedText(*s) + " is not a valid floating point value");
        shown = trimmed;
    } else if (const auto* i = std::get_if<std::int64_t>(&input)) {
        decimal = Decimal(*i);
    } else if (const auto* b = std::get_if<bool>(&input)) {
        decimal = Decimal(*b ? 1 : 0);
    } else if (const auto* d = std::get_if<double>(&input)) {
        decimal = Decimal::fromDouble(*d, scale);
        shown = text::formatDouble(*d);
    } else if (const auto* x = std::get_if<Decimal>(&input)) {
        decimal = x->rounded(scale);
        shown = x->toString();
    }
    if (!decimal || decimal->wholeDigits() > precision - scale) {
        const std::string whole =
            precision > scale ? std::string(static_cast<std::size_t>(precision - scale), '9') : "0";
        const std::string largest = scale > 0 ? whole + "." + std::string(static_cast<std::size_t>(scale), '9') : whole;
        throw DatabaseError((decimal ? decimal->toString() : shown) + " is not a valid value for field '" +
                                displayLabel() + "'. The allowed range is -" + largest + " to " + largest,
                            ErrorKind::Constraint);
    }
    store(*decimal);
}

void Field::store(Value v)
{
    m_dataset->setCell(*this, std::move(v));
}

} // namespace velmora::data
