#pragma once

#include "data/ColumnKinds.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmora::data {

// Column flags of the schema.
enum ColumnFlag : unsigned {
    Required = 1u << 0,
    ReadOnly = 1u << 1,
};

// One column of a table as the database must hold it. Text sizes count characters; for BCD `size` is the
// scale and `precision` the number of digits (0 when the schema does not declare it).
struct ColumnDefinition
{
    std::string_view name;
    FieldKind kind;
    int size = 0;
    int precision = 0;
    unsigned flags = 0;
    std::string_view label = {};
};

struct TableDefinition
{
    std::string_view name;
    std::span<const ColumnDefinition> columns;
    // How many leading columns the dataset that reads the table declares as its fields (tyg: 13 of
    // OperatorTable, toper: the 4 of oper); 0 when none does.
    int declaredColumns = 0;

    std::span<const ColumnDefinition> declared() const { return columns.first(declaredColumns); }
};

// The twelve tables, in the order the data module names them.
std::span<const TableDefinition> schemaTables();
const TableDefinition* findTable(std::string_view name); // letter case ignored
const ColumnDefinition* findColumn(const TableDefinition& table, std::string_view name);

// The column's type in the dialect's CREATE TABLE ("NVARCHAR(50)", "DECIMAL(15,4)"; "varchar(50)", ...).
std::string sqlType(const ColumnDefinition& column, Dialect dialect = Dialect::File);
// CREATE TABLE statement of one table in the dialect, identifiers double-quoted.
std::string createTableSql(const TableDefinition& table, Dialect dialect = Dialect::File);
// Every table's CREATE TABLE, one script that any SQLite client can run.
std::string schemaScript();

} // namespace velmora::data
