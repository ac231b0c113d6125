#pragma once

// The server's values as the embedded engine gives them: its built-in types, a catalogue column described in the
// file's dialect, a cell of a text-format result, and a value as the text of a parameter. Private to PgBackend.

#include "data/Backend.h"
#include "data/Value.h"

#include <optional>
#include <string>

struct pg_result;

namespace velmora::data::pg {

// Type OIDs of the server's built-in types (fixed since PostgreSQL's first catalogue).
enum TypeOid : unsigned {
    BoolOid = 16,
    ByteaOid = 17,
    NameOid = 19,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    TextOid = 25,
    OidOid = 26,
    Float4Oid = 700,
    Float8Oid = 701,
    BpcharOid = 1042,
    VarcharOid = 1043,
    DateOid = 1082,
    TimeOid = 1083,
    TimestampOid = 1114,
    TimestamptzOid = 1184,
    NumericOid = 1700,
};

void describeFixed(ColumnDescription& c, AdoType type, int size, int precision);
// The embedded dialect's report of a declared column; false for a type it has no word for.
bool describeDeclared(ColumnDescription& c, unsigned type, int typmod, bool ansi);
// A computed column: by the result's type; false when its values must tell (text, and decimals without a scale).
bool describeComputed(ColumnDescription& c, unsigned type, int typmod);

// One cell of a text-format result, as the embedded engine gives the same value. Text points into the
// result, or into `scratch` for bytes the server sends escaped. A BCD column's numeric is read from its text
// as the exact decimal it is.
CellView cellOf(const pg_result* r, int row, int column, unsigned type, bool decimal, std::string& scratch);

// A parameter for a column of the given type, or null.
std::optional<std::string> parameterText(const Value& value, unsigned type);

} // namespace velmora::data::pg
