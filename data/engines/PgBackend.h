#pragma once

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/Schema.h"
#include "data/engines/PgCommandAdapter.h"
#include "data/engines/ServerUri.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct pg_conn;
struct pg_result;

namespace velmora::data {

// Seconds a connect may take (libpq's connect_timeout, for each address the server's name has): a server that
// cannot be reached, or does not answer, is a failed connect after this long. A URI's own connect_timeout wins.
inline constexpr int ConnectTimeoutSeconds = 5;

// Seconds the program waits for a server's answer beyond the command time-out before it gives the server up:
// the server's own statement time-out ends a slow command first; this ends the wait for a server that cannot
// answer at all (stopped, or the network gone).
inline constexpr int AnswerGraceSeconds = 2;

// Backend over one connection to a PostgreSQL server. The server's catalogue describes the columns as the
// embedded dialect would (see the README, "Shared server (PostgreSQL)"); command texts written for the
// embedded engine are adapted before they run (names the server would fold to lower case are quoted).
class PgBackend final : public Backend
{
public:
    // Connects to the server and database the URI names, as role `user` with `password` (each left to
    // libpq's defaults when empty); a role or password written in the URI wins over them. Both travel as
    // connection parameters, never inside a text. The program's own session settings (ISO dates, the command
    // time-out, UTF-8) apply on top of the URI's options; a client_encoding other than UTF-8 is refused by
    // name. Throws DatabaseError with the server's or libpq's message (ErrorKind::Permission when the server
    // wants a password nobody gave); nothing stays open after a failure.
    static std::unique_ptr<PgBackend> connect(const std::string& uri, const std::string& user,
                                              const std::string& password);
    ~PgBackend() override;
    PgBackend(const PgBackend&) = delete;
    PgBackend& operator=(const PgBackend&) = delete;

    std::vector<ColumnDescription> readTable(const std::string& table, RowSink& rows) override;
    std::vector<ColumnDescription> readCommand(const std::string& commandText, RowSink& rows) override;
    std::int64_t insertRow(const std::string& table, const std::vector<std::pair<std::string, Value>>& values) override;
    void beginTransaction() override;
    void commit() override;
    void rollback() override;
    // The server's statement time-out ends a command that runs too long, a lock wait included, and leaves the
    // connection usable; a server that sends nothing for the time-out and AnswerGraceSeconds more is given up
    // and the connection closed (the next command connects again).
    void setCommandTimeout(int seconds) override { m_commandTimeout = seconds; }

    // Runs statements that return no rows, as written (schema set-up by tools and tests).
    void execute(const std::string& sql) override;
    // The command text as this server must read it to mean what the embedded engine reads.
    std::string adaptCommand(std::string_view commandText);
    // The database's tables and views visible without a schema name.
    std::vector<std::string> tableNames() override;
    // Writes through COPY, a batch at a time under a savepoint; a refused batch is written again row by row
    // to find the row the server refuses.
    std::unique_ptr<RowWriter> prepareInsert(const std::string& table,
                                             const std::vector<std::string>& columns) override;

    // `?` parameters are numbered as the server reads them and sent apart from the text, typed by the server
    // from where they stand.
    ResultSet query(const std::string& sql, const std::vector<Value>& parameters) override;
    std::int64_t update(const std::string& sql, const std::vector<Value>& parameters) override;
    // An advisory transaction lock, the name's hash as its key.
    void lockForWriting(std::string_view name) override;
    void createTableIfMissing(const TableDefinition& table) override;
    // One row in a table of ours, SchemaVersionTable; none there reads as 0.
    int schemaVersion() override;
    void setSchemaVersion(int version) override;
    // The role password as the server keeps it (SCRAM-SHA-256), computed here so that the plain password never
    // travels to the server, nor into a statement or a server log.
    std::string encryptedRolePassword(const std::string& role, const std::string& password);

    // The server's URI without a password it may carry.
    std::string location() const override { return redactedServerUri(m_uri); }

private:
    struct Closer
    {
        void operator()(pg_conn* c) const;
    };
    struct ResultClearer
    {
        void operator()(pg_result* r) const;
    };
    using Result = std::unique_ptr<pg_result, ResultClearer>;

    struct ColumnInfo
    {
        std::string name;
        unsigned baseType = 0; // a domain's base type
        int typmod = -1;
        std::string typeName; // as declared, for messages
        bool autoIncrement = false;
        bool ansi = false; // 8-bit text, marked by the column's comment
    };
    struct TableInfo
    {
        std::string name;
        std::unordered_map<int, ColumnInfo> columns; // by attribute number
        std::vector<int> order;                      // attribute numbers in table order
    };

    class CopyWriter;

    PgBackend(pg_conn* connection, std::string uri, std::string user, std::string password);
    // A new connection as connect() makes one; throws as connect() does.
    static pg_conn* openConnection(const std::string& uri, const std::string& user, const std::string& password);

    // A command that finds the connection lost (closed by the server, a restart, an administrator, the network,
    // or given up after a time-out) connects once more with the same settings and is run again when nothing of it
    // can have been applied: a read that handed no row on, or a write none of whose requests had been sent, outside
    // a transaction. Otherwise it fails with a message in Chinese that says what became of it and what to do, the
    // technical detail after it. Commands inside a command leave this to the outermost.
    enum class Access { Read, Write };
    template <typename Body> auto command(Access access, Body&& body) -> decltype(body());
    // Thrown inside a command when the connection is found lost; what the command did so far decides the rest.
    struct LostConnection : DatabaseError
    {
        LostConnection(const std::string& detail, bool sent, bool inTransaction)
            : DatabaseError(detail, ErrorKind::Connection), sent(sent), inTransaction(inTransaction)
        {
        }
        bool sent;          // the request under way may have reached the server
        bool inTransaction; // a transaction was open on the connection
    };
    // What follows the loss: the connection made again, or the command's final message thrown.
    void recover(const LostConnection& lost, Access access);
    void reconnect(const std::string& why);
    // The message of a command that lost its connection again after connecting anew; the connection is dropped.
    std::string lostAgainMessage(const std::string& why);
    [[noreturn]] void lost(bool sent, const std::string& detail);
    // The open connection, ready for a request: it throws LostConnection for one that is closed, or that the server
    // ended while it was idle (its goodbye, or the end of the stream, waits unread on the socket).
    pg_conn* usable();
    // The open connection, for its messages; LostConnection when a time-out has closed it.
    pg_conn* live() const;
    // Sends one request through `send` (a PQsend… call) and waits for its answer: the last result, as PQexec
    // gives it, or null when nothing could be sent. With `eachRow`, the rows come one by one as the server sends
    // them (single-row mode), each handed to it and freed, and the last result holds none.
    Result exchange(const std::function<int(pg_conn*)>& send,
                    const std::function<void(const pg_result*)>& eachRow = {});
    // exchange's two halves: sending what libpq holds of the request, and the results it brings (stopping at a
    // COPY's request for rows).
    bool flushRequest(std::chrono::steady_clock::time_point& deadline);
    Result collect(std::chrono::steady_clock::time_point& deadline,
                   const std::function<void(const pg_result*)>& eachRow);
    // COPY … FROM STDIN with these rows in its text format, on the same road and under the same deadline as every
    // other request; the server's last result.
    Result copyIn(const std::string& sql, std::string_view rows);
    // Waits until the connection's socket is ready for `events` or bytes arrive; gives the server up when
    // nothing comes for the time-out and the grace.
    void await(short events, std::chrono::steady_clock::time_point& deadline);
    std::chrono::steady_clock::duration answerLimit() const;
    void applyStatementTimeout();
    [[noreturn]] void giveUp();

    Result run(const std::string& sql, const std::vector<const char*>& parameters = {});
    [[noreturn]] void fail(const pg_result* result) const;
    const TableInfo& tableInfo(unsigned oid);
    void loadNames();
    unsigned tableOid(std::string_view name); // 0 when the database has no such table
    // The table a write names, looked up again once when not known; NotFound when there is none.
    const TableInfo& writtenTable(const std::string& name);
    // Its column of that name, exact or else in another letter case; null when it has none.
    static const ColumnInfo* columnNamed(const TableInfo& table, std::string_view name);
    // Prepares a statement that returns rows and describes it; with checkRows, one that would not is refused
    // before it runs.
    Result prepareQuery(const std::string& sql, bool checkRows);
    // Runs the prepared statement its description belongs to, streaming its rows into `rows`.
    std::vector<ColumnDescription> read(const pg_result* description, std::string_view commandText, RowSink& rows,
                                        const std::vector<const char*>& parameters = {});
    // A statement with `?` parameters as the server reads it, and its parameters as texts (null for NULL).
    std::string parameterised(const std::string& sql, const std::vector<Value>& parameters,
                              std::vector<std::optional<std::string>>& texts);
    std::vector<ColumnDescription> query(const std::string& sql, std::string_view givenText, bool checkRows,
                                         RowSink& rows);

    std::unique_ptr<pg_conn, Closer> m_connection;
    std::string m_uri;
    // The settings a lost connection is made again with.
    std::string m_user;
    std::string m_password;
    // What the command under way has done so far, for its repetition.
    int m_commandDepth = 0;
    bool m_sentInCommand = false;    // a request of it went to the server
    bool m_rowsDelivered = false;    // a row of it was handed on
    int m_lastTransactionStatus = 0; // PQtransactionStatus after the last answer (0: idle)
    int m_commandTimeout = DefaultCommandTimeoutSeconds;
    int m_serverTimeout = DefaultCommandTimeoutSeconds; // the session's statement_timeout, in seconds
    bool m_settingTimeout = false;
    std::string m_closedBecause; // why there is no connection, for the message of the command that finds none
    std::chrono::steady_clock::time_point m_sent;     // when the request under way was sent
    std::unordered_map<unsigned, TableInfo> m_tables; // by table OID
    bool m_namesLoaded = false;
    CatalogueSnapshot m_names;         // what adaptCommand reads
    std::vector<unsigned> m_tableOids; // of m_names.tables, in the same order
    // insertRow's statements, prepared once each on this connection: its INSERT text -> the statement's name.
    std::unordered_map<std::string, std::string> m_insertStatements;
};

// CREATE TABLE of one table for the server, with the comments that mark 8-bit text columns.
std::string serverCreateTableSql(const TableDefinition& table);
// Every table's CREATE TABLE for the server, one script.
std::string serverSchemaScript();

// The cause of a failure the server reported with this SQLSTATE.
ErrorCause serverCause(std::string_view sqlState);

// The table of one row in which a server's database keeps the version of its schema.
inline constexpr const char* SchemaVersionTable = "velmora_schema_version";

// A column comment that marks 8-bit text (the first word of the comment, any letter case).
inline constexpr std::string_view AnsiTextMark = "ansi";

} // namespace velmora::data
