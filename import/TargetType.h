#pragma once

#include "access/AccessFile.h"
#include "data/Backend.h"
#include "data/ColumnKinds.h"
#include "data/Schema.h"

#include <string>

namespace velmora::transfer {

// The two kinds of target: a database file (the schema dialect over SQLite) or a PostgreSQL server.
using Engine = data::Dialect;

// What a column of the target holds, as far as writing a value into it goes.
struct TargetType
{
    // The import makes and writes WideString (its text), Memo, SmallInt, Integer, LargeInt, Single, Float, BCD,
    // DateTime, Date, Time, Boolean and Blob columns.
    data::FieldKind kind = data::FieldKind::WideString;
    int size = 0;               // text: characters
    int precision = 0;          // BCD: digits
    int scale = 0;              // BCD: digits after the point
    bool currency = false;      // a BCD declared as currency (19,4)
    bool autoIncrement = false; // an Integer the database numbers: the table's key

    bool operator==(const TargetType&) const = default;
};

// The kind an Access column takes where the import makes the column itself: in a table it copies, or added
// to a schema table that lacks it.
TargetType mappedType(const access::Column& column);

// The type in the engine's CREATE TABLE: the schema dialect's word for the file ("NVARCHAR(40)", "CURRENCY"),
// the server's type otherwise ("varchar(40)", "numeric(19,4)"). An auto-increment key comes with its
// PRIMARY KEY; SQLite and the server number only such a column.
std::string sqlType(const TargetType& type, Engine engine);

// What a schema column holds.
TargetType typeOfColumn(const data::ColumnDefinition& column);
// What a column of a table already in the target holds, from how the backend describes it; throws
// ImportError for a kind the import cannot write.
TargetType typeOfColumn(const data::ColumnDescription& column, const std::string& table);

// Everything the import refuses: names the target cannot take, tables that already hold rows, values that do
// not fit, rows the database refuses. The text names the table, the row and the column where there is one.
class ImportError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace velmora::transfer
