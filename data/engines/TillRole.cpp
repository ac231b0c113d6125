#include "data/engines/TillRole.h"

#include "data/Errors.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"

#include <algorithm>
#include <cctype>

namespace velmora::data {

namespace {

// Role names are written into statements (a server takes no parameter there): only plain names are taken.
bool plainName(std::string_view name)
{
    if (name.empty() || name.size() > 63 || std::isdigit(static_cast<unsigned char>(name.front())))
        return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

bool contains(const std::vector<std::string>& names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string textOf(const Value& value)
{
    return text::display(value);
}

bool isTrue(const Value& value)
{
    if (const auto* b = std::get_if<bool>(&value))
        return *b;
    return text::display(value) == "t";
}

} // namespace

TillRoleReport grantTillRole(PgBackend& db, const std::string& role, const std::optional<std::string>& password,
                             const TillRoleGrant& grant)
{
    if (!plainName(role))
        throw DatabaseError("'" + role +
                                "' is no role name this tool takes: letters, digits and '_', at most 63, "
                                "not beginning with a digit.",
                            ErrorKind::Malformed);
    const ResultSet session = db.query("SELECT CAST(current_user AS text), CAST(current_database() AS text)", {});
    const std::string self = textOf(session.rows.at(0).at(0));
    const std::string database = textOf(session.rows.at(0).at(1));
    if (role == self)
        throw DatabaseError("'" + role +
                                "' is the role this tool connects as, the owner of the tables: a till "
                                "needs a role of its own.",
                            ErrorKind::Malformed);
    const ResultSet existing =
        db.query("SELECT rolsuper, rolcanlogin FROM pg_catalog.pg_roles WHERE rolname = CAST(? AS name)", {role});
    TillRoleReport report;
    report.created = existing.rows.empty();
    if (!report.created && isTrue(existing.rows[0][0]))
        throw DatabaseError("'" + role +
                                "' is a superuser, whom no right can be taken from: a till needs a role "
                                "of its own.",
                            ErrorKind::Permission);
    if (report.created && !password)
        throw DatabaseError("The role '" + role + "' is new and needs a password.", ErrorKind::Malformed);
    // The server keeps only the SCRAM verifier, computed here: base64 and '$', ':' (never a quote).
    std::string verifier;
    if (password) {
        verifier = db.encryptedRolePassword(role, *password);
        if (verifier.find_first_of("'\\") != std::string::npos)
            throw DatabaseError("The role's password could not be encrypted.");
        report.passwordSet = true;
    }
    const std::string who = quoteIdentifier(role);

    db.beginTransaction();
    try {
        if (report.created)
            db.execute("CREATE ROLE " + who + " LOGIN PASSWORD '" + verifier + "'");
        else if (password)
            db.execute("ALTER ROLE " + who + " LOGIN PASSWORD '" + verifier + "'");
        else if (!isTrue(existing.rows[0][1]))
            db.execute("ALTER ROLE " + who + " LOGIN");
        db.execute("REVOKE ALL ON ALL TABLES IN SCHEMA public FROM " + who);
        db.execute("REVOKE ALL ON ALL SEQUENCES IN SCHEMA public FROM " + who);
        db.execute("REVOKE CREATE ON SCHEMA public FROM " + who);
        db.execute("GRANT USAGE ON SCHEMA public TO " + who);
        db.execute("GRANT CONNECT ON DATABASE " + quoteIdentifier(database) + " TO " + who);
        for (const std::string& table : grant.readTables)
            db.execute("GRANT SELECT ON " + quoteIdentifier(table) + " TO " + who);
        for (const std::string& table : grant.insertTables) {
            db.execute("GRANT INSERT ON " + quoteIdentifier(table) + " TO " + who);
            const ResultSet sequences =
                db.query("SELECT pg_catalog.pg_get_serial_sequence(?, CAST(a.attname AS text)) "
                         "FROM pg_catalog.pg_attribute a WHERE a.attrelid = CAST(? AS regclass) AND a.attnum > 0 "
                         "AND NOT a.attisdropped",
                         {quoteIdentifier(table), quoteIdentifier(table)});
            for (const std::vector<Value>& row : sequences.rows)
                if (!isNull(row.at(0)))
                    db.execute("GRANT USAGE ON SEQUENCE " + textOf(row[0]) + " TO " + who);
        }

        // The rights as the server sees them, whatever they come through.
        const ResultSet rights =
            db.query("SELECT CAST(c.relname AS text), "
                     "has_table_privilege(CAST(? AS name), c.oid, 'SELECT'), "
                     "has_table_privilege(CAST(? AS name), c.oid, 'INSERT'), "
                     "has_table_privilege(CAST(? AS name), c.oid, 'UPDATE'), "
                     "has_table_privilege(CAST(? AS name), c.oid, 'DELETE'), "
                     "has_table_privilege(CAST(? AS name), c.oid, 'TRUNCATE'), "
                     "has_table_privilege(CAST(? AS name), c.oid, 'REFERENCES, TRIGGER') "
                     "FROM pg_catalog.pg_class c WHERE c.relnamespace = CAST('public' AS regnamespace) "
                     "AND c.relkind IN ('r', 'p', 'v', 'm', 'f') ORDER BY 1",
                     {role, role, role, role, role, role});
        std::string beyond;
        auto note = [&](const std::string& what) { beyond += (beyond.empty() ? "" : ", ") + what; };
        for (const std::vector<Value>& row : rights.rows) {
            const std::string table = textOf(row.at(0));
            if (isTrue(row.at(1)) != contains(grant.readTables, table))
                note(std::string(isTrue(row.at(1)) ? "SELECT on " : "no SELECT on ") + table);
            if (isTrue(row.at(2)) && !contains(grant.insertTables, table))
                note("INSERT on " + table);
            for (std::size_t r = 3; r <= 6; ++r)
                if (isTrue(row.at(r)))
                    note(std::string(r == 3   ? "UPDATE"
                                     : r == 4 ? "DELETE"
                                     : r == 5 ? "TRUNCATE"
                                              : "REFERENCES or TRIGGER") +
                         " on " + table);
        }
        const ResultSet schema = db.query("SELECT has_schema_privilege(CAST(? AS name), 'public', 'CREATE')", {role});
        if (isTrue(schema.rows.at(0).at(0)))
            note("CREATE in the schema public");
        if (!beyond.empty())
            throw DatabaseError("The role '" + role + "' would still have " + beyond +
                                    " (through PUBLIC or a role it belongs to); take that away first. Nothing was "
                                    "changed.",
                                ErrorKind::Permission);
        db.commit();
    } catch (...) {
        try {
            db.rollback();
        } catch (const DatabaseError&) {
            // the first failure is the one to report
        }
        throw;
    }
    return report;
}

} // namespace velmora::data
