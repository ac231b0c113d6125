#include "import/Convert.h"

#include "data/Decimal.h"
#include "data/Text.h"
#include "data/dataset/Field.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace velmora::import {

namespace {

using K = TargetType::Kind;
using access::Kind;

// A decimal number as its digits and a scale: exact at any size.
struct DecimalText
{
    bool negative = false;
    std::string digits; // the unscaled value, no leading zeros; empty for zero
    int scale = 0;

    // [+-]digits[.digits], nothing else around.
    static std::optional<DecimalText> parse(std::string_view text)
    {
        DecimalText d;
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
            d.negative = text.front() == '-';
            text.remove_prefix(1);
        }
        const auto point = text.find('.');
        const std::string_view whole = text.substr(0, point);
        const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
        if (whole.empty() && fraction.empty())
            return std::nullopt;
        for (const std::string_view part : {whole, fraction})
            for (const char c : part)
                if (c < '0' || c > '9')
                    return std::nullopt;
        d.digits = std::string(whole) + std::string(fraction);
        d.scale = static_cast<int>(fraction.size());
        d.trim();
        return d;
    }

    void trim()
    {
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
        if (digits.empty())
            negative = false;
    }

    // Half away from zero, as the server rounds a numeric to its column's scale.
    void roundTo(int newScale)
    {
        if (newScale >= scale) {
            if (!digits.empty())
                digits.append(static_cast<std::size_t>(newScale - scale), '0');
            scale = newScale;
            return;
        }
        const auto drop = static_cast<std::size_t>(scale - newScale);
        std::string padded = std::string(drop + 1 > digits.size() ? drop + 1 - digits.size() : 0, '0') + digits;
        const bool up = padded[padded.size() - drop] >= '5';
        padded.erase(padded.size() - drop);
        if (up) {
            std::size_t i = padded.size();
            while (i > 0 && padded[i - 1] == '9')
                padded[--i] = '0';
            if (i == 0)
                padded.insert(padded.begin(), '1');
            else
                ++padded[i - 1];
        }
        digits = padded;
        scale = newScale;
        trim();
    }

    int integerDigits() const { return std::max(0, static_cast<int>(digits.size()) - scale); }

    int significantDigits() const
    {
        const auto last = digits.find_last_not_of('0');
        return last == std::string::npos ? 0 : static_cast<int>(last) + 1;
    }

    std::string text() const
    {
        std::string padded = digits;
        if (padded.size() < static_cast<std::size_t>(scale) + 1)
            padded.insert(0, static_cast<std::size_t>(scale) + 1 - padded.size(), '0');
        if (scale > 0)
            padded.insert(padded.size() - static_cast<std::size_t>(scale), ".");
        return (negative ? "-" : "") + padded;
    }
};

// The shortest text that reads back as the same number; a Single as the float it was stored as, so 0.15 stays
// 0.15 rather than the 0.15000000596… that its widening to double spells.
std::string numberText(double value, Kind from, std::chars_format format)
{
    char buffer[400];
    const auto [end, ec] = from == Kind::Single
                               ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value), format)
                               : std::to_chars(buffer, buffer + sizeof buffer, value, format);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

std::string describe(const TargetType& to)
{
    switch (to.kind) {
    case K::Text:
        return "text of " + std::to_string(to.size) + " characters";
    case K::Memo:
        return "memo";
    case K::SmallInt:
        return "small integer";
    case K::Integer:
        return "integer";
    case K::BigInt:
        return "large integer";
    case K::Single:
    case K::Double:
        return "floating-point number";
    case K::Decimal:
        return "decimal of " + std::to_string(to.precision) + " digits, " + std::to_string(to.scale) + " after the point";
    case K::DateTime:
    case K::Date:
    case K::Time:
        return "date-time";
    case K::Boolean:
        return "yes/no";
    case K::Binary:
        return "binary";
    }
    return {};
}

[[noreturn]] void refuse(Kind from, const TargetType& to)
{
    throw ValueRefused("a column of " + describe(to) + " cannot hold a value of the Access kind " +
                       std::string(access::kindName(from)));
}

// The value as text, for text and memo columns.
std::string asText(const access::Value& value, Kind from, const TargetType& to)
{
    if (const auto* s = std::get_if<std::string>(&value))
        return *s;
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value))
        return numberText(*d, from, std::chars_format::general);
    if (const auto* c = std::get_if<access::Currency>(&value))
        return c->text();
    if (const auto* x = std::get_if<access::ExactDecimal>(&value))
        return x->text();
    if (const auto* t = std::get_if<access::DateTime>(&value))
        return t->text();
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? "1" : "0"; // as Velmora keeps yes/no
    refuse(from, to);
}

// The value as an exact decimal, for decimal columns; none for a kind that has no number.
std::optional<DecimalText> asDecimal(const access::Value& value, Kind from)
{
    if (const auto* c = std::get_if<access::Currency>(&value))
        return DecimalText::parse(c->text());
    if (const auto* x = std::get_if<access::ExactDecimal>(&value))
        return DecimalText::parse(x->text());
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return DecimalText::parse(std::to_string(*i));
    if (const auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d))
            throw ValueRefused("the number " + numberText(*d, from, std::chars_format::general) +
                               " has no decimal value");
        return DecimalText::parse(numberText(*d, from, std::chars_format::fixed));
    }
    if (const auto* b = std::get_if<bool>(&value))
        return DecimalText::parse(*b ? "1" : "0");
    if (const auto* s = std::get_if<std::string>(&value)) {
        const std::string trimmed = data::text::trimSpacesAndAsciiControls(*s);
        if (auto parsed = DecimalText::parse(trimmed))
            return parsed;
        throw ValueRefused("the text '" + *s + "' is not a decimal number");
    }
    return std::nullopt;
}

// Rounded to the column's scale as the data layer rounds (to the nearest, halves to the even digit).
data::Value toDecimal(const access::Value& value, Kind from, const TargetType& to, Engine engine)
{
    const std::optional<DecimalText> d = asDecimal(value, from);
    if (!d)
        refuse(from, to);
    const std::optional<data::Decimal> exact = data::Decimal::parse(d->text(), to.scale);
    if (!exact || exact->wholeDigits() > to.precision - to.scale)
        throw ValueRefused(d->text() + " does not fit a " + describe(to));
    const int digits = DecimalText::parse(exact->toString())->significantDigits();
    if (engine == Engine::File && digits > FileDecimalDigits)
        throw ValueRefused(exact->toString() + " has " + std::to_string(digits) +
                           " significant digits; a database file keeps at most " + std::to_string(FileDecimalDigits) +
                           " exactly (a server keeps them all)");
    return *exact;
}

data::Value toInteger(const access::Value& value, Kind from, const TargetType& to)
{
    std::int64_t whole = 0;
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        whole = *i;
    } else if (const auto* b = std::get_if<bool>(&value)) {
        whole = *b ? 1 : 0;
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        if (!data::text::parseInteger(*s, whole))
            throw ValueRefused("the text '" + *s + "' is not a whole number");
    } else if (std::holds_alternative<double>(value) || std::holds_alternative<access::Currency>(value) ||
               std::holds_alternative<access::ExactDecimal>(value)) {
        std::optional<DecimalText> d = asDecimal(value, from);
        const std::string text = d ? d->text() : std::string();
        if (!d || d->significantDigits() > d->integerDigits() || d->integerDigits() > 18)
            throw ValueRefused(text + " is not a whole number that fits a column of " + describe(to));
        d->roundTo(0);
        whole = std::stoll(d->text());
    } else {
        refuse(from, to);
    }
    const std::int64_t limit = to.kind == K::SmallInt  ? std::numeric_limits<std::int16_t>::max()
                               : to.kind == K::Integer ? std::numeric_limits<std::int32_t>::max()
                                                       : std::numeric_limits<std::int64_t>::max();
    if (whole > limit || whole < -limit - 1)
        throw ValueRefused(std::to_string(whole) + " is out of the range of a column of " + describe(to));
    return whole;
}

data::Value toFloat(const access::Value& value, Kind from, const TargetType& to)
{
    if (const auto* d = std::get_if<double>(&value)) {
        if (from != Kind::Single)
            return *d;
        return std::strtod(numberText(*d, from, std::chars_format::general).c_str(), nullptr);
    }
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return static_cast<double>(*i);
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? 1.0 : 0.0;
    if (const auto* s = std::get_if<std::string>(&value)) {
        double number = 0;
        if (!data::text::parseNumber(*s, number))
            throw ValueRefused("the text '" + *s + "' is not a number");
        return number;
    }
    if (std::holds_alternative<access::Currency>(value) || std::holds_alternative<access::ExactDecimal>(value))
        return std::strtod(asDecimal(value, from)->text().c_str(), nullptr);
    refuse(from, to);
}

// "YYYY-MM-DD HH:MM:SS", as the target keeps every date-time.
bool isDateTimeText(std::string_view text)
{
    static constexpr std::string_view shape = "0000-00-00 00:00:00";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == '0' ? text[i] < '0' || text[i] > '9' : text[i] != shape[i])
            return false;
    return true;
}

} // namespace

data::Value convertValue(const access::Value& value, Kind from, const TargetType& to, Engine engine)
{
    if (std::holds_alternative<std::monostate>(value))
        return {};
    switch (to.kind) {
    case K::Text:
    case K::Memo: {
        std::string text = asText(value, from, to);
        if (to.kind == K::Text && to.size > 0) {
            const std::size_t length = data::text::utf8Length(text);
            if (length > static_cast<std::size_t>(to.size))
                throw ValueRefused("the text is " + std::to_string(length) + " characters long; the column holds " +
                                   std::to_string(to.size));
        }
        if (engine == Engine::Server && text.find('\0') != std::string::npos)
            throw ValueRefused("the text holds a NUL character, which the server cannot store");
        return text;
    }
    case K::Binary:
        if (const auto* bytes = std::get_if<access::Bytes>(&value))
            return std::string(bytes->begin(), bytes->end());
        refuse(from, to);
    case K::SmallInt:
    case K::Integer:
    case K::BigInt:
        return toInteger(value, from, to);
    case K::Single:
    case K::Double:
        return toFloat(value, from, to);
    case K::Decimal:
        return toDecimal(value, from, to, engine);
    case K::DateTime:
    case K::Date:
    case K::Time:
        if (const auto* t = std::get_if<access::DateTime>(&value))
            return t->text();
        if (const auto* s = std::get_if<std::string>(&value); s && isDateTimeText(*s))
            return *s;
        if (const auto* s = std::get_if<std::string>(&value))
            throw ValueRefused("the text '" + *s + "' is not a date-time written YYYY-MM-DD HH:MM:SS");
        refuse(from, to);
    case K::Boolean:
        if (const auto* b = std::get_if<bool>(&value))
            return *b;
        if (const auto* i = std::get_if<std::int64_t>(&value))
            return *i != 0;
        refuse(from, to);
    }
    refuse(from, to);
}

std::string displayValue(const access::Value& value)
{
    if (std::holds_alternative<std::monostate>(value))
        return "NULL";
    if (const auto* s = std::get_if<std::string>(&value))
        return "'" + *s + "'";
    if (const auto* bytes = std::get_if<access::Bytes>(&value))
        return "(" + std::to_string(bytes->size()) + " bytes)";
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? "Yes" : "No";
    if (const auto* d = std::get_if<double>(&value))
        return numberText(*d, Kind::Double, std::chars_format::general);
    return asText(value, Kind::Text, TargetType{});
}

} // namespace velmora::import
