#include "data/engines/CommandText.h"

#include "data/Text.h"

#include <cctype>
#include <unordered_map>

namespace velmora::data {

bool isSqlWordStart(unsigned char c)
{
    return std::isalpha(c) || c == '_' || c >= 0x80;
}

bool isSqlWordChar(unsigned char c)
{
    return isSqlWordStart(c) || std::isdigit(c) || c == '$';
}

std::vector<SqlPiece> sqlPieces(std::string_view sql)
{
    std::vector<SqlPiece> out;
    std::size_t i = 0;
    // Up to the closing character; a doubled one stands for itself, except in brackets.
    auto quoted = [&](char close) {
        std::string text;
        ++i;
        while (i < sql.size()) {
            const char c = sql[i++];
            if (c == close) {
                if (close != ']' && i < sql.size() && sql[i] == close) {
                    text += c;
                    ++i;
                    continue;
                }
                break;
            }
            text += c;
        }
        return text;
    };
    while (i < sql.size()) {
        const std::size_t start = i;
        const unsigned char c = static_cast<unsigned char>(sql[i]);
        SqlPiece p{SqlPiece::Punct, start, start, {}};
        if (std::isspace(c)) {
            while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i])))
                ++i;
            p.kind = SqlPiece::Space;
        } else if (sql.substr(i, 2) == "--") {
            while (i < sql.size() && sql[i] != '\n')
                ++i;
            p.kind = SqlPiece::Space;
        } else if (sql.substr(i, 2) == "/*") {
            const auto end = sql.find("*/", i + 2);
            i = end == std::string_view::npos ? sql.size() : end + 2;
            p.kind = SqlPiece::Space;
        } else if (c == '"') {
            p.kind = SqlPiece::Quoted;
            p.text = quoted('"');
        } else if (c == '[' || c == '`') {
            p.kind = SqlPiece::Bracketed;
            p.text = quoted(c == '[' ? ']' : '`');
        } else if (c == '\'') {
            p.kind = SqlPiece::Literal;
            p.text = quoted('\'');
        } else if (isSqlWordStart(c)) {
            while (i < sql.size() && isSqlWordChar(static_cast<unsigned char>(sql[i])))
                ++i;
            p.kind = SqlPiece::Word;
            p.text = std::string(sql.substr(start, i - start));
        } else if (std::isdigit(c)) {
            while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '.'))
                ++i;
            p.kind = SqlPiece::Number;
            p.text = std::string(sql.substr(start, i - start));
        } else {
            ++i;
            p.text = std::string(1, static_cast<char>(c));
        }
        p.end = i;
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<SqlPiece> sqlTokens(std::string_view sql)
{
    std::vector<SqlPiece> tokens = sqlPieces(sql);
    std::erase_if(tokens, [](const SqlPiece& p) { return p.kind == SqlPiece::Space; });
    return tokens;
}

namespace {

// ---- FROM clause reading -------------------------------------------------

bool isWord(const SqlPiece& t, std::string_view word)
{
    return t.kind == SqlPiece::Word && text::equalsIgnoreCase(t.text, word);
}

bool endsFromClause(const SqlPiece& t)
{
    static constexpr std::string_view words[] = {"WHERE", "GROUP",  "ORDER",     "HAVING", "LIMIT",
                                                 "UNION", "EXCEPT", "INTERSECT", "WINDOW", "RETURNING"};
    for (auto w : words) {
        if (isWord(t, w))
            return true;
    }
    return false;
}

bool isJoinWord(const SqlPiece& t)
{
    static constexpr std::string_view words[] = {"JOIN",    "INNER", "LEFT", "RIGHT", "FULL",    "CROSS",
                                                 "NATURAL", "OUTER", "ON",   "USING", "INDEXED", "NOT"};
    for (auto w : words) {
        if (isWord(t, w))
            return true;
    }
    return false;
}

// Index past the bracket matching the '(' at i.
std::size_t skipParentheses(const std::vector<SqlPiece>& t, std::size_t i)
{
    int depth = 0;
    for (; i < t.size(); ++i) {
        if (t[i].isPunct('('))
            ++depth;
        else if (t[i].isPunct(')') && --depth == 0)
            return i + 1;
    }
    return i;
}

// Reads the table list after a FROM at i; returns the index where it ends.
std::size_t readTableList(const std::vector<SqlPiece>& t, std::size_t i,
                          std::vector<std::pair<std::string, std::string>>& out)
{
    for (;;) {
        // One table reference.
        if (i >= t.size() || endsFromClause(t[i]) || t[i].isPunct(')') || t[i].isPunct(';'))
            return i;
        bool isTable = false;
        std::string name;
        if (t[i].isPunct('(')) {
            i = skipParentheses(t, i); // a sub-query: its tables are its own
        } else if (t[i].isName()) {
            name = t[i++].text;
            if (i + 1 < t.size() && t[i].isPunct('.') && t[i + 1].isName()) {
                name = t[i + 1].text; // schema.table
                i += 2;
            }
            isTable = true;
            if (i < t.size() && t[i].isPunct('(')) { // a table-valued function
                i = skipParentheses(t, i);
                isTable = false;
            }
        }
        std::string alias;
        if (i < t.size() && isWord(t[i], "AS"))
            ++i;
        if (i < t.size() && (t[i].kind == SqlPiece::Quoted || t[i].kind == SqlPiece::Bracketed ||
                             (t[i].kind == SqlPiece::Word && !endsFromClause(t[i]) && !isJoinWord(t[i]))))
            alias = t[i++].text;
        if (isTable)
            out.emplace_back(name, alias.empty() ? name : alias);
        // Up to the next reference: past a comma or a JOIN, over ON/USING conditions.
        int depth = 0;
        for (;;) {
            if (i >= t.size())
                return i;
            if (depth == 0 && (endsFromClause(t[i]) || t[i].isPunct(')') || t[i].isPunct(';')))
                return i;
            if (t[i].isPunct('('))
                ++depth;
            else if (t[i].isPunct(')'))
                --depth;
            else if (depth == 0 && (t[i].isPunct(',') || isWord(t[i], "JOIN"))) {
                ++i;
                break;
            }
            ++i;
        }
    }
}

} // namespace

std::vector<std::pair<std::string, std::string>> fromClauseAliases(std::string_view sql)
{
    std::vector<std::pair<std::string, std::string>> out;
    const std::vector<SqlPiece> tokens = sqlTokens(sql);
    int depth = 0;
    for (std::size_t i = 0; i < tokens.size();) {
        if (tokens[i].isPunct('('))
            ++depth;
        else if (tokens[i].isPunct(')'))
            --depth;
        else if (depth == 0 && isWord(tokens[i], "FROM")) {
            i = readTableList(tokens, i + 1, out);
            continue;
        }
        ++i;
    }
    return out;
}

void nameSharedColumns(std::vector<ColumnDescription>& columns, std::string_view commandText)
{
    std::unordered_map<std::string, int> counts;
    counts.reserve(columns.size());
    for (const ColumnDescription& c : columns)
        ++counts[text::lowerAscii(c.name)];
    std::vector<std::pair<std::string, std::string>> aliases;
    bool aliasesRead = false;
    for (ColumnDescription& c : columns) {
        if (counts[text::lowerAscii(c.name)] < 2 || c.baseColumn.empty() ||
            !text::equalsIgnoreCase(c.name, c.baseColumn))
            continue;
        if (!aliasesRead) {
            aliases = fromClauseAliases(commandText);
            aliasesRead = true;
        }
        std::string qualifier = c.baseTable;
        for (const auto& [table, alias] : aliases) {
            if (text::equalsIgnoreCase(table, c.baseTable)) {
                qualifier = alias;
                break;
            }
        }
        c.name = qualifier + "." + c.name;
    }
}

std::string numberedParameters(std::string_view sql, std::size_t& count)
{
    count = 0;
    std::string out;
    out.reserve(sql.size() + 8);
    for (const SqlPiece& piece : sqlPieces(sql)) {
        if (piece.isPunct('?'))
            out += "$" + std::to_string(++count);
        else
            out += sql.substr(piece.begin, piece.end - piece.begin);
    }
    return out;
}

} // namespace velmora::data
