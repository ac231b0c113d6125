#include "tests/support/TestDatabase.h"

#include "data/Schema.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SqliteBackend.h"
#include "data/provider/ConnectionString.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

namespace velmora::test {

namespace {

// The type the server gives a column that the embedded DDL declares with a dialect word, and whether it is
// 8-bit text (marked by the column's comment).
std::pair<std::string, bool> serverTypeOf(std::string_view declared)
{
    for (const data::KindWords& w : data::kindWords())
        if (declared.starts_with(w.file) &&
            (declared.size() == w.file.size() || !std::isalpha(static_cast<unsigned char>(declared[w.file.size()]))))
            return {std::string(w.server) + std::string(declared.substr(w.file.size())), data::isAnsiTextKind(w.kind)};
    throw std::invalid_argument("no server type for " + std::string(declared));
}

// A column's type as the backend's DDL declares it, and whether the server must mark it as 8-bit text.
std::pair<std::string, bool> typeOf(TestBackend backend, const data::ColumnDefinition& column)
{
    if (backend == TestBackend::Embedded)
        return {data::sqlType(column), false};
    return {data::sqlType(column, data::Dialect::Server), data::isAnsiTextKind(column.kind)};
}

std::pair<std::string, bool> typeOf(TestBackend backend, const std::string& declared)
{
    return backend == TestBackend::Embedded ? std::pair<std::string, bool>(declared, false) : serverTypeOf(declared);
}

} // namespace

const char* backendName(TestBackend backend)
{
    return backend == TestBackend::Embedded ? "Embedded" : "Server";
}

TestServer serverOf(const char* uri)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(uri, &error);
    if (!options) {
        std::string text = error ? error : "unreadable";
        PQfreemem(error);
        throw std::runtime_error("VELMORA_TEST_PG: " + text);
    }
    TestServer server;
    server.adminUri = uri;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        const std::string key = o->keyword;
        const std::string value = o->val ? o->val : "";
        if (key == "host")
            server.host = value;
        else if (key == "port")
            server.port = value;
        else if (key == "user")
            server.user = value;
        else if (key == "password")
            server.password = value;
    }
    PQconninfoFree(options);
    if (server.host.empty())
        server.host = "127.0.0.1";
    if (server.port.empty())
        server.port = "5432";
    return server;
}

std::optional<TestServer> testServer()
{
    const char* uri = std::getenv("VELMORA_TEST_PG");
    if (!uri || !*uri)
        return std::nullopt;
    return serverOf(uri);
}

std::string skipReason(TestBackend backend)
{
    if (backend == TestBackend::Server && !testServer())
        return "VELMORA_TEST_PG is not set: no PostgreSQL server to test against (scripts/test.sh starts one)";
    return {};
}

TestBackend fixtureBackend()
{
    const char* chosen = std::getenv("VELMORA_TEST_BACKEND");
    return chosen && std::string(chosen) == "server" ? TestBackend::Server : TestBackend::Embedded;
}

std::vector<std::vector<std::string>> rowsOfFile(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + path);
    }
    sqlite3_busy_timeout(db, 5000);
    std::vector<std::vector<std::string>> out;
    const char* tail = sql.c_str();
    while (tail && *tail) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, tail, -1, &st, &tail) != SQLITE_OK) {
            const std::string text = sqlite3_errmsg(db);
            sqlite3_close(db);
            throw std::runtime_error("SQL failed: " + text + "\n" + sql);
        }
        if (!st)
            break;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            auto& values = out.emplace_back();
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
                values.emplace_back(text ? text : "");
            }
        }
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) {
            const std::string text = sqlite3_errmsg(db);
            sqlite3_close(db);
            throw std::runtime_error("SQL failed: " + text + "\n" + sql);
        }
    }
    sqlite3_close(db);
    return out;
}

std::string startupConnectionString(const std::string& user, const std::string& source, const std::string& password,
                                    const std::string& provider)
{
    return "Provider=" + provider + ";Password=\"\";User ID=" + user + ";Data Source=" + source + ";" +
           "Mode=Share Deny None;Extended Properties=\"\";" + "Locale Identifier=1028;Jet OLEDB:System database=\"\";" +
           "Jet OLEDB:Registry Path=\"\";Jet OLEDB:" + "Database Password=" + password + ";Jet OLEDB:Engine Type=5;" +
           "Jet OLEDB:Database Locking Mode=1;" + "Jet OLEDB:Global Partial Bulk Ops=2;" +
           "Jet OLEDB:Global Bulk Transactions=1;" + "Jet OLEDB:New Database Password=\"\";" +
           "Jet OLEDB:Create System Database=False;" + "Jet OLEDB:Encrypt Database=False;" + "Jet OLEDB:" + "Don" +
           "'t Copy Locale on Compact=False;" + "Jet OLEDB:Compact Without Replica Repair=False;" +
           "Jet OLEDB:SFP=False;";
}

bool writeSettingsFile(const std::string& folder, const std::string& source, const std::string& user,
                       const std::string& password)
{
    std::ofstream file(std::filesystem::path(folder) / "DBConn.ini", std::ios::binary | std::ios::trunc);
    file << "[Velmora]\nDB_Source=" << source << "\nDB_User=" << user << "\nDB_Password=" << password << "\n";
    file.close();
    return !file.fail();
}

std::string fileConnectionString(const std::string& path)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + data::quoteValue(path) +
           ";Mode=Share Deny None;Jet OLEDB:Database Password=\"\"";
}

void makeShopFile(const std::string& path, int loginRecords)
{
    auto backend = data::createDatabaseFile(path);
    backend->execute("BEGIN;\n" + data::schemaScript() + "COMMIT;\n");
    backend->execute("BEGIN;\n"
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                     std::to_string(loginRecords) +
                     ")\n"
                     "INSERT INTO oper (userid, 登录时间) SELECT 1, '2024-01-01 08:00:00' FROM n;\n"
                     "COMMIT;\n");
}

std::string sqlLiteral(const data::Value& value)
{
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value)) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", *d);
        return buffer;
    }
    if (const auto* b = std::get_if<bool>(&value))
        return *b ? "TRUE" : "FALSE";
    if (const auto* s = std::get_if<std::string>(&value))
        return data::text::quoted(*s, '\'');
    return "NULL";
}

std::string schemaWith(TestBackend backend, const std::vector<ColumnChange>& changes)
{
    std::string script;
    for (const data::TableDefinition& table : data::schemaTables()) {
        std::vector<std::string> columns;
        std::string comments;
        auto add = [&](std::string_view name, const std::pair<std::string, bool>& type) {
            columns.push_back(data::quoteIdentifier(name) + " " + type.first);
            if (type.second)
                comments += "COMMENT ON COLUMN " + data::quoteIdentifier(table.name) + "." +
                            data::quoteIdentifier(name) + " IS 'ansi';";
        };
        for (const data::ColumnDefinition& column : table.columns) {
            std::optional<std::pair<std::string, bool>> type = typeOf(backend, column);
            for (const ColumnChange& change : changes)
                if (change.table == table.name && change.column == column.name)
                    type = change.type ? std::optional(typeOf(backend, *change.type)) : std::nullopt;
            if (type)
                add(column.name, *type);
        }
        for (const ColumnChange& change : changes)
            if (change.table == table.name && !data::findColumn(table, change.column) && change.type)
                add(change.column, typeOf(backend, *change.type));
        script += "CREATE TABLE " + data::quoteIdentifier(table.name) + " (";
        for (std::size_t i = 0; i < columns.size(); ++i)
            script += (i ? ", " : "") + columns[i];
        script += ");\n" + comments;
    }
    return script;
}

TestDatabase::TestDatabase(TestBackend backend, const std::string& fileName)
    : TestDatabase(backend, backend == TestBackend::Server ? testServer() : std::nullopt, fileName)
{
}

TestDatabase::TestDatabase(const TestServer& server) : TestDatabase(TestBackend::Server, server, "velmdb.mdb") {}

TestDatabase::TestDatabase(TestBackend backend, std::optional<TestServer> server, const std::string& fileName)
    : m_backend(backend), m_path(m_folder.file(fileName)), m_server(std::move(server))
{
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path());
    if (backend == TestBackend::Server) {
        if (!m_server)
            throw std::runtime_error(skipReason(backend));
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_database = "velmora_t_" + std::to_string(::getpid()) + "_" + std::to_string(stamp % 1000000000) + "_" +
                     std::to_string(counter++);
        ServerSession(m_server->adminUri).rows("CREATE DATABASE \"" + m_database + "\"");
    }
}

TestDatabase::~TestDatabase()
{
    m_session.reset();
    if (m_server) {
        try {
            ServerSession(m_server->adminUri).rows("DROP DATABASE IF EXISTS \"" + m_database + "\" WITH (FORCE)");
        } catch (...) {
        }
    }
}

std::string TestDatabase::source() const
{
    return isServer() ? m_server->uriOf(m_database) : m_path;
}

std::string TestDatabase::connectionString() const
{
    if (!isServer())
        return fileConnectionString(m_path);
    return connectionStringAs(m_server->user, m_server->password);
}

std::string TestDatabase::connectionStringAs(const std::string& role, const std::string& password) const
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=" + data::quoteValue(role) +
           ";Data Source=" + data::quoteValue(source()) +
           ";Mode=Share Deny None;Jet OLEDB:Database Password=" + data::quoteValue(password);
}

bool TestDatabase::writeSettings(const std::string& folder) const
{
    return isServer() ? writeSettingsFile(folder, source(), m_server->user, m_server->password)
                      : writeSettingsFile(folder, source(), "Admin", "");
}

std::vector<std::string> TestDatabase::toolTarget() const
{
    if (!isServer())
        return {m_path};
    return {source(), "--db-user", m_server->user, "--db-password", m_server->password};
}

std::string TestDatabase::schema() const
{
    return isServer() ? data::serverSchemaScript() : data::schemaScript();
}

std::vector<std::vector<std::string>> TestDatabase::rows(const std::string& sql)
{
    if (!isServer())
        return rowsOfFile(m_path, sql);
    try {
        return session().rows(sql);
    } catch (const std::runtime_error&) {
        // A test may restart its own server under the session: the check goes on with a new one.
        if (session().connected())
            throw;
        m_session.reset();
        return session().rows(sql);
    }
}

long long TestDatabase::number(const std::string& sql)
{
    const auto r = rows(sql);
    return r.empty() || r.front().empty() ? -1 : std::atoll(r.front().front().c_str());
}

void TestDatabase::addOperator(const std::string& username, const data::Value& userid, const data::Value& password,
                               const data::Value& able)
{
    run("INSERT INTO \"OperatorTable\" (username, oper, userid, passwords, able) VALUES (" + sqlLiteral(username) +
        ", " + sqlLiteral(username) + ", " + sqlLiteral(userid) + ", " + sqlLiteral(password) + ", " +
        sqlLiteral(able) + ");");
}

int TestDatabase::schemaVersion()
{
    if (!isServer())
        return static_cast<int>(number("PRAGMA user_version"));
    if (number("SELECT count(*) FROM pg_tables WHERE tablename = 'velmora_schema_version'") == 0)
        return 0;
    return static_cast<int>(number("SELECT coalesce(max(version), 0) FROM velmora_schema_version"));
}

void TestDatabase::stampSchemaVersion(int version)
{
    if (!isServer()) {
        run("PRAGMA user_version = " + std::to_string(version));
        return;
    }
    run("CREATE TABLE IF NOT EXISTS velmora_schema_version (version integer NOT NULL); "
        "DELETE FROM velmora_schema_version; INSERT INTO velmora_schema_version VALUES (" +
        std::to_string(version) + ")");
}

void TestDatabase::useWriteAheadLog()
{
    if (!isServer())
        run("PRAGMA journal_mode=WAL");
}

void TestDatabase::protectWithPassword(const std::string& password)
{
    if (isServer())
        throw std::logic_error("a server database has no database password of its own: its role has one");
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + m_path);
    }
    try {
        data::installPasswordVerifier(db, password);
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    sqlite3_close(db);
}

ServerSession& TestDatabase::session()
{
    if (!m_session)
        m_session = std::make_unique<ServerSession>(m_server->uriOf(m_database) + "?user=" + m_server->user +
                                                    "&password=" + m_server->password);
    return *m_session;
}

} // namespace velmora::test
