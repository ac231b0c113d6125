#include "data/engines/PgTypes.h"

#include "data/Decimal.h"
#include "data/Errors.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace velmora::data::pg {

namespace {

constexpr int MemoSize = 536870910; // as the embedded dialect reports a memo
constexpr int BinarySize = 2147483647;

// varchar(n) and char(n) carry n + 4; numeric(p,s) carries (p << 16 | s) + 4.
int textLength(int typmod)
{
    return typmod >= 4 ? typmod - 4 : -1;
}

void describeNumeric(ColumnDescription& c, int typmod)
{
    c.type = AdoType::adNumeric;
    c.definedSize = 19;
    if (typmod >= 4) {
        c.precision = ((typmod - 4) >> 16) & 0xFFFF;
        c.scale = (typmod - 4) & 0xFFFF;
    } else {
        c.precision = 18; // as the embedded dialect reads NUMERIC alone
        c.scale = 0;
    }
}

} // namespace

void describeFixed(ColumnDescription& c, AdoType type, int size, int precision)
{
    c.type = type;
    c.definedSize = size;
    c.precision = precision;
}

bool describeDeclared(ColumnDescription& c, unsigned type, int typmod, bool ansi)
{
    switch (type) {
    case Int2Oid:
        describeFixed(c, AdoType::adSmallInt, 2, 5);
        return true;
    case Int4Oid:
        describeFixed(c, AdoType::adInteger, 4, 10);
        return true;
    case Int8Oid:
        describeFixed(c, AdoType::adBigInt, 8, 19);
        return true;
    case Float4Oid:
        describeFixed(c, AdoType::adSingle, 4, 7);
        return true;
    case Float8Oid:
        describeFixed(c, AdoType::adDouble, 8, 15);
        return true;
    case NumericOid:
        describeNumeric(c, typmod);
        return true;
    case BoolOid:
        describeFixed(c, AdoType::adBoolean, 2, 0);
        return true;
    case TimestampOid:
    case TimestamptzOid:
        describeFixed(c, AdoType::adDate, 8, 0);
        return true;
    case DateOid:
        describeFixed(c, AdoType::adDBDate, 6, 0);
        return true;
    case TimeOid:
        describeFixed(c, AdoType::adDBTime, 6, 0);
        return true;
    case VarcharOid:
    case BpcharOid:
        if (const int n = textLength(typmod); n > 0) {
            if (type == VarcharOid)
                c.type = ansi ? AdoType::adVarChar : AdoType::adVarWChar;
            else
                c.type = ansi ? AdoType::adChar : AdoType::adWChar;
            c.definedSize = n;
            return true;
        }
        [[fallthrough]]; // without a length: as long as text
    case TextOid:
        c.type = ansi ? AdoType::adLongVarChar : AdoType::adLongVarWChar;
        c.definedSize = MemoSize;
        return true;
    case ByteaOid:
        c.type = AdoType::adLongVarBinary;
        c.definedSize = BinarySize;
        return true;
    default:
        return false;
    }
}

bool describeComputed(ColumnDescription& c, unsigned type, int typmod)
{
    if (type == NumericOid && typmod < 0)
        return false; // sum() and arithmetic of decimals: typed by the values, as the embedded engine does
    if (type == OidOid) {
        describeFixed(c, AdoType::adBigInt, 8, 19);
        return true;
    }
    switch (type) {
    case VarcharOid:
    case BpcharOid:
    case TextOid:
        return false;
    default:
        return describeDeclared(c, type, typmod, false);
    }
}

CellView cellOf(const pg_result* r, int row, int column, unsigned type, bool decimal, std::string& scratch)
{
    CellView cell;
    if (PQgetisnull(r, row, column))
        return cell;
    const char* text = PQgetvalue(r, row, column);
    const std::size_t length = static_cast<std::size_t>(PQgetlength(r, row, column));
    const std::string_view view(text, length);
    auto integer = [&](std::int64_t v) {
        cell.type = CellView::Type::Integer;
        cell.integer = v;
        return cell;
    };
    auto real = [&](double v) {
        cell.type = CellView::Type::Double;
        cell.number = v;
        return cell;
    };
    auto textCell = [&](std::string_view v) {
        cell.type = CellView::Type::Text;
        cell.text = v;
        return cell;
    };
    switch (type) {
    case BoolOid:
        cell.type = view == "t" ? CellView::Type::True : CellView::Type::False;
        return cell;
    case Int2Oid:
    case Int4Oid:
    case Int8Oid:
    case OidOid: {
        std::int64_t v = 0;
        std::from_chars(text, text + length, v);
        return integer(v);
    }
    case NumericOid: {
        if (decimal) {
            if (const std::optional<Decimal> exact = Decimal::parse(view)) {
                cell.type = CellView::Type::Decimal;
                cell.decimal = *exact;
                return cell;
            }
            return textCell(view); // NaN, or more digits than a decimal holds
        }
        // Computed: a whole number comes back as an integer, as the embedded engine keeps it.
        const auto point = view.find('.');
        const std::string_view whole = view.substr(0, point);
        const bool integral =
            view.find_first_of("eEN") == std::string_view::npos &&
            (point == std::string_view::npos || view.find_first_not_of('0', point + 1) == std::string_view::npos);
        if (integral) {
            std::int64_t v = 0;
            const auto [end, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), v);
            if (ec == std::errc() && end == whole.data() + whole.size())
                return integer(v);
        }
        return real(std::strtod(text, nullptr));
    }
    case Float4Oid:
    case Float8Oid:
        return real(std::strtod(text, nullptr));
    case TimestampOid:
    case TimestamptzOid:
        // "YYYY-MM-DD HH:MM:SS" like the embedded engine: no fraction, no zone.
        return textCell(view.substr(0, std::min<std::size_t>(length, 19)));
    case TimeOid:
        return textCell(view.substr(0, std::min<std::size_t>(length, 8)));
    case BpcharOid: {
        // The server pads fixed-length text and ignores the padding; the embedded engine never adds it.
        std::string_view value = view;
        while (!value.empty() && value.back() == ' ')
            value.remove_suffix(1);
        return textCell(value);
    }
    case ByteaOid: {
        std::size_t bytes = 0;
        unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &bytes);
        scratch.assign(raw ? reinterpret_cast<const char*>(raw) : "", raw ? bytes : 0);
        PQfreemem(raw);
        return textCell(scratch);
    }
    default:
        return textCell(view);
    }
}

std::optional<std::string> parameterText(const Value& value, unsigned type)
{
    const bool boolean = type == BoolOid;
    const bool integer = type == Int2Oid || type == Int4Oid || type == Int8Oid;
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        if (boolean)
            return std::string(*i != 0 ? "true" : "false");
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        if (boolean)
            return std::string(*d != 0.0 ? "true" : "false");
        // The server's own words; it reads no "nan" or "-nan".
        if (std::isnan(*d))
            return std::string("NaN");
        if (std::isinf(*d))
            return std::string(*d > 0 ? "Infinity" : "-Infinity");
        if (integer && *d == static_cast<double>(static_cast<std::int64_t>(*d)))
            return std::to_string(static_cast<std::int64_t>(*d));
        char buffer[64];
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        return std::string(buffer, ec == std::errc() ? end : buffer);
    }
    if (const auto* b = std::get_if<bool>(&value)) {
        if (boolean)
            return std::string(*b ? "true" : "false");
        return std::string(*b ? "1" : "0");
    }
    if (const auto* x = std::get_if<Decimal>(&value)) {
        if (boolean)
            return std::string(x->isZero() ? "false" : "true");
        return x->toString();
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
        if (type == ByteaOid) {
            // Bytes as the server's hex form, so that no byte is read as an escape.
            static constexpr char digits[] = "0123456789abcdef";
            std::string hex = "\\x";
            hex.reserve(2 + 2 * s->size());
            for (unsigned char c : *s) {
                hex += digits[c >> 4];
                hex += digits[c & 0xF];
            }
            return hex;
        }
        if (s->find('\0') != std::string::npos)
            throw DatabaseError("The server cannot store text that holds a NUL character.", ErrorKind::Constraint);
        return *s;
    }
    return std::nullopt;
}

} // namespace velmora::data::pg
