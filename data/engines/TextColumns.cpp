#include "data/engines/TextColumns.h"

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/SchemaDialect.h"
#include "data/engines/SqliteBackend.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>

namespace velmora::data {

namespace {

// The rows of a query with one text parameter, each cell as text ("" for null).
std::vector<std::vector<std::string>> rowsOf(sqlite3* db, const char* sql, const std::string& parameter = {})
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
        throw DatabaseError(sqlite3_errmsg(db), sqliteCause(sqlite3_extended_errcode(db)));
    const SqliteStatement statement(raw);
    if (sqlite3_bind_parameter_count(raw) > 0)
        sqlite3_bind_text(raw, 1, parameter.data(), static_cast<int>(parameter.size()), SQLITE_STATIC);
    std::vector<std::vector<std::string>> rows;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        auto& row = rows.emplace_back();
        for (int c = 0; c < sqlite3_column_count(raw); ++c) {
            const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
            row.emplace_back(value ? value : "");
        }
    }
    if (rc != SQLITE_DONE)
        throw DatabaseError(sqlite3_errmsg(db), sqliteCause(sqlite3_extended_errcode(db)));
    return rows;
}

std::string upper(std::string_view word)
{
    std::string out;
    for (char c : word)
        out += text::upperAscii(c);
    return out;
}

std::string quoteLiteral(std::string_view value)
{
    std::string out = "'";
    for (char c : value)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// The dialect's word for a text kind, which SQLite gives text affinity.
std::string textWord(const TypeInfo& type)
{
    ColumnDescription column;
    column.type = type.type;
    column.definedSize = type.definedSize;
    ColumnDefinition definition{"", kindForColumn(column), sizeForColumn(column)};
    return sqlType(definition);
}

// Words that end a column's type in a column definition, and words that begin a table's own constraint.
bool endsType(std::string_view word)
{
    static const char* const words[] = {"CONSTRAINT", "PRIMARY", "NOT",        "NULL",      "UNIQUE", "CHECK",
                                        "DEFAULT",    "COLLATE", "REFERENCES", "GENERATED", "AS"};
    const std::string w = upper(word);
    return std::any_of(std::begin(words), std::end(words), [&](const char* x) { return w == x; });
}

bool beginsTableConstraint(std::string_view word)
{
    const std::string w = upper(word);
    return w == "CONSTRAINT" || w == "PRIMARY" || w == "UNIQUE" || w == "CHECK" || w == "FOREIGN";
}

struct Replacement
{
    std::size_t begin, end;
    std::string text;
};

// The table's CREATE TABLE with another name and the given columns (by lower-case name) retyped; everything
// else as written.
std::string retypedSql(const std::string& table, const std::string& createSql, const std::string& newName,
                       const std::map<std::string, std::string>& newTypes)
{
    const std::vector<SqlPiece> tokens = sqlTokens(createSql);
    const auto unreadable = [&] {
        return DatabaseError("The SQL that made table '" + table +
                                 "' cannot be read to retype its columns; rebuild the table by hand.",
                             ErrorKind::Unsupported);
    };
    std::size_t open = 0;
    while (open < tokens.size() && !tokens[open].isPunct('('))
        ++open;
    if (open < 3 || open == tokens.size() || !tokens[open - 1].isName())
        throw unreadable();
    std::vector<Replacement> replacements;
    const std::size_t nameBegin =
        tokens[open - 2].isPunct('.') && open >= 4 ? tokens[open - 3].begin : tokens[open - 1].begin;
    replacements.push_back({nameBegin, tokens[open - 1].end, quoteIdentifier(newName)});

    std::size_t retyped = 0;
    std::size_t t = open + 1;
    while (t < tokens.size() && !tokens[t].isPunct(')')) {
        const SqlPiece& first = tokens[t];
        const bool constraint = first.kind == SqlPiece::Word && beginsTableConstraint(first.text);
        if (!constraint && (first.isName() || first.kind == SqlPiece::Literal)) {
            std::size_t u = t + 1;
            std::size_t typeBegin = std::string::npos;
            std::size_t typeEnd = 0;
            while (u < tokens.size() && tokens[u].kind == SqlPiece::Word && !endsType(tokens[u].text)) {
                if (typeBegin == std::string::npos)
                    typeBegin = tokens[u].begin;
                typeEnd = tokens[u].end;
                ++u;
            }
            if (typeBegin != std::string::npos && u < tokens.size() && tokens[u].isPunct('(')) {
                for (int depth = 0; u < tokens.size(); ++u) {
                    if (tokens[u].isPunct('('))
                        ++depth;
                    else if (tokens[u].isPunct(')') && --depth == 0) {
                        typeEnd = tokens[u++].end;
                        break;
                    }
                }
            }
            const auto wanted = newTypes.find(text::lowerAscii(first.text));
            if (wanted != newTypes.end() && typeBegin != std::string::npos) {
                replacements.push_back({typeBegin, typeEnd, wanted->second});
                ++retyped;
            }
            t = u;
        }
        // On to the next definition: past the comma at this level, or up to the closing parenthesis.
        for (int depth = 0; t < tokens.size(); ++t) {
            if (tokens[t].isPunct('(')) {
                ++depth;
            } else if (tokens[t].isPunct(')')) {
                if (depth == 0)
                    break;
                --depth;
            } else if (tokens[t].isPunct(',') && depth == 0) {
                ++t;
                break;
            }
        }
    }
    if (retyped != newTypes.size())
        throw unreadable();
    std::string sql = createSql;
    std::sort(replacements.begin(), replacements.end(),
              [](const Replacement& a, const Replacement& b) { return a.begin > b.begin; });
    for (const Replacement& r : replacements)
        sql.replace(r.begin, r.end - r.begin, r.text);
    return sql;
}

bool hasAutoIncrement(const std::string& createSql)
{
    for (const SqlPiece& token : sqlTokens(createSql))
        if (token.kind == SqlPiece::Word && text::equalsIgnoreCase(token.text, "AUTOINCREMENT"))
            return true;
    return false;
}

} // namespace

std::vector<TableRebuild> textColumnRebuilds(sqlite3* db)
{
    const auto tables = rowsOf(db, "SELECT name, sql FROM sqlite_master WHERE type = 'table' AND sql IS NOT NULL "
                                   "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid");
    std::vector<std::string> names;
    for (const auto& row : tables)
        names.push_back(text::lowerAscii(row[0]));
    for (const auto& row : rowsOf(db, "SELECT name FROM sqlite_master"))
        names.push_back(text::lowerAscii(row[0]));

    std::vector<TableRebuild> rebuilds;
    for (const auto& row : tables) {
        const std::string& table = row[0];
        const std::string& createSql = row[1];
        const std::vector<SqlPiece> head = sqlTokens(createSql);
        if (head.size() < 2 || !text::equalsIgnoreCase(head[1].text, "TABLE"))
            continue; // a virtual table keeps what its module keeps
        TableRebuild rebuild{table, {}, {}};
        std::map<std::string, std::string> newTypes;
        for (const auto& column : rowsOf(db, "SELECT name, type FROM pragma_table_info(?1)", table)) {
            const std::optional<TypeInfo> type = parseDeclaredType(column[1]);
            if (!type || !isTextType(*type) || sqliteAffinity(column[1]) == Affinity::Text)
                continue;
            rebuild.columns.push_back({column[0], column[1], textWord(*type)});
            newTypes[text::lowerAscii(column[0])] = rebuild.columns.back().replacement;
        }
        if (rebuild.columns.empty())
            continue;

        std::string newName = table + "_retyped";
        for (int n = 2; std::find(names.begin(), names.end(), text::lowerAscii(newName)) != names.end(); ++n)
            newName = table + "_retyped" + std::to_string(n);
        names.push_back(text::lowerAscii(newName));
        const std::string oldQuoted = quoteIdentifier(table);
        const std::string newQuoted = quoteIdentifier(newName);
        std::string& sql = rebuild.sql;
        sql = retypedSql(table, createSql, newName, newTypes) + ";\n";
        sql += "INSERT INTO " + newQuoted + " SELECT * FROM " + oldQuoted + ";\n";
        if (hasAutoIncrement(createSql)) {
            // The counter goes on from where it stood, not from the largest key left.
            sql += "DELETE FROM sqlite_sequence WHERE name = " + quoteLiteral(newName) + ";\n";
            sql += "INSERT INTO sqlite_sequence(name, seq) SELECT " + quoteLiteral(newName) +
                   ", seq FROM sqlite_sequence WHERE name = " + quoteLiteral(table) + ";\n";
        }
        sql += "DROP TABLE " + oldQuoted + ";\n";
        sql += "ALTER TABLE " + newQuoted + " RENAME TO " + oldQuoted + ";\n";
        for (const auto& kept : rowsOf(db,
                                       "SELECT sql FROM sqlite_master WHERE tbl_name = ?1 AND type IN ('index', "
                                       "'trigger') AND sql IS NOT NULL ORDER BY rowid",
                                       table))
            sql += kept[0] + ";\n";
        rebuilds.push_back(std::move(rebuild));
    }
    return rebuilds;
}

std::string rebuildScript(const std::vector<TableRebuild>& rebuilds)
{
    // Foreign keys off, so that dropping the old table deletes nothing elsewhere; the legacy rename, so that
    // views naming the table are left alone while it is briefly missing.
    std::string script = "PRAGMA foreign_keys=OFF;\nPRAGMA legacy_alter_table=ON;\nBEGIN;\n";
    for (const TableRebuild& rebuild : rebuilds)
        script += rebuild.sql;
    return script + "COMMIT;\n";
}

} // namespace velmora::data
