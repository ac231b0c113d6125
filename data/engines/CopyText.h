#pragma once

#include <string>
#include <string_view>

namespace velmora::data {

// COPY's text format, as the server reads rows from STDIN: fields apart by tabs, rows ended by a line break,
// NULL as \N, and inside a field a backslash before the characters that would otherwise end it or start an
// escape. Text must hold no NUL (the server's text cannot); bytes for a bytea column go as its \x hex text.

// Appends the field's text with tab, line break, carriage return and backslash escaped.
void appendCopyField(std::string& out, std::string_view text);

// A field that holds no value.
inline constexpr std::string_view CopyNull = "\\N";

} // namespace velmora::data
