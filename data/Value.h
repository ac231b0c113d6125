#pragma once

#include "data/Decimal.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace velmora::data {

// One cell. Text is UTF-8; date-times travel as text "YYYY-MM-DD HH:MM:SS"
// (local time), which is also how they are stored. BCD values are exact decimals.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, bool, Decimal>;

inline bool isNull(const Value& v)
{
    return std::holds_alternative<std::monostate>(v);
}

// A read-only look at one cell; text points into storage someone else owns (a row store, or an engine's
// buffer while a row is handed over), so it lives only as long as that.
struct CellView
{
    enum class Type : std::uint8_t { Null, Integer, Double, Text, False, True, Decimal };
    Type type = Type::Null;
    std::int64_t integer = 0;
    double number = 0;
    std::string_view text;
    data::Decimal decimal;

    Value toValue() const
    {
        switch (type) {
        case Type::Null:
            return {};
        case Type::Integer:
            return integer;
        case Type::Double:
            return number;
        case Type::Text:
            return std::string(text);
        case Type::False:
            return false;
        case Type::True:
            return true;
        case Type::Decimal:
            return decimal;
        }
        return {};
    }

    static CellView of(const Value& value)
    {
        CellView cell;
        if (const auto* i = std::get_if<std::int64_t>(&value)) {
            cell.type = Type::Integer;
            cell.integer = *i;
        } else if (const auto* d = std::get_if<double>(&value)) {
            cell.type = Type::Double;
            cell.number = *d;
        } else if (const auto* s = std::get_if<std::string>(&value)) {
            cell.type = Type::Text;
            cell.text = *s;
        } else if (const auto* b = std::get_if<bool>(&value)) {
            cell.type = *b ? Type::True : Type::False;
        } else if (const auto* x = std::get_if<data::Decimal>(&value)) {
            cell.type = Type::Decimal;
            cell.decimal = *x;
        }
        return cell;
    }
};

} // namespace velmora::data
