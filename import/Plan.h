#pragma once

#include "access/AccessFile.h"
#include "data/Schema.h"
#include "import/TargetType.h"

#include <cstdint>
#include <string>
#include <vector>

// Where each Access table and column goes: the schema's tables found by name in any letter case and their
// columns matched the same way, the columns the schema lacks added, every other table copied whole.
namespace velmora::transfer {

class Source;

struct TargetColumn
{
    std::string name;
    TargetType type;
};

// A table the target holds already (or will, as the schema makes it).
struct TargetTable
{
    std::string name;
    std::vector<TargetColumn> columns;
};

struct ColumnPlan
{
    std::string source; // the Access column
    access::Kind sourceKind = access::Kind::Text;
    std::string target;   // the target's column, as the target spells it
    TargetType type;      // what the target column holds
    bool added = false;   // the import adds it to a table that lacks it
    bool notNull = false; // in a table made for it: Required in Access, or part of the primary key
};

struct TablePlan
{
    std::string source;                  // the Access table
    std::int64_t rowCount = 0;           // as the Access table records it
    std::string target;                  // the table its rows go into, as the target spells it
    bool schemaTable = false;            // one of the twelve tables of the schema
    bool create = false;                 // made by the import, a copy of the Access table
    std::vector<ColumnPlan> columns;     // every Access column, in the Access table's order
    std::vector<std::string> missing;    // the target's columns the Access table lacks: left NULL or their default
    std::vector<std::size_t> key;        // the Access columns that name a row in messages (its primary key)
    std::vector<std::size_t> primaryKey; // the Access table's primary key, which a table made for it keeps
};

struct ImportPlan
{
    std::vector<const data::TableDefinition*> schemaTablesToCreate; // those the target lacks, all made
    std::vector<TablePlan> tables;                                  // in the Access file's order
};

// The target's table a schema table is: its columns as the schema's DDL makes them.
TargetTable schemaTargetTable(const data::TableDefinition& table);

// Plans the import of the Access tables into a target that already holds `existing` (every schema table it
// has, and any table of another Access table's name). The columns it makes take the types `types` gives, where it
// gives one (Source::columnType). Throws ImportError for a name the engine cannot take.
ImportPlan planImport(const std::vector<access::Table>& source, const std::vector<TargetTable>& existing, Engine engine,
                      const Source* types = nullptr);

// The statements that make the plan's tables and columns, in the engine's dialect.
std::vector<std::string> planStatements(const ImportPlan& plan, Engine engine);

} // namespace velmora::transfer
