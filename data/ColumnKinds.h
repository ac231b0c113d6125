#pragma once

#include "data/Backend.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmora::data {

// The kinds a field or column can have, named as the datasets' declared field types and their error texts
// name them (String, WideString, BCD, ...). The schema, the datasets, both engines' DDL and the import all
// speak these; the result codes a backend reports (AdoType) are read into them by kindForColumn.
enum class FieldKind {
    String,          // 8-bit text (n)
    FixedString,     // fixed 8-bit text (n)
    WideString,      // wide text (n)
    FixedWideString, // fixed wide text (n)
    SmallInt,
    Integer,
    Word,
    AutoInc,
    LargeInt,
    Single, // 4-byte float: only a column the import copies is declared so; it reads as Float
    Float,
    BCD,
    DateTime,
    Date,
    Time,
    Boolean,
    Memo,
    Blob, // bytes: only a column the import copies is declared so; it reads as Memo
};

// Kinds that bind to each other when a declared field meets its column.
enum class KindFamily { AnsiText, WideText, Integer, LargeInt, Float, BCD, DateTime, Long, Boolean };

KindFamily familyOf(FieldKind kind);
// The kind's name as error texts show it ("String", "WideString", "BCD", ...).
std::string_view kindName(FieldKind kind);
bool isTextKind(FieldKind kind);
bool isAnsiTextKind(FieldKind kind);

// The kind a reported column is read as.
FieldKind kindForColumn(const ColumnDescription& column);
// The size a reported column gives its field: characters for text, the scale for BCD (a negative scale
// counts as 4), 0 otherwise.
int sizeForColumn(const ColumnDescription& column);
// The scale of a column read as BCD; nothing for any other kind (and for a type that cannot be read).
std::optional<int> decimalScaleOf(const ColumnDescription& column);

// The two dialects a column is declared in: the database file's (the schema dialect over SQLite, see
// SchemaDialect.h) and the server's.
enum class Dialect { File, Server };

// A column's type as CREATE TABLE declares it.
struct DeclaredType
{
    FieldKind kind = FieldKind::WideString;
    int size = 0;          // text: characters
    int precision = 0;     // BCD: digits; 0 gives DefaultBcdPrecision
    int scale = 0;         // BCD: digits after the point
    bool currency = false; // BCD(19,4) that the file declares as CURRENCY
};

// The precision the DDL gives a BCD column whose precision is left open.
inline constexpr int DefaultBcdPrecision = 19;

// One row of the table of kinds: its name, its family, the word each dialect declares it with, and what follows
// the word.
struct KindWords
{
    enum Shape { Plain, Length, Digits };
    FieldKind kind;
    std::string_view name;
    KindFamily family;
    std::string_view file;
    std::string_view server;
    Shape shape = Plain;
};
std::span<const KindWords> kindWords(); // every kind, once

// The type in the dialect's CREATE TABLE ("NVARCHAR(40)", "DECIMAL(19,4)"; "varchar(40)", "numeric(19,4)").
// An auto-increment key comes with its PRIMARY KEY: SQLite and the server number only such a column.
std::string declaredType(const DeclaredType& type, Dialect dialect);

} // namespace velmora::data
