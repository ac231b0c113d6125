#pragma once

#include "data/Value.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Text helpers for UTF-8 bytes. Names, keys and SQL words are ASCII, so letter case is ASCII letter case.
namespace velmora::data::text {

char lowerAscii(char c);
char upperAscii(char c);
std::string lowerAscii(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
bool startsWithIgnoreCase(std::string_view text, std::string_view prefix);

// ' ', '\t', '\r', '\n', '\v' and '\f': the blanks around connection-string pieces and type words.
bool isWhitespace(char c);
std::string_view trimWhitespace(std::string_view text);
// Every byte from 0 to 32 removed at both ends: the space and the ASCII control characters, as stored values
// and operator passwords are compared.
std::string trimSpacesAndAsciiControls(std::string_view text);

// The text between two `quote` characters, each one inside doubled: an SQL name ('"'), an SQL string ('\''),
// a connection-string value ('"').
std::string quoted(std::string_view text, char quote);

std::size_t utf8Length(std::string_view text); // characters, not bytes
std::string utf8Left(std::string_view text, std::size_t characters);

// Conversions shared by fields, row searches and the engines.
// Display text of a cell: integers in decimal, doubles in their shortest general form (at most 15 digits).
std::string display(const Value& value);
std::string formatDouble(double number);
// A whole or decimal number written as text, blanks around it allowed.
bool parseNumber(std::string_view text, double& out);
bool parseInteger(std::string_view text, std::int64_t& out);

} // namespace velmora::data::text

namespace velmora::data {

// An identifier in double quotes, inner quotes doubled.
inline std::string quoteIdentifier(std::string_view name)
{
    return text::quoted(name, '"');
}

} // namespace velmora::data
