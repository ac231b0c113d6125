#pragma once

// The database fixture for both backends: an embedded database file in a folder of its own, or a database of
// its own on the test server that VELMORA_TEST_PG names (a libpq URI with a role that may create databases, and
// its password; scripts/pg-test-server.sh starts one). Without the variable the server's cases are skipped.

#include "data/Value.h"
#include "tests/support/TempFolder.h"

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {

enum class TestBackend { Embedded, Server };

const char* backendName(TestBackend backend);

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

// The server a libpq URI with role and password names, as VELMORA_TEST_PG gives one.
TestServer serverOf(const char* uri);
std::optional<TestServer> testServer();
// Why a backend's cases cannot run here, empty when they can.
std::string skipReason(TestBackend backend);
// The backend of the Qt tests that CTest runs once per backend: the server when VELMORA_TEST_BACKEND is
// "server", else the embedded file.
TestBackend fixtureBackend();

// Statements on a database file through the plain SQLite API, outside the program's access layer, the file
// made when missing; every value comes back as text ("" for NULL). std::runtime_error names the SQL.
std::vector<std::vector<std::string>> rowsOfFile(const std::string& path, const std::string& sql);
// The start-up's 22-piece connection string (settings/ConnectionSettings) with the values put in as given.
std::string startupConnectionString(const std::string& user, const std::string& source, const std::string& password,
                                    const std::string& provider = "Microsoft.Jet.OLEDB.4.0");
// A DBConn.ini in `folder` (the program's) with the [Velmora] section's three values; false when it cannot be
// written.
bool writeSettingsFile(const std::string& folder, const std::string& source, const std::string& user,
                       const std::string& password);
// The connection string of a database file that has no database password.
std::string fileConnectionString(const std::string& path);

// A shop's database file as velmora-db makes it (the twelve tables, write-ahead log) with `loginRecords` rows in
// oper, so that a copy of it takes several steps.
void makeShopFile(const std::string& path, int loginRecords);

// A value as an SQL literal that both backends read alike.
std::string sqlLiteral(const data::Value& value);

// A column of the schema given another declared type (an embedded dialect's word), dropped (no type), or added
// when its table lacks it.
struct ColumnChange
{
    std::string table;
    std::string column;
    std::optional<std::string> type;
};

// The twelve tables as the backend's DDL makes them, with the changes.
std::string schemaWith(TestBackend backend, const std::vector<ColumnChange>& changes);

// One libpq connection, for set-up and checks outside the program's own access layer.
class ServerSession
{
public:
    explicit ServerSession(const std::string& uri) : m_conn(PQconnectdb(uri.c_str()))
    {
        if (PQstatus(m_conn) != CONNECTION_OK) {
            const std::string text = PQerrorMessage(m_conn);
            PQfinish(m_conn);
            throw std::runtime_error("test server: " + text);
        }
        PQsetClientEncoding(m_conn, "UTF8");
    }
    ~ServerSession() { PQfinish(m_conn); }
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    bool connected() const { return PQstatus(m_conn) == CONNECTION_OK; }

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

// A database of its own for one test, made empty: a file in a temporary folder (`fileName` in it, by default
// velmdb.mdb, where the program finds it when that folder is its own), or a new database on the test server,
// dropped afterwards.
class TestDatabase
{
public:
    explicit TestDatabase(TestBackend backend = TestBackend::Embedded, const std::string& fileName = "velmdb.mdb");
    // A database of its own on the given server rather than VELMORA_TEST_PG's.
    explicit TestDatabase(const TestServer& server);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    bool isServer() const { return m_backend == TestBackend::Server; }
    // The executable's folder as the program would have it, trailing '/'.
    std::string folder() const { return m_folder.folder(); }
    std::string path() const { return m_path; }
    // The Data Source: the file, or the server's URI without role or password.
    std::string source() const;
    const std::optional<TestServer>& server() const { return m_server; }

    // The connection string the settings build, with this backend's role and password.
    std::string connectionString() const;
    // The same as another role of the server.
    std::string connectionStringAs(const std::string& role, const std::string& password) const;
    // A DBConn.ini in `folder` that names this database: the server's URI with its role and password, or the
    // file as Admin without a password.
    bool writeSettings(const std::string& folder) const;
    // velmora-db's words for this database: the file, or the URI with --db-user and --db-password.
    std::vector<std::string> toolTarget() const;

    // The twelve tables as this backend's DDL makes them.
    std::string schema() const;
    // Statements in this backend's own dialect, outside the program's access layer.
    void run(const std::string& sql) { rows(sql); }
    std::vector<std::vector<std::string>> rows(const std::string& sql);
    // The number the first column of the first row gives, -1 when there is none.
    long long number(const std::string& sql);

    // One row of OperatorTable (its name also as the real name, oper).
    void addOperator(const std::string& username, const data::Value& userid, const data::Value& password,
                     const data::Value& able);
    // The file only: the write-ahead log that velmora-db gives a file, and the verifier of a database password
    // that velmora-db create --password installs. The server has neither.
    void useWriteAheadLog();
    void protectWithPassword(const std::string& password);
    // The schema version the database is stamped with (the file's user_version, the server's table of ours; 0
    // when never stamped), read and written outside the program's access layer.
    int schemaVersion();
    void stampSchemaVersion(int version);

private:
    TestDatabase(TestBackend backend, std::optional<TestServer> server, const std::string& fileName);
    ServerSession& session();

    TestBackend m_backend;
    TempFolder m_folder;
    std::string m_path;
    std::optional<TestServer> m_server;
    std::string m_database;
    std::unique_ptr<ServerSession> m_session;
};

// For INSTANTIATE_TEST_SUITE_P: both backends, named in the cases' names.
#define VELMORA_INSTANTIATE_FOR_BACKENDS(Suite)                                                                        \
    INSTANTIATE_TEST_SUITE_P(                                                                                          \
        Backends, Suite,                                                                                               \
        ::testing::Values(::velmora::test::TestBackend::Embedded, ::velmora::test::TestBackend::Server),               \
        [](const auto& info) { return std::string(::velmora::test::backendName(info.param)); })

} // namespace velmora::test
