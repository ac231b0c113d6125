// What a PgBackend knows of the server's catalogue: the tables' and columns' names (for adapting command texts
// and finding a table by name) and, per table, how its columns are declared. Read when first needed, and again
// when a statement may have changed it.
#include "data/engines/PgBackend.h"

#include "data/Errors.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/PgInternal.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace velmora::data {

void PgBackend::execute(const std::string& sql)
{
    return command(Access::Write, [&] {
        // The statements may make, change or drop tables: what was read of them is read again when needed.
        m_tables.clear();
        m_namesLoaded = false;
        run(sql);
    });
}

void PgBackend::loadNames()
{
    m_names.tables.clear();
    m_names.columnsByTable.clear();
    m_tableOids.clear();
    Result tables = run("SELECT c.oid, c.relname FROM pg_catalog.pg_class c "
                        "WHERE c.relkind IN ('r','v','m','p','f') AND pg_catalog.pg_table_is_visible(c.oid) "
                        "AND c.relnamespace <> 'pg_catalog'::regnamespace");
    for (int r = 0; r < PQntuples(tables.get()); ++r) {
        m_names.tables.emplace_back(PQgetvalue(tables.get(), r, 1));
        m_tableOids.push_back(static_cast<unsigned>(std::strtoul(PQgetvalue(tables.get(), r, 0), nullptr, 10)));
    }
    Result columns = run("SELECT c.relname, a.attname FROM pg_catalog.pg_attribute a "
                         "JOIN pg_catalog.pg_class c ON c.oid = a.attrelid "
                         "WHERE c.relkind IN ('r','v','m','p','f') AND pg_catalog.pg_table_is_visible(c.oid) "
                         "AND c.relnamespace <> 'pg_catalog'::regnamespace AND a.attnum > 0 AND NOT a.attisdropped "
                         "ORDER BY c.oid, a.attnum");
    for (int r = 0; r < PQntuples(columns.get()); ++r)
        m_names.columnsByTable[text::lowerAscii(PQgetvalue(columns.get(), r, 0))].emplace_back(
            PQgetvalue(columns.get(), r, 1));
    m_namesLoaded = true;
}

std::vector<std::string> PgBackend::tableNames()
{
    return command(Access::Read, [&] {
        loadNames();
        return m_names.tables;
    });
}

std::string PgBackend::adaptCommand(std::string_view commandText)
{
    if (!m_namesLoaded)
        loadNames();
    return data::adaptCommand(commandText, m_names);
}

unsigned PgBackend::tableOid(std::string_view name)
{
    if (!m_namesLoaded)
        loadNames();
    const std::string* table = m_names.findTable(name);
    return table ? m_tableOids[static_cast<std::size_t>(table - m_names.tables.data())] : 0;
}

const PgBackend::TableInfo& PgBackend::tableInfo(unsigned oid)
{
    if (auto it = m_tables.find(oid); it != m_tables.end())
        return it->second;
    const std::string oidText = std::to_string(oid);
    Result r = run("SELECT c.relname, a.attnum, a.attname, "
                   "CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END, "
                   "CASE WHEN t.typtype = 'd' THEN t.typtypmod ELSE a.atttypmod END, "
                   "pg_catalog.format_type(a.atttypid, a.atttypmod), "
                   "a.attidentity <> '' OR COALESCE(pg_catalog.pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%', "
                   "false), "
                   "pg_catalog.col_description(a.attrelid, a.attnum) "
                   "FROM pg_catalog.pg_attribute a "
                   "JOIN pg_catalog.pg_class c ON c.oid = a.attrelid "
                   "JOIN pg_catalog.pg_type t ON t.oid = a.atttypid "
                   "LEFT JOIN pg_catalog.pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
                   "WHERE a.attrelid = $1::oid AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
                   {oidText.c_str()});
    TableInfo info;
    for (int row = 0; row < PQntuples(r.get()); ++row) {
        info.name = PQgetvalue(r.get(), row, 0);
        const int number = std::atoi(PQgetvalue(r.get(), row, 1));
        ColumnInfo column;
        column.name = PQgetvalue(r.get(), row, 2);
        column.baseType = static_cast<unsigned>(std::strtoul(PQgetvalue(r.get(), row, 3), nullptr, 10));
        column.typmod = std::atoi(PQgetvalue(r.get(), row, 4));
        column.typeName = PQgetvalue(r.get(), row, 5);
        column.autoIncrement = std::string_view(PQgetvalue(r.get(), row, 6)) == "t";
        if (!PQgetisnull(r.get(), row, 7)) {
            const std::string_view comment = PQgetvalue(r.get(), row, 7);
            column.ansi = text::startsWithIgnoreCase(comment, AnsiTextMark) &&
                          (comment.size() == AnsiTextMark.size() ||
                           !isSqlWordChar(static_cast<unsigned char>(comment[AnsiTextMark.size()])));
        }
        info.order.push_back(number);
        info.columns.emplace(number, std::move(column));
    }
    return m_tables.emplace(oid, std::move(info)).first->second;
}

const PgBackend::TableInfo& PgBackend::writtenTable(const std::string& name)
{
    unsigned oid = tableOid(name);
    if (!oid) {
        loadNames();
        oid = tableOid(name);
    }
    if (!oid)
        throw DatabaseError("The table '" + name + "' does not exist.", ErrorKind::NotFound);
    return tableInfo(oid);
}

const PgBackend::ColumnInfo* PgBackend::columnNamed(const TableInfo& table, std::string_view name)
{
    const ColumnInfo* found = nullptr;
    for (int number : table.order) {
        const ColumnInfo& column = table.columns.at(number);
        if (column.name == name)
            return &column;
        if (!found && text::equalsIgnoreCase(column.name, name))
            found = &column;
    }
    return found;
}

} // namespace velmora::data
