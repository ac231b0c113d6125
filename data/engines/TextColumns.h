#pragma once

// Text columns of a database file that SQLite does not keep as text, and the SQL that rebuilds their tables.
// Files made before memo columns were declared LONGTEXT declare them MEMO, a word SQLite gives numeric
// affinity: "0012" written there is kept as the number 12.

#include <string>
#include <vector>

struct sqlite3;

namespace velmora::data {

struct MistypedTextColumn
{
    std::string column;
    std::string declared;    // as the table declares it
    std::string replacement; // a word the dialect reads as the same kind, with text affinity
};

struct TableRebuild
{
    std::string table;
    std::vector<MistypedTextColumn> columns;
    // Makes the table anew with the columns retyped and every row, index, trigger and auto-increment counter
    // it had; values already turned into numbers stay as they are now. Part of rebuildScript.
    std::string sql;
};

// Every table of the file with a text or memo column (as the dialect reads its declared type) whose affinity
// is not text, in the order the file made them. Throws DatabaseError when the file cannot be read, or a
// table's own SQL cannot be rewritten.
std::vector<TableRebuild> textColumnRebuilds(sqlite3* db);

// The rebuilds as one script for the sqlite3 tool, all in one transaction.
std::string rebuildScript(const std::vector<TableRebuild>& rebuilds);

} // namespace velmora::data
