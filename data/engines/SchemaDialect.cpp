#include "data/engines/SchemaDialect.h"

#include "data/Errors.h"
#include "data/Text.h"

#include <array>
#include <charconv>
#include <vector>

namespace velmora::data {

namespace {

constexpr int MemoSize = 536870910; // the size the Jet provider reports for a memo

bool isWordChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The declaration split into its type words (upper case) and its numbers in
// parentheses; false when it does not have that shape.
struct Declaration
{
    std::string name; // words joined by one blank
    std::vector<int> arguments;
    bool hasParentheses = false;
};

bool readNumber(std::string_view s, std::size_t& i, int& out)
{
    const std::size_t start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    if (i == start)
        return false;
    const auto [end, ec] = std::from_chars(s.data() + start, s.data() + i, out);
    return ec == std::errc() && end == s.data() + i;
}

std::optional<Declaration> split(std::string_view s)
{
    Declaration d;
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < s.size() && text::isWhitespace(s[i]))
            ++i;
    };
    skipBlanks();
    while (i < s.size() && isWordChar(s[i])) {
        if (!d.name.empty())
            d.name += ' ';
        while (i < s.size() && isWordChar(s[i]))
            d.name += text::upperAscii(s[i++]);
        skipBlanks();
    }
    if (d.name.empty())
        return std::nullopt;
    if (i < s.size() && s[i] == '(') {
        d.hasParentheses = true;
        ++i;
        for (;;) {
            skipBlanks();
            int n = 0;
            if (!readNumber(s, i, n))
                return std::nullopt;
            d.arguments.push_back(n);
            skipBlanks();
            if (i < s.size() && s[i] == ',') {
                ++i;
                continue;
            }
            if (i < s.size() && s[i] == ')') {
                ++i;
                break;
            }
            return std::nullopt;
        }
        skipBlanks();
    }
    if (i != s.size())
        return std::nullopt;
    return d;
}

enum class Shape { Plain, Text, Numeric };

struct Word
{
    std::string_view name;
    Shape shape;
    TypeInfo info;
};

// Sizes for text words are the size used when none is given.
const std::array<Word, 35> Words{{
    {"NVARCHAR", Shape::Text, {AdoType::adVarWChar, 255, 0, 0, false}},
    {"TEXT", Shape::Text, {AdoType::adVarWChar, 0, 0, 0, false}},
    {"VARCHAR", Shape::Text, {AdoType::adVarChar, 255, 0, 0, false}},
    {"NCHAR", Shape::Text, {AdoType::adWChar, 255, 0, 0, true}},
    {"CHAR", Shape::Text, {AdoType::adChar, 255, 0, 0, true}},
    {"MEMO", Shape::Plain, {AdoType::adLongVarWChar, MemoSize, 0, 0, false}},
    {"NTEXT", Shape::Plain, {AdoType::adLongVarWChar, MemoSize, 0, 0, false}},
    {"LONGTEXT", Shape::Plain, {AdoType::adLongVarWChar, MemoSize, 0, 0, false}},
    {"SMALLINT", Shape::Plain, {AdoType::adSmallInt, 2, 5, 0, false}},
    {"TINYINT", Shape::Plain, {AdoType::adUnsignedTinyInt, 1, 3, 0, false}},
    {"BYTE", Shape::Plain, {AdoType::adUnsignedTinyInt, 1, 3, 0, false}},
    {"INTEGER", Shape::Plain, {AdoType::adInteger, 4, 10, 0, false}},
    {"INT", Shape::Plain, {AdoType::adInteger, 4, 10, 0, false}},
    {"LONG", Shape::Plain, {AdoType::adInteger, 4, 10, 0, false}},
    {"BIGINT", Shape::Plain, {AdoType::adBigInt, 8, 19, 0, false}},
    {"REAL", Shape::Plain, {AdoType::adDouble, 8, 15, 0, false}},
    {"FLOAT", Shape::Plain, {AdoType::adDouble, 8, 15, 0, false}},
    {"DOUBLE", Shape::Plain, {AdoType::adDouble, 8, 15, 0, false}},
    {"DOUBLE PRECISION", Shape::Plain, {AdoType::adDouble, 8, 15, 0, false}},
    {"DECIMAL", Shape::Numeric, {AdoType::adNumeric, 19, 18, 0, false}},
    {"NUMERIC", Shape::Numeric, {AdoType::adNumeric, 19, 18, 0, false}},
    {"CURRENCY", Shape::Plain, {AdoType::adCurrency, 8, 19, 4, false}},
    {"MONEY", Shape::Plain, {AdoType::adCurrency, 8, 19, 4, false}},
    {"DATETIME", Shape::Plain, {AdoType::adDate, 8, 0, 0, false}},
    {"DATE", Shape::Plain, {AdoType::adDBDate, 6, 0, 0, false}},
    {"TIME", Shape::Plain, {AdoType::adDBTime, 6, 0, 0, false}},
    {"BIT", Shape::Plain, {AdoType::adBoolean, 2, 0, 0, false}},
    {"BOOLEAN", Shape::Plain, {AdoType::adBoolean, 2, 0, 0, false}},
    {"YESNO", Shape::Plain, {AdoType::adBoolean, 2, 0, 0, false}},
    {"LONGCHAR", Shape::Plain, {AdoType::adLongVarWChar, MemoSize, 0, 0, false}},
    {"BINARY", Shape::Text, {AdoType::adBinary, 255, 0, 0, true}},
    {"VARBINARY", Shape::Text, {AdoType::adVarBinary, 255, 0, 0, false}},
    {"BLOB", Shape::Plain, {AdoType::adLongVarBinary, 2147483647, 0, 0, false}},
    {"LONGBINARY", Shape::Plain, {AdoType::adLongVarBinary, 2147483647, 0, 0, false}},
    {"IMAGE", Shape::Plain, {AdoType::adLongVarBinary, 2147483647, 0, 0, false}},
}};

constexpr int MaxTextSize = 1 << 30;
constexpr int MaxPrecision = 38;

} // namespace

std::optional<TypeInfo> parseDeclaredType(std::string_view declared)
{
    const auto d = split(declared);
    if (!d)
        return std::nullopt;
    for (const Word& w : Words) {
        if (w.name != d->name)
            continue;
        TypeInfo info = w.info;
        switch (w.shape) {
        case Shape::Plain:
            if (d->hasParentheses)
                return std::nullopt;
            return info;
        case Shape::Text:
            if (!d->hasParentheses) {
                if (info.definedSize == 0) // TEXT without a size is a memo
                    return TypeInfo{AdoType::adLongVarWChar, MemoSize, 0, 0, false};
                return info;
            }
            if (d->arguments.size() != 1 || d->arguments[0] < 1 || d->arguments[0] > MaxTextSize)
                return std::nullopt;
            info.definedSize = d->arguments[0];
            return info;
        case Shape::Numeric:
            if (!d->hasParentheses)
                return info;
            if (d->arguments.size() > 2)
                return std::nullopt;
            info.precision = d->arguments[0];
            info.scale = d->arguments.size() == 2 ? d->arguments[1] : 0;
            if (info.precision < 1 || info.precision > MaxPrecision || info.scale > info.precision)
                return std::nullopt;
            return info;
        }
    }
    return std::nullopt;
}

TypeInfo columnType(std::string_view table, std::string_view column, std::string_view declared)
{
    if (auto info = parseDeclaredType(declared))
        return *info;
    const auto d = split(declared);
    std::string where = "Column '" + std::string(column) + "' of table '" + std::string(table) + "'";
    if (d && d->name == "COUNTER")
        throw DatabaseError(where + " is declared COUNTER, which this database cannot number; declare it "
                                    "INTEGER PRIMARY KEY AUTOINCREMENT.",
                            ErrorKind::Unsupported);
    throw DatabaseError(where + " has the unknown data type '" + std::string(declared) + "'.", ErrorKind::Unsupported);
}

Affinity sqliteAffinity(std::string_view declared)
{
    // SQLite's own rules, in their order, on the declared type's letters in any case.
    const std::string upper = [&] {
        std::string out;
        for (char c : declared)
            out += text::upperAscii(c);
        return out;
    }();
    const auto holds = [&](std::string_view part) { return upper.find(part) != std::string::npos; };
    if (holds("INT"))
        return Affinity::Integer;
    if (holds("CHAR") || holds("CLOB") || holds("TEXT"))
        return Affinity::Text;
    if (holds("BLOB") || text::trimWhitespace(declared).empty())
        return Affinity::Blob;
    if (holds("REAL") || holds("FLOA") || holds("DOUB"))
        return Affinity::Real;
    return Affinity::Numeric;
}

bool isTextType(const TypeInfo& type)
{
    switch (type.type) {
    case AdoType::adVarWChar:
    case AdoType::adVarChar:
    case AdoType::adWChar:
    case AdoType::adChar:
    case AdoType::adLongVarWChar:
    case AdoType::adLongVarChar:
        return true;
    default:
        return false;
    }
}

bool isRowidAliasType(std::string_view declared)
{
    const auto d = split(declared);
    return d && d->name == "INTEGER" && !d->hasParentheses;
}

} // namespace velmora::data
