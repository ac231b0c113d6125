#pragma once

// The same tests over both backends: an embedded database file, or a database of its own on the test server
// that VELMORA_TEST_PG names (a libpq URI with a role that may create databases, and its password;
// scripts/pg-test-server.sh starts one). Without the variable the server's cases are skipped.

#include "data/ConnectionString.h"
#include "data/PgBackend.h"
#include "data/Schema.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmora::data::test {

enum class TestBackend { Embedded, Server };

inline const char* backendName(TestBackend backend)
{
    return backend == TestBackend::Embedded ? "Embedded" : "Server";
}

// The test server's address and the role the tests use.
struct TestServer
{
    std::string host;
    std::string port;
    std::string user;
    std::string password;
    std::string adminUri; // as the variable gives it, with role and password

    std::string uriOf(const std::string& database) const
    {
        return "postgresql://" + host + ":" + port + "/" + database;
    }
};

// The server a libpq URI with role and password names (as VELMORA_TEST_PG gives one).
inline TestServer serverOf(const char* uri)
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

inline std::optional<TestServer> testServer()
{
    const char* uri = std::getenv("VELMORA_TEST_PG");
    if (!uri || !*uri)
        return std::nullopt;
    return serverOf(uri);
}

inline std::string skipReason(TestBackend backend)
{
    if (backend == TestBackend::Server && !testServer())
        return "VELMORA_TEST_PG is not set: no PostgreSQL server to test against (scripts/test.sh starts one)";
    return {};
}

// One libpq connection, for set-up and checks outside the program's own access layer.
class ServerSession
{
public:
    explicit ServerSession(const std::string& uri) : m_conn(PQconnectdb(uri.c_str()))
    {
        if (PQstatus(m_conn) != CONNECTION_OK)
            throw std::runtime_error(std::string("test server: ") + PQerrorMessage(m_conn));
        PQsetClientEncoding(m_conn, "UTF8");
    }
    ~ServerSession() { PQfinish(m_conn); }
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    std::vector<std::vector<std::string>> rows(const std::string& sql)
    {
        PGresult* r = PQexec(m_conn, sql.c_str());
        const ExecStatusType status = PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string text = PQresultErrorMessage(r);
            PQclear(r);
            throw std::runtime_error("SQL failed: " + text + "\n" + sql);
        }
        std::vector<std::vector<std::string>> out;
        for (int row = 0; row < PQntuples(r); ++row) {
            auto& values = out.emplace_back();
            for (int c = 0; c < PQnfields(r); ++c)
                values.emplace_back(PQgetisnull(r, row, c) ? "" : PQgetvalue(r, row, c));
        }
        PQclear(r);
        return out;
    }

private:
    PGconn* m_conn;
};

// A database of its own for one test, made empty: a file in a temporary folder, or a new database on the
// test server, dropped afterwards.
class TestDatabase
{
public:
    explicit TestDatabase(TestBackend backend)
        : TestDatabase(backend, backend == TestBackend::Server ? testServer() : std::nullopt)
    {
    }
    // A database of its own on the given server rather than VELMORA_TEST_PG's.
    explicit TestDatabase(const TestServer& server) : TestDatabase(TestBackend::Server, server) {}

private:
    TestDatabase(TestBackend backend, std::optional<TestServer> server)
        : m_backend(backend), m_server(std::move(server))
    {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const std::string unique =
            std::to_string(::getpid()) + "_" + std::to_string(stamp % 1000000000) + "_" + std::to_string(counter++);
        m_folder = std::filesystem::temp_directory_path() / ("velmora-db-" + unique);
        std::filesystem::create_directories(m_folder);
        if (backend == TestBackend::Server) {
            if (!m_server)
                throw std::runtime_error(skipReason(backend));
            m_database = "velmora_t_" + unique;
            ServerSession(m_server->adminUri).rows("CREATE DATABASE \"" + m_database + "\"");
        }
    }

public:
    ~TestDatabase()
    {
        m_session.reset();
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
        if (m_server) {
            try {
                ServerSession(m_server->adminUri).rows("DROP DATABASE IF EXISTS \"" + m_database + "\" WITH (FORCE)");
            } catch (...) {
            }
        }
    }
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    TestBackend backend() const { return m_backend; }
    bool isServer() const { return m_backend == TestBackend::Server; }
    // The executable's folder as the program would have it, trailing '/'.
    std::string folder() const { return m_folder.string() + "/"; }
    std::string path() const { return (m_folder / "velmdb.mdb").string(); }
    // The Data Source: the file, or the server's URI without role or password.
    std::string source() const { return isServer() ? m_server->uriOf(m_database) : path(); }
    const std::optional<TestServer>& server() const { return m_server; }

    // The connection string the settings build, with this backend's role and password.
    std::string connectionString() const
    {
        if (!isServer())
            return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + quoteValue(path()) +
                   ";Mode=Share Deny None;Jet OLEDB:Database Password=\"\"";
        return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=" + quoteValue(m_server->user) +
               ";Data Source=" + quoteValue(source()) +
               ";Mode=Share Deny None;Jet OLEDB:Database Password=" + quoteValue(m_server->password);
    }

    // The twelve tables as this backend's DDL makes them.
    std::string schema() const { return isServer() ? serverSchemaScript() : schemaScript(); }

    // Statements in this backend's own dialect, outside the program's access layer.
    void run(const std::string& sql) { rows(sql); }

    std::vector<std::vector<std::string>> rows(const std::string& sql)
    {
        if (isServer())
            return session().rows(sql);
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            throw std::runtime_error("cannot open " + path());
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

    // The number the first column of the first row gives, -1 when there is none.
    long long number(const std::string& sql)
    {
        const auto r = rows(sql);
        return r.empty() || r.front().empty() ? -1 : std::atoll(r.front().front().c_str());
    }

private:
    ServerSession& session()
    {
        if (!m_session)
            m_session = std::make_unique<ServerSession>(m_server->uriOf(m_database) + "?user=" + m_server->user +
                                                        "&password=" + m_server->password);
        return *m_session;
    }

    TestBackend m_backend;
    std::filesystem::path m_folder;
    std::optional<TestServer> m_server;
    std::string m_database;
    std::unique_ptr<ServerSession> m_session;
};

// For INSTANTIATE_TEST_SUITE_P: both backends, named in the cases' names.
#define VELMORA_INSTANTIATE_FOR_BACKENDS(Suite)                                                                        \
    INSTANTIATE_TEST_SUITE_P(                                                                                          \
        Backends, Suite,                                                                                               \
        ::testing::Values(::velmora::data::test::TestBackend::Embedded, ::velmora::data::test::TestBackend::Server),   \
        [](const auto& info) { return std::string(::velmora::data::test::backendName(info.param)); })

} // namespace velmora::data::test
