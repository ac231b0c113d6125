#include "data/engines/PgCommandAdapter.h"

#include "data/Text.h"
#include "data/engines/CommandText.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <unordered_set>

namespace velmora::data {

const std::string* CatalogueSnapshot::findTable(std::string_view name) const
{
    const std::string* found = nullptr;
    for (const std::string& table : tables) {
        if (table == name)
            return &table;
        if (!found && text::equalsIgnoreCase(table, name))
            found = &table;
    }
    return found;
}

namespace {

// Words that are never names here, even where a table or column is spelled alike.
bool isKeyword(std::string_view word)
{
    static const std::unordered_set<std::string> words = {
        "select", "from",   "where",  "and",    "or",       "not",     "as",    "on",     "join",      "inner",
        "left",   "right",  "full",   "outer",  "cross",    "natural", "group", "by",     "order",     "having",
        "limit",  "offset", "union",  "all",    "distinct", "case",    "when",  "then",   "else",      "end",
        "is",     "null",   "in",     "like",   "between",  "exists",  "asc",   "desc",   "true",      "false",
        "insert", "into",   "values", "update", "set",      "delete",  "using", "except", "intersect", "with",
    };
    return words.contains(text::lowerAscii(word));
}

// How the server reads an unquoted name: ASCII letters folded to lower case.
std::string folded(std::string_view word)
{
    return text::lowerAscii(word);
}

// A command text's pieces, and where among them the tokens (the pieces that are not blanks or comments) stand.
struct CommandTokens
{
    std::vector<SqlPiece> pieces;
    std::vector<std::size_t> at;

    explicit CommandTokens(std::string_view commandText) : pieces(sqlPieces(commandText))
    {
        for (std::size_t i = 0; i < pieces.size(); ++i)
            if (pieces[i].kind != SqlPiece::Space)
                at.push_back(i);
    }
    std::size_t size() const { return at.size(); }
    const SqlPiece& operator[](std::size_t t) const { return pieces[at[t]]; }
    bool isPunct(std::size_t t, char c) const { return t < at.size() && (*this)[t].isPunct(c); }
    bool isWord(std::size_t t, std::string_view word) const
    {
        return t < at.size() && (*this)[t].kind == SqlPiece::Word && text::equalsIgnoreCase((*this)[t].text, word);
    }
};

// What a command text names, read before any of its names is adapted.
struct StatementNames
{
    std::vector<std::string> tables; // of its FROM clauses, as the database spells them
    std::unordered_map<std::string, std::vector<std::string>> aliases; // lower-case alias -> tables
    std::unordered_set<std::string> given;                             // lower-case names it gives with AS, and aliases
    std::vector<std::string> everyTable;                               // of the database
};

// The one spelling among the tables' columns that matches the word, or nothing when none or several do.
std::optional<std::string> columnSpelling(const CatalogueSnapshot& catalogue, const std::vector<std::string>& tables,
                                          std::string_view word)
{
    std::vector<std::string> spellings;
    for (const std::string& table : tables) {
        const auto it = catalogue.columnsByTable.find(text::lowerAscii(table));
        if (it == catalogue.columnsByTable.end())
            continue;
        for (const std::string& column : it->second)
            if (text::equalsIgnoreCase(column, word) &&
                std::find(spellings.begin(), spellings.end(), column) == spellings.end())
                spellings.push_back(column);
    }
    if (spellings.size() == 1)
        return spellings.front();
    for (const std::string& s : spellings)
        if (s == word || s == folded(word))
            return s;
    return std::nullopt;
}

StatementNames statementNames(const CatalogueSnapshot& catalogue, std::string_view commandText,
                              const CommandTokens& tokens)
{
    // The tables of the statement's FROM clause and of each sub-query's, by the names the text calls them.
    auto aliases = fromClauseAliases(commandText);
    for (std::size_t t = 0; t < tokens.size(); ++t) {
        if (tokens.isPunct(t, '(')) {
            auto inner = fromClauseAliases(commandText.substr(tokens[t].end));
            aliases.insert(aliases.end(), inner.begin(), inner.end());
        }
    }
    StatementNames names;
    for (const auto& [table, alias] : aliases) {
        if (const std::string* name = catalogue.findTable(table)) {
            names.tables.push_back(*name);
            names.aliases[text::lowerAscii(alias)].push_back(*name);
        }
    }
    names.everyTable = catalogue.tables;
    for (std::size_t t = 0; t + 1 < tokens.size(); ++t)
        if (tokens.isWord(t, "as"))
            names.given.insert(text::lowerAscii(tokens[t + 1].text));
    for (const auto& [table, alias] : aliases)
        names.given.insert(text::lowerAscii(alias));
    return names;
}

// The database's spelling of the name at token t, or nothing when it names no table or column of the database
// (or several columns alike).
std::optional<std::string> catalogueSpelling(const CatalogueSnapshot& catalogue, const CommandTokens& tokens,
                                             std::size_t t, const StatementNames& names)
{
    const SqlPiece& p = tokens[t];
    if (tokens.isPunct(t + 1, '.')) {
        // A qualifier: an alias stays as written; a table takes its catalogue spelling.
        if (auto it = names.aliases.find(text::lowerAscii(p.text)); it != names.aliases.end()) {
            if (it->second.size() == 1 && text::equalsIgnoreCase(it->second.front(), p.text))
                return it->second.front();
        } else if (const std::string* table = catalogue.findTable(p.text)) {
            return *table;
        }
        return std::nullopt;
    }
    if (t >= 2 && tokens.isPunct(t - 1, '.')) {
        const std::string& qualifier = tokens[t - 2].text;
        std::vector<std::string> tables;
        if (auto it = names.aliases.find(text::lowerAscii(qualifier)); it != names.aliases.end())
            tables = it->second;
        else if (const std::string* table = catalogue.findTable(qualifier))
            tables.push_back(*table);
        if (!tables.empty())
            return columnSpelling(catalogue, tables, p.text);
        if (const std::string* table = catalogue.findTable(p.text)) // schema.table
            return *table;
        return std::nullopt;
    }
    if (t > 0 && tokens.isWord(t - 1, "as"))
        return std::nullopt;
    if (const std::string* table = catalogue.findTable(p.text))
        return *table;
    if (!names.given.contains(text::lowerAscii(p.text)) || p.kind != SqlPiece::Word) {
        // Columns of the statement's tables first, then of any table.
        if (auto column = columnSpelling(catalogue, names.tables, p.text))
            return column;
        return columnSpelling(catalogue, names.everyTable, p.text);
    }
    return std::nullopt;
}

// What replaces the token t, if anything: a name in the database's spelling, in double quotes; for a
// double-quoted text that names nothing, a string.
std::optional<std::string> adaptedToken(const CatalogueSnapshot& catalogue, const CommandTokens& tokens, std::size_t t,
                                        const StatementNames& names)
{
    const SqlPiece& p = tokens[t];
    if (!p.isName())
        return std::nullopt;
    // A word before '(' is a function, except the table an INSERT names before its column list.
    const bool insertedTable = t > 0 && tokens.isWord(t - 1, "into");
    if (p.kind == SqlPiece::Word && (isKeyword(p.text) || (tokens.isPunct(t + 1, '(') && !insertedTable)))
        return std::nullopt;
    const std::optional<std::string> name = catalogueSpelling(catalogue, tokens, t, names);
    switch (p.kind) {
    case SqlPiece::Quoted: {
        // The embedded engine matches a quoted name in any letter case, and reads a double-quoted text that
        // names nothing as a string.
        if (name)
            return *name != p.text ? std::optional(quoteIdentifier(*name)) : std::nullopt;
        bool namesSomething = names.given.contains(text::lowerAscii(p.text)) || catalogue.findTable(p.text);
        for (const auto& [table, columns] : catalogue.columnsByTable)
            for (const std::string& column : columns)
                namesSomething = namesSomething || text::equalsIgnoreCase(column, p.text);
        const bool afterAs = t > 0 && tokens.isWord(t - 1, "as");
        if (namesSomething || afterAs || tokens.isPunct(t + 1, '.') || (t > 0 && tokens.isPunct(t - 1, '.')))
            return std::nullopt;
        return text::quoted(p.text, '\'');
    }
    case SqlPiece::Bracketed:
        return quoteIdentifier(name ? *name : p.text);
    default:
        if (name && *name != folded(p.text))
            return quoteIdentifier(*name);
        return std::nullopt;
    }
}

} // namespace

std::string adaptCommand(std::string_view commandText, const CatalogueSnapshot& catalogue)
{
    const CommandTokens tokens(commandText);
    const StatementNames names = statementNames(catalogue, commandText, tokens);
    std::string out;
    out.reserve(commandText.size() + 16);
    std::size_t next = 0; // the next token
    for (std::size_t i = 0; i < tokens.pieces.size(); ++i) {
        std::optional<std::string> replacement;
        if (next < tokens.size() && tokens.at[next] == i)
            replacement = adaptedToken(catalogue, tokens, next++, names);
        const SqlPiece& piece = tokens.pieces[i];
        if (replacement)
            out += *replacement;
        else
            out += commandText.substr(piece.begin, piece.end - piece.begin);
    }
    return out;
}

} // namespace velmora::data
