#pragma once

#include <cstddef>
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

} // namespace velmora::data::text
