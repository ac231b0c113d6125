#pragma once

// Command texts as both engines read them: cut into pieces, their FROM clauses read, names quoted.

#include "data/Backend.h"
#include "data/Text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::data {

// One piece of a command text as both engines read it. The pieces of a text cover it whole, blanks and
// comments included, so that it can be put back together with some of them replaced.
struct SqlPiece
{
    enum Kind {
        Word,      // a bare name or keyword
        Quoted,    // "name"
        Bracketed, // [name] or `name`
        Literal,   // 'text'
        Number,
        Punct, // one character
        Space, // blanks and comments
    };
    Kind kind = Space;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string text; // a name without its quotes, a literal without its quotes, the word, the number or the character

    // A name however it is written: bare, quoted or bracketed.
    bool isName() const { return kind == Word || kind == Quoted || kind == Bracketed; }
    bool isPunct(char c) const { return kind == Punct && text.size() == 1 && text[0] == c; }
};

std::vector<SqlPiece> sqlPieces(std::string_view sql);
// The pieces without blanks and comments.
std::vector<SqlPiece> sqlTokens(std::string_view sql);

bool isSqlWordStart(unsigned char c);
bool isSqlWordChar(unsigned char c);

// A table of a FROM clause and the name the statement calls it by (its alias,
// or its own name when it has none), in the order of the text. Tables of
// sub-queries are not included. Pure; never throws.
std::vector<std::pair<std::string, std::string>> fromClauseAliases(std::string_view sql);

// Columns of one result that share a name: a copy read straight from a table
// is called by its table's name in the statement ("a.生产批号"); a copy the
// text names with AS keeps that name. Every backend names results this way.
void nameSharedColumns(std::vector<ColumnDescription>& columns, std::string_view commandText);

// A statement's `?` parameters written as the server numbers them ($1, $2, ...), in order; a `?` inside a
// literal, a quoted name or a comment stays as it is. `count` receives how many there are. Pure.
std::string numberedParameters(std::string_view sql, std::size_t& count);

} // namespace velmora::data
