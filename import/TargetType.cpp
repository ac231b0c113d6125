#include "import/TargetType.h"

namespace velmora::transfer {

namespace {

using K = data::FieldKind;
using data::AdoType;

// The width of a replication ID's text: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
constexpr int ReplicationIdLength = 38;
// Access never makes a text column without a size; 255 is its largest.
constexpr int LongestAccessText = 255;

} // namespace

TargetType mappedType(const access::Column& column)
{
    using access::Kind;
    switch (column.kind) {
    case Kind::Text:
        return {.kind = K::WideString, .size = column.size > 0 ? column.size : LongestAccessText};
    case Kind::Memo:
        return {.kind = K::Memo};
    case Kind::Byte:
    case Kind::Integer:
        return {.kind = K::SmallInt};
    case Kind::LongInteger:
        return {.kind = K::Integer};
    case Kind::AutoNumber:
        return {.kind = K::Integer, .autoIncrement = true};
    case Kind::Currency:
        return {.kind = K::BCD, .precision = 19, .scale = 4, .currency = true};
    case Kind::Decimal:
        return {.kind = K::BCD, .precision = column.precision, .scale = column.scale};
    case Kind::Single:
        return {.kind = K::Single};
    case Kind::Double:
        return {.kind = K::Float};
    case Kind::DateTime:
        return {.kind = K::DateTime};
    case Kind::Boolean:
        return {.kind = K::Boolean};
    case Kind::Binary:
        return {.kind = K::Blob};
    case Kind::ReplicationId:
        return {.kind = K::WideString, .size = ReplicationIdLength};
    }
    return {};
}

std::string sqlType(const TargetType& type, Engine engine)
{
    return data::declaredType({.kind = type.autoIncrement && type.kind == K::Integer ? K::AutoInc : type.kind,
                               .size = type.size,
                               .precision = type.precision,
                               .scale = type.scale,
                               .currency = type.currency},
                              engine);
}

TargetType typeOfColumn(const data::ColumnDefinition& column)
{
    switch (column.kind) {
    case K::String:
    case K::FixedString:
    case K::WideString:
    case K::FixedWideString:
        return {.kind = K::WideString, .size = column.size};
    case K::Word:
        return {.kind = K::Integer};
    case K::AutoInc:
        return {.kind = K::Integer, .autoIncrement = true};
    case K::BCD:
        // As the schema's DDL declares it: 19 digits where the schema leaves the precision open.
        return {.kind = K::BCD,
                .precision = column.precision ? column.precision : data::DefaultBcdPrecision,
                .scale = column.size};
    default:
        return {.kind = column.kind};
    }
}

TargetType typeOfColumn(const data::ColumnDescription& column, const std::string& table)
{
    TargetType type;
    switch (column.type) {
    case AdoType::adVarChar:
    case AdoType::adVarWChar:
    case AdoType::adChar:
    case AdoType::adWChar:
    case AdoType::adBSTR:
        type = {.kind = K::WideString, .size = column.definedSize};
        break;
    case AdoType::adLongVarChar:
    case AdoType::adLongVarWChar:
        type = {.kind = K::Memo};
        break;
    case AdoType::adBinary:
    case AdoType::adVarBinary:
    case AdoType::adLongVarBinary:
        type = {.kind = K::Blob};
        break;
    case AdoType::adSmallInt:
    case AdoType::adTinyInt:
    case AdoType::adUnsignedTinyInt:
        type = {.kind = K::SmallInt};
        break;
    case AdoType::adInteger:
    case AdoType::adUnsignedSmallInt:
        type = {.kind = K::Integer};
        break;
    case AdoType::adBigInt:
    case AdoType::adUnsignedInt:
        type = {.kind = K::LargeInt};
        break;
    case AdoType::adSingle:
        type = {.kind = K::Single};
        break;
    case AdoType::adDouble:
        type = {.kind = K::Float};
        break;
    case AdoType::adCurrency:
        type = {.kind = K::BCD, .precision = 19, .scale = 4, .currency = true};
        break;
    case AdoType::adNumeric:
    case AdoType::adDecimal:
    case AdoType::adVarNumeric:
        type = {.kind = K::BCD, .precision = column.precision, .scale = column.scale};
        break;
    case AdoType::adDate:
    case AdoType::adDBTimeStamp:
        type = {.kind = K::DateTime};
        break;
    case AdoType::adDBDate:
        type = {.kind = K::Date};
        break;
    case AdoType::adDBTime:
        type = {.kind = K::Time};
        break;
    case AdoType::adBoolean:
        type = {.kind = K::Boolean};
        break;
    default:
        throw ImportError("column '" + column.name + "' of the target's table '" + table +
                          "' is of a kind the import cannot write (" + std::to_string(static_cast<int>(column.type)) +
                          ")");
    }
    type.autoIncrement = column.autoIncrement;
    return type;
}

} // namespace velmora::transfer
