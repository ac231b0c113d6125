#include "import/Plan.h"

#include "import/Source.h"

#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/PgBackend.h"

#include <algorithm>

namespace velmora::transfer {

namespace {

using data::text::equalsIgnoreCase;

// The server cuts longer names short without a word (NAMEDATALEN - 1).
constexpr std::size_t ServerNameBytes = 63;

void checkTableName(const std::string& name, Engine engine)
{
    const std::string what = "the Access table '" + name + "' cannot be copied: ";
    if (name.empty())
        throw ImportError("an Access table without a name cannot be copied");
    if (engine == Engine::File && data::text::startsWithIgnoreCase(name, "sqlite_"))
        throw ImportError(what + "SQLite keeps names beginning with 'sqlite_' for itself; rename it in Access");
    if (engine == Engine::File && equalsIgnoreCase(name, data::PasswordVerifierTable))
        throw ImportError(what + "the database file keeps its password verifier under that name; rename it in "
                                 "Access");
    if (engine == Engine::Server && name.size() > ServerNameBytes)
        throw ImportError(what + "the server takes names of at most 63 bytes; rename it in Access");
}

void checkColumnName(const std::string& table, const std::string& column, Engine engine)
{
    const std::string what = "the column '" + column + "' of the Access table '" + table + "' cannot be copied: ";
    if (column.empty())
        throw ImportError("a column without a name of the Access table '" + table + "' cannot be copied");
    if (engine != Engine::Server)
        return;
    if (column.size() > ServerNameBytes)
        throw ImportError(what + "the server takes names of at most 63 bytes; rename it in Access");
    for (const char* system : {"tableoid", "xmin", "cmin", "xmax", "cmax", "ctid"})
        if (equalsIgnoreCase(column, system))
            throw ImportError(what + "the server keeps that name for a column of its own; rename it in Access");
}

const TargetTable* findExisting(const std::vector<TargetTable>& existing, std::string_view name)
{
    const TargetTable* found = nullptr;
    for (const TargetTable& table : existing) {
        if (table.name == name)
            return &table;
        if (!found && equalsIgnoreCase(table.name, name))
            found = &table;
    }
    return found;
}

const TargetColumn* findColumn(const TargetTable& table, std::string_view name)
{
    const auto it = std::find_if(table.columns.begin(), table.columns.end(),
                                 [&](const TargetColumn& c) { return equalsIgnoreCase(c.name, name); });
    return it == table.columns.end() ? nullptr : &*it;
}

// The primary key's columns, when every one of them is found.
std::vector<std::size_t> primaryKeyOf(const access::Table& table)
{
    std::vector<std::size_t> key;
    for (const std::string& name : table.primaryKey)
        for (std::size_t i = 0; i < table.columns.size(); ++i)
            if (table.columns[i].name == name)
                key.push_back(i);
    return key.size() == table.primaryKey.size() ? key : std::vector<std::size_t>{};
}

std::vector<std::size_t> keyOf(const access::Table& table)
{
    std::vector<std::size_t> key;
    for (const std::string& name : table.primaryKey)
        for (std::size_t i = 0; i < table.columns.size(); ++i)
            if (table.columns[i].name == name)
                key.push_back(i);
    if (!key.empty() && key.size() == table.primaryKey.size())
        return key;
    // Without a primary key, the AutoNumber column tells the rows apart.
    for (std::size_t i = 0; i < table.columns.size(); ++i)
        if (table.columns[i].kind == access::Kind::AutoNumber)
            return {i};
    return {};
}

} // namespace

TargetTable schemaTargetTable(const data::TableDefinition& table)
{
    TargetTable target{std::string(table.name), {}};
    for (const data::ColumnDefinition& column : table.columns)
        target.columns.push_back({std::string(column.name), typeOfColumn(column)});
    return target;
}

ImportPlan planImport(const std::vector<access::Table>& source, const std::vector<TargetTable>& existing, Engine engine,
                      const Source* types)
{
    const auto typeOf = [types](const access::Table& table, std::size_t column) {
        if (types)
            if (std::optional<TargetType> given = types->columnType(table.name, column))
                return *given;
        return mappedType(table.columns[column]);
    };
    ImportPlan plan;
    for (const data::TableDefinition& table : data::schemaTables())
        if (!findExisting(existing, table.name))
            plan.schemaTablesToCreate.push_back(&table);

    for (const access::Table& table : source) {
        TablePlan p;
        p.source = table.name;
        p.rowCount = table.rowCount;
        p.key = keyOf(table);
        if (table.columns.empty())
            throw ImportError("the Access table '" + table.name + "' has no columns to copy");
        const data::TableDefinition* schema = data::findTable(table.name);
        const TargetTable* there = findExisting(existing, schema ? schema->name : std::string_view(table.name));
        p.schemaTable = schema != nullptr;
        if (!schema && !there) {
            checkTableName(table.name, engine);
            p.target = table.name;
            p.create = true;
            p.primaryKey = primaryKeyOf(table);
            // The database numbers new rows only in a key of one integer column: an AutoNumber that is the primary
            // key, or the first AutoNumber of a table without one. Beside another primary key it keeps its numbers
            // as a plain integer.
            bool keyMade = false;
            for (std::size_t i = 0; i < table.columns.size(); ++i) {
                const access::Column& column = table.columns[i];
                checkColumnName(table.name, column.name, engine);
                TargetType type = typeOf(table, i);
                const bool inKey = std::find(p.primaryKey.begin(), p.primaryKey.end(), i) != p.primaryKey.end();
                type.autoIncrement =
                    type.autoIncrement && !keyMade && (p.primaryKey.empty() || (inKey && p.primaryKey.size() == 1));
                keyMade = keyMade || type.autoIncrement;
                ColumnPlan planned{column.name, column.kind, column.name, type, false};
                planned.notNull = !type.autoIncrement && (column.required || inKey);
                p.columns.push_back(std::move(planned));
            }
            plan.tables.push_back(std::move(p));
            continue;
        }
        const TargetTable target = there ? *there : schemaTargetTable(*schema);
        p.target = target.name;
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            const access::Column& column = table.columns[i];
            if (const TargetColumn* match = findColumn(target, column.name)) {
                p.columns.push_back({column.name, column.kind, match->name, match->type, false});
                continue;
            }
            checkColumnName(table.name, column.name, engine);
            // The table has its key already, if any: an added AutoNumber keeps its numbers as plain integers.
            TargetType type = typeOf(table, i);
            type.autoIncrement = false;
            p.columns.push_back({column.name, column.kind, column.name, type, true});
        }
        for (const TargetColumn& column : target.columns)
            if (std::none_of(p.columns.begin(), p.columns.end(),
                             [&](const ColumnPlan& c) { return c.target == column.name; }))
                p.missing.push_back(column.name);
        plan.tables.push_back(std::move(p));
    }
    return plan;
}

std::vector<std::string> planStatements(const ImportPlan& plan, Engine engine)
{
    std::vector<std::string> statements;
    for (const data::TableDefinition* table : plan.schemaTablesToCreate)
        statements.push_back(engine == Engine::File ? data::createTableSql(*table)
                                                    : data::serverCreateTableSql(*table));
    for (const TablePlan& table : plan.tables) {
        if (table.create) {
            std::string sql = "CREATE TABLE " + data::quoteIdentifier(table.target) + " (";
            for (std::size_t i = 0; i < table.columns.size(); ++i)
                sql += (i ? ",\n    " : "\n    ") + data::quoteIdentifier(table.columns[i].target) + " " +
                       sqlType(table.columns[i].type, engine) + (table.columns[i].notNull ? " NOT NULL" : "");
            // An AutoNumber key is declared with its column.
            const bool keyDeclared =
                table.primaryKey.size() == 1 && table.columns[table.primaryKey.front()].type.autoIncrement;
            if (!table.primaryKey.empty() && !keyDeclared) {
                sql += ",\n    PRIMARY KEY (";
                for (std::size_t k = 0; k < table.primaryKey.size(); ++k)
                    sql += (k ? ", " : "") + data::quoteIdentifier(table.columns[table.primaryKey[k]].target);
                sql += ")";
            }
            statements.push_back(sql + "\n);\n");
            continue;
        }
        for (const ColumnPlan& column : table.columns)
            if (column.added)
                statements.push_back("ALTER TABLE " + data::quoteIdentifier(table.target) + " ADD COLUMN " +
                                     data::quoteIdentifier(column.target) + " " + sqlType(column.type, engine) + ";\n");
    }
    return statements;
}

} // namespace velmora::transfer
