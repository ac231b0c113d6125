#pragma once

#include "data/Backend.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmora::data {

// The schema dialect: how a column's declared SQL type is reported as one of
// the provider's data types. Case-insensitive, blanks allowed around words,
// parentheses and commas.
//
// | declared type                       | reported as            | size / precision, scale          |
// |-------------------------------------|------------------------|----------------------------------|
// | NVARCHAR(n), TEXT(n)                | adVarWChar             | n characters (NVARCHAR alone 255)|
// | VARCHAR(n)                          | adVarChar              | n characters (alone 255)         |
// | NCHAR(n)                            | adWChar, fixed length  | n characters (alone 255)         |
// | CHAR(n)                             | adChar, fixed length   | n characters (alone 255)         |
// | MEMO, NTEXT, TEXT, LONGTEXT,        | adLongVarWChar         | 536870910                        |
// |   LONGCHAR                          |                        |                                  |
// | SMALLINT                            | adSmallInt             | precision 5                      |
// | TINYINT, BYTE                       | adUnsignedTinyInt      | precision 3                      |
// | INTEGER, INT, LONG                  | adInteger              | precision 10                     |
// | BIGINT                              | adBigInt               | precision 19                     |
// | REAL, FLOAT, DOUBLE [PRECISION]     | adDouble               | precision 15                     |
// | DECIMAL(p,s), NUMERIC(p,s)          | adNumeric              | p, s (alone 18,0; with p only p,0)|
// | CURRENCY, MONEY                     | adCurrency             | precision 19, scale 4            |
// | DATETIME                            | adDate                 |                                  |
// | DATE                                | adDBDate               |                                  |
// | TIME                                | adDBTime               |                                  |
// | BIT, BOOLEAN, YESNO                 | adBoolean              |                                  |
// | BINARY(n)                           | adBinary, fixed length | n bytes (alone 255)              |
// | VARBINARY(n)                        | adVarBinary            | n bytes (alone 255)              |
// | BLOB, LONGBINARY, IMAGE             | adLongVarBinary        | 2147483647                       |
// | INTEGER PRIMARY KEY [AUTOINCREMENT] | adInteger, auto-increment, not updatable                  |
//
// COUNTER is refused: SQLite numbers only its rowid, and a column is the rowid
// only when declared exactly INTEGER PRIMARY KEY. A column declared without a
// type, and a computed column, is typed by the values read: integers
// adBigInt, any real adDouble, any text adVarWChar sized to the longest value,
// any blob adLongVarBinary, none at all adVarWChar(255).
struct TypeInfo
{
    AdoType type = AdoType::adEmpty;
    int definedSize = 0; // characters for text; bytes otherwise, as the provider reported
    int precision = 0;
    int scale = 0;
    bool fixedLength = false;
};

// The declared type read as the dialect says, or nothing for an unknown or
// malformed declaration. Pure; never throws.
std::optional<TypeInfo> parseDeclaredType(std::string_view declared);

// parseDeclaredType for a column of a table; throws DatabaseError naming the
// table and the column when the declaration is not part of the dialect.
TypeInfo columnType(std::string_view table, std::string_view column, std::string_view declared);

// A plain INTEGER declaration (the only one that makes a primary key the rowid).
bool isRowidAliasType(std::string_view declared);

// The affinity SQLite gives a column declared so: what it turns a stored value into. A text column needs Text,
// or text that looks like a number is kept as a number ("0012" as 12).
enum class Affinity { Integer, Text, Blob, Real, Numeric };
Affinity sqliteAffinity(std::string_view declared);

// A declared type the dialect reads as 8-bit, wide or memo text (not binary).
bool isTextType(const TypeInfo& type);

} // namespace velmora::data
