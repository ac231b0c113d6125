// The schema on the server: its tables made (CREATE TABLE with the comments that mark 8-bit text), the version it
// is stamped with, and a role's password as the server keeps it.
#include "data/engines/PgBackend.h"

#include "data/ColumnKinds.h"
#include "data/Errors.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/PgInternal.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace velmora::data {

void PgBackend::createTableIfMissing(const TableDefinition& table)
{
    return command(Access::Write, [&] {
        std::string sql = serverCreateTableSql(table);
        const std::string_view head = "CREATE TABLE ";
        sql.insert(head.size(), "IF NOT EXISTS ");
        try {
            execute(sql);
        } catch (const DatabaseError& e) {
            // Another session made it at the same moment: the catalogue's own unique index refuses the second.
            if (e.cause().sqlState != "23505" && e.cause().sqlState != "42P07")
                throw;
            if (PQtransactionStatus(live()) != PQTRANS_IDLE)
                throw;
        }
    });
}

int PgBackend::schemaVersion()
{
    return command(Access::Read, [&] {
        // Looked up first: a failed read would end the caller's transaction.
        const std::string table = SchemaVersionTable;
        Result found = run("SELECT to_regclass($1) IS NOT NULL", {table.c_str()});
        if (std::string_view(PQgetvalue(found.get(), 0, 0)) != "t")
            return 0;
        Result version = run("SELECT max(version) FROM " + quoteIdentifier(table));
        if (PQntuples(version.get()) == 0 || PQgetisnull(version.get(), 0, 0))
            return 0;
        return std::atoi(PQgetvalue(version.get(), 0, 0));
    });
}

void PgBackend::setSchemaVersion(int version)
{
    return command(Access::Write, [&] {
        const std::string table = quoteIdentifier(SchemaVersionTable);
        execute("CREATE TABLE IF NOT EXISTS " + table +
                " (version integer NOT NULL);\n"
                "COMMENT ON TABLE " +
                table +
                " IS 'the version of the schema of this Velmora database: one row';\n"
                // Every till reads it at start-up, whatever its role may do otherwise; it tells nothing secret.
                "GRANT SELECT ON " +
                table +
                " TO PUBLIC;\n"
                "DELETE FROM " +
                table +
                ";\n"
                "INSERT INTO " +
                table + " (version) VALUES (" + std::to_string(version) + ");\n");
    });
}

std::string PgBackend::encryptedRolePassword(const std::string& role, const std::string& password)
{
    char* encrypted = PQencryptPasswordConn(live(), password.c_str(), role.c_str(), "scram-sha-256");
    if (!encrypted)
        throw DatabaseError("Could not encrypt the role's password: " +
                            std::string(text::trimWhitespace(PQerrorMessage(live()))));
    std::string out = encrypted;
    PQfreemem(encrypted);
    return out;
}

std::string serverCreateTableSql(const TableDefinition& table)
{
    std::string comments;
    for (const ColumnDefinition& column : table.columns)
        if (isAnsiTextKind(column.kind))
            comments += "COMMENT ON COLUMN " + quoteIdentifier(table.name) + "." + quoteIdentifier(column.name) +
                        " IS '" + std::string(AnsiTextMark) + "';\n";
    return createTableSql(table, Dialect::Server) + comments;
}

std::string serverSchemaScript()
{
    std::string script;
    for (const TableDefinition& table : schemaTables())
        script += serverCreateTableSql(table);
    return script;
}

} // namespace velmora::data
