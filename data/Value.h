#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace velmora::data {

// One cell. Text is UTF-8; date-times travel as text "YYYY-MM-DD HH:MM:SS"
// (local time), which is also how they are stored.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, bool>;

inline bool isNull(const Value& v)
{
    return std::holds_alternative<std::monostate>(v);
}

} // namespace velmora::data
