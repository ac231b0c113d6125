#include "data/provider/ConnectionString.h"

#include "data/Errors.h"
#include "data/Text.h"

namespace velmora::data {

namespace {

[[noreturn]] void malformed(std::size_t position)
{
    throw DatabaseError("Format of the initialization string does not conform to the OLE DB rules "
                        "(at character " +
                            std::to_string(position + 1) + ").",
                        ErrorKind::Malformed);
}

} // namespace

ConnectionString ConnectionString::parse(std::string_view text)
{
    ConnectionString result;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        // Key: up to the first single '='; "==" stands for an '=' inside the key.
        std::string key;
        const std::size_t keyStart = i;
        bool sawEquals = false;
        while (i < n) {
            const char c = text[i];
            if (c == '=') {
                if (i + 1 < n && text[i + 1] == '=') {
                    key += '=';
                    i += 2;
                    continue;
                }
                sawEquals = true;
                ++i;
                break;
            }
            if (c == ';')
                break;
            key += c;
            ++i;
        }
        const std::string_view keyView = data::text::trimWhitespace(key);
        if (!sawEquals) {
            // An empty piece (";;" or a trailing ';') is allowed; anything else needs a value.
            if (!keyView.empty())
                malformed(keyStart);
            ++i; // past ';' (or past the end)
            continue;
        }
        if (keyView.empty())
            malformed(keyStart);

        // Value: a quote starts quoting only as the value's first non-blank character.
        while (i < n && data::text::isWhitespace(text[i]) && text[i] != ';')
            ++i;
        std::string value;
        if (i < n && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i];
            const std::size_t quoteStart = i;
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                value += text[i];
                ++i;
            }
            if (!closed)
                malformed(quoteStart);
            while (i < n && data::text::isWhitespace(text[i]))
                ++i;
            if (i < n && text[i] != ';')
                malformed(i);
        } else {
            const std::size_t valueStart = i;
            while (i < n && text[i] != ';')
                ++i;
            value = data::text::trimWhitespace(text.substr(valueStart, i - valueStart));
        }
        ++i; // past ';'
        result.m_properties.emplace_back(std::string(keyView), std::move(value));
    }
    return result;
}

std::optional<std::string> ConnectionString::value(std::string_view key) const
{
    const std::string_view wanted = text::trimWhitespace(key);
    for (auto it = m_properties.rbegin(); it != m_properties.rend(); ++it) {
        if (text::equalsIgnoreCase(it->first, wanted))
            return it->second;
    }
    return std::nullopt;
}

std::string ConnectionString::valueOr(std::string_view key, std::string_view fallback) const
{
    if (auto v = value(key))
        return *v;
    return std::string(fallback);
}

std::string quoteValue(std::string_view value)
{
    // A leading '=' would pair with the one before the value and join the key.
    const bool needsQuotes = value.find_first_of(";\"'") != std::string_view::npos ||
                             (!value.empty() && (text::isWhitespace(value.front()) ||
                                                 text::isWhitespace(value.back()) || value.front() == '='));
    if (!needsQuotes)
        return std::string(value);
    return text::quoted(value, '"');
}

std::string toolConnectionString(std::string_view source, std::string_view user,
                                 const std::optional<std::string>& password)
{
    std::string connection =
        "Provider=Microsoft.Jet.OLEDB.4.0;User ID=" + quoteValue(user) + ";Data Source=" + quoteValue(source);
    if (password)
        connection += ";Jet OLEDB:Database Password=" + quoteValue(*password);
    return connection;
}

} // namespace velmora::data
