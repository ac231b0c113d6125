#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::data {

// An OLE DB connection string read into its properties: `key=value` pairs
// split by ';', keys compared without regard to letter case, values optionally
// quoted with '"' or '\'' (a doubled quote inside stands for one).
class ConnectionString
{
public:
    // Throws DatabaseError when the text does not follow the rules (a piece
    // without '=', an unterminated quote, text after a closing quote).
    static ConnectionString parse(std::string_view text);

    // The value of a property, the last one when a key is repeated.
    std::optional<std::string> value(std::string_view key) const;
    // Like value(), empty when the property is missing.
    std::string valueOr(std::string_view key, std::string_view fallback = {}) const;
    bool contains(std::string_view key) const { return value(key).has_value(); }

    // Every property in the order of the text, keys trimmed as written.
    const std::vector<std::pair<std::string, std::string>>& properties() const { return m_properties; }

private:
    std::vector<std::pair<std::string, std::string>> m_properties;
};

// The value as it must be written so that parse() reads it back unchanged:
// unchanged when plain, else in double quotes with inner double quotes doubled.
std::string quoteValue(std::string_view value);

// The connection string a tool gives the provider for one database: the Jet provider, the user, the source (a
// file's full path or a server's URI) and the database password when there is one, each quoted as needed.
std::string toolConnectionString(std::string_view source, std::string_view user,
                                 const std::optional<std::string>& password);

} // namespace velmora::data
