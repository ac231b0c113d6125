#include "data/Text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velmora::data::text {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool isWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trimWhitespace(std::string_view text)
{
    while (!text.empty() && isWhitespace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isWhitespace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string trimSpacesAndAsciiControls(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string quoted(std::string_view text, char quote)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += quote;
    for (char c : text) {
        out += c;
        if (c == quote)
            out += quote;
    }
    out += quote;
    return out;
}

std::size_t utf8Length(std::string_view text)
{
    std::size_t n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++n;
    return n;
}

std::string utf8Left(std::string_view text, std::size_t characters)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == characters)
                return std::string(text.substr(0, i));
            ++seen;
        }
    }
    return std::string(text);
}

std::string formatDouble(double number)
{
    if (std::isnan(number))
        return "NAN";
    if (std::isinf(number))
        return number > 0 ? "INF" : "-INF";
    if (number == 0)
        return "0";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.15G", number);
    std::string out = buffer;
    // "1.5E+20" -> "1.5E20", "1E-05" -> "1E-5": the fields' general format writes exponents without a sign
    // for positive ones and without leading zeros.
    if (const auto e = out.find('E'); e != std::string::npos) {
        std::string mantissa = out.substr(0, e);
        std::string exponent = out.substr(e + 1);
        const bool negative = exponent.front() == '-';
        exponent.erase(0, 1);
        exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
        out = mantissa + "E" + (negative ? "-" : "") + exponent;
    }
    return out;
}

std::string display(const Value& value)
{
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value))
        return formatDouble(*d);
    if (const auto* x = std::get_if<Decimal>(&value))
        return x->toString();
    if (const auto* s = std::get_if<std::string>(&value))
        return *s;
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? "True" : "False";
    return {};
}

bool parseInteger(std::string_view input, std::int64_t& out)
{
    const std::string s = trimSpacesAndAsciiControls(input);
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+')
        ++first;
    const auto [end, ec] = std::from_chars(first, last, out);
    return first != last && ec == std::errc() && end == last;
}

bool parseNumber(std::string_view input, double& out)
{
    const std::string s = trimSpacesAndAsciiControls(input);
    if (s.empty())
        return false;
    // Only plain decimal notation: no hexadecimal, infinities or NaN words.
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || errno == ERANGE)
        return false;
    out = value;
    return true;
}

} // namespace velmora::data::text
