#include "import/Convert.h"

#include "data/Decimal.h"
#include "data/Text.h"
#include "data/dataset/Field.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace velmora::transfer {

namespace {

using K = data::FieldKind;
using access::Kind;

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
    case K::String:
    case K::FixedString:
    case K::WideString:
    case K::FixedWideString:
        return "text of " + std::to_string(to.size) + " characters";
    case K::Memo:
        return "memo";
    case K::SmallInt:
        return "small integer";
    case K::Integer:
    case K::Word:
    case K::AutoInc:
        return "integer";
    case K::LargeInt:
        return "large integer";
    case K::Single:
    case K::Float:
        return "floating-point number";
    case K::BCD:
        return "decimal of " + std::to_string(to.precision) + " digits, " + std::to_string(to.scale) +
               " after the point";
    case K::DateTime:
    case K::Date:
    case K::Time:
        return "date-time";
    case K::Boolean:
        return "yes/no";
    case K::Blob:
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

// Digits from the first to the last that is not zero: what a REAL must keep of the decimal.
int significantDigits(const data::Decimal& value)
{
    std::string digits;
    for (const char c : value.toString())
        if (c >= '0' && c <= '9')
            digits += c;
    const auto first = digits.find_first_not_of('0');
    return first == std::string::npos ? 0 : static_cast<int>(digits.find_last_not_of('0') - first + 1);
}

// The value as an exact decimal, for decimal columns; none for a kind that has no number.
std::optional<data::Decimal> asDecimal(const access::Value& value, Kind from)
{
    if (const auto* c = std::get_if<access::Currency>(&value))
        return data::Decimal::fromUnits(c->tenThousandths, 4);
    if (const auto* x = std::get_if<access::ExactDecimal>(&value))
        return data::Decimal::parse(x->text());
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return data::Decimal(*i);
    if (const auto* d = std::get_if<double>(&value)) {
        const std::string text = numberText(*d, from, std::chars_format::general);
        if (!std::isfinite(*d))
            throw ValueRefused("the number " + text + " has no decimal value");
        if (auto parsed = data::Decimal::parse(text))
            return parsed;
        throw ValueRefused("the number " + text + " has more digits than a decimal holds");
    }
    if (const auto* b = std::get_if<bool>(&value))
        return data::Decimal(*b ? 1 : 0);
    if (const auto* s = std::get_if<std::string>(&value)) {
        if (auto parsed = data::Decimal::parse(data::text::trimSpacesAndAsciiControls(*s)))
            return parsed;
        throw ValueRefused("the text '" + *s + "' is not a decimal number");
    }
    return std::nullopt;
}

// Rounded to the column's scale as the data layer rounds (to the nearest, halves to the even digit).
data::Value toDecimal(const access::Value& value, Kind from, const TargetType& to, Engine engine)
{
    const std::optional<data::Decimal> d = asDecimal(value, from);
    if (!d)
        refuse(from, to);
    const std::optional<data::Decimal> exact = d->rounded(to.scale);
    if (!exact || exact->wholeDigits() > to.precision - to.scale)
        throw ValueRefused(d->toString() + " does not fit a " + describe(to));
    const int digits = significantDigits(*exact);
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
        const std::optional<data::Decimal> d = asDecimal(value, from);
        if (!d || d->rounded(0) != d || !d->toInt64(whole))
            throw ValueRefused((d ? d->toString() : std::string()) + " is not a whole number that fits a column of " +
                               describe(to));
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

data::Value toFloat(const access::Value& value, Kind from, const TargetType& to, Engine engine)
{
    if (const auto* d = std::get_if<double>(&value)) {
        // SQLite turns a NaN into no value without a word, and the file's readers take no infinity for a number.
        if (engine == Engine::File && !std::isfinite(*d))
            throw ValueRefused("the number " + numberText(*d, from, std::chars_format::general) +
                               " is not a number a database file can keep (a server keeps it)");
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
        return asDecimal(value, from)->toDouble();
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
    case K::String:
    case K::FixedString:
    case K::WideString:
    case K::FixedWideString:
    case K::Memo: {
        std::string text = asText(value, from, to);
        if (data::isTextKind(to.kind) && to.size > 0) {
            const std::size_t length = data::text::utf8Length(text);
            if (length > static_cast<std::size_t>(to.size))
                throw ValueRefused("the text is " + std::to_string(length) + " characters long; the column holds " +
                                   std::to_string(to.size));
        }
        if (engine == Engine::Server && text.find('\0') != std::string::npos)
            throw ValueRefused("the text holds a NUL character, which the server cannot store");
        return text;
    }
    case K::Blob:
        if (const auto* bytes = std::get_if<access::Bytes>(&value))
            return std::string(bytes->begin(), bytes->end());
        refuse(from, to);
    case K::SmallInt:
    case K::Integer:
    case K::Word:
    case K::AutoInc:
    case K::LargeInt:
        return toInteger(value, from, to);
    case K::Single:
    case K::Float:
        return toFloat(value, from, to, engine);
    case K::BCD:
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

} // namespace velmora::transfer
