// A PgBackend's connection: made with the program's session settings on top of the URI's, and the server's
// refusals read as the program's kinds of error.
#include "data/engines/PgBackend.h"

#include "data/Errors.h"
#include "data/Text.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <utility>

namespace velmora::data {

void PgBackend::Closer::operator()(pg_conn* c) const
{
    PQfinish(c);
}

void PgBackend::ResultClearer::operator()(pg_result* r) const
{
    PQclear(r);
}

PgBackend::PgBackend(pg_conn* connection, std::string uri, std::string user, std::string password)
    : m_connection(connection), m_uri(std::move(uri)), m_user(std::move(user)), m_password(std::move(password))
{
}

PgBackend::~PgBackend() = default; // the server rolls back what is left open

namespace {

// What the URI asks for itself among the settings the program applies on top: its options and its
// client_encoding (empty when it asks nothing).
struct UriSettings
{
    std::string options;
    std::string clientEncoding;
};

UriSettings uriSettings(const std::string& uri, const std::string& shown)
{
    char* error = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(uri.c_str(), &error);
    if (!parsed) {
        const std::string why = error ? std::string(text::trimWhitespace(error)) : "out of memory";
        PQfreemem(error);
        throw DatabaseError("Could not connect to '" + shown + "': " + why, ErrorKind::Malformed);
    }
    UriSettings settings;
    for (const PQconninfoOption* o = parsed; o->keyword; ++o) {
        if (!o->val)
            continue;
        if (std::string_view(o->keyword) == "options")
            settings.options = o->val;
        else if (std::string_view(o->keyword) == "client_encoding")
            settings.clientEncoding = o->val;
    }
    PQconninfoFree(parsed);
    return settings;
}

// Every text is UTF-8 to the program; "auto" leaves the choice to the program.
bool isUtf8Encoding(std::string_view name)
{
    for (std::string_view accepted : {"UTF8", "UTF-8", "UNICODE", "auto"})
        if (text::equalsIgnoreCase(text::trimWhitespace(name), accepted))
            return true;
    return false;
}

} // namespace

std::unique_ptr<PgBackend> PgBackend::connect(const std::string& uri, const std::string& user,
                                              const std::string& password)
{
    return std::unique_ptr<PgBackend>(new PgBackend(openConnection(uri, user, password), uri, user, password));
}

pg_conn* PgBackend::openConnection(const std::string& uri, const std::string& user, const std::string& password)
{
    const std::string shown = redactedServerUri(uri);
    const UriSettings asked = uriSettings(uri, shown);
    if (!asked.clientEncoding.empty() && !isUtf8Encoding(asked.clientEncoding))
        throw DatabaseError("Could not connect to '" + shown +
                                "': the URI asks for client_encoding=" + asked.clientEncoding +
                                ", but the program reads and writes text only as UTF-8 (the server converts for "
                                "it); leave client_encoding out of the URI or write UTF8.",
                            ErrorKind::Unsupported);
    // libpq takes the last value of a parameter. Before the URI: the role and password of the settings, which a
    // role or password the URI writes itself overrides. After it: what the program needs of every session, the
    // URI's own options kept in front of ours (the server applies them in order, so ours count).
    const std::string connectTimeout = std::to_string(ConnectTimeoutSeconds);
    std::string options = "-c DateStyle=ISO,YMD -c IntervalStyle=postgres -c statement_timeout=" +
                          std::to_string(DefaultCommandTimeoutSeconds * 1000);
    if (!text::trimWhitespace(asked.options).empty())
        options = asked.options + " " + options;
    std::vector<const char*> keys{"connect_timeout"};
    std::vector<const char*> values{connectTimeout.c_str()};
    if (!user.empty()) {
        keys.push_back("user");
        values.push_back(user.c_str());
    }
    if (!password.empty()) {
        keys.push_back("password");
        values.push_back(password.c_str());
    }
    for (const auto& [key, value] : {std::pair<const char*, const char*>{"dbname", uri.c_str()},
                                     {"client_encoding", "UTF8"},
                                     {"options", options.c_str()},
                                     {"fallback_application_name", "velmora"}}) {
        keys.push_back(key);
        values.push_back(value);
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);

    std::unique_ptr<pg_conn, Closer> connection(PQconnectdbParams(keys.data(), values.data(), 1));
    if (!connection)
        throw DatabaseError("Could not connect to '" + shown + "': out of memory.", ErrorKind::Other);
    if (PQstatus(connection.get()) != CONNECTION_OK)
        // A server that asks for a password nobody gave refuses as a wrong one would: a question of rights.
        throw DatabaseError("Could not connect to '" + shown +
                                "': " + std::string(text::trimWhitespace(PQerrorMessage(connection.get()))),
                            PQconnectionNeedsPassword(connection.get()) ? ErrorKind::Permission
                                                                        : ErrorKind::Connection);
    if (std::string_view(pg_encoding_to_char(PQclientEncoding(connection.get()))) != "UTF8")
        throw DatabaseError("Could not connect to '" + shown + "': the server cannot send text as UTF-8.",
                            ErrorKind::Unsupported);
    // Requests are sent and answers awaited with a deadline (exchange), never by blocking in libpq.
    PQsetnonblocking(connection.get(), 1);
    // What the server says outside an answer (its goodbye when it shuts down, a NOTICE) is no one's to print.
    PQsetNoticeProcessor(
        connection.get(), [](void*, const char*) {}, nullptr);
    return connection.release();
}

ErrorCause serverCause(std::string_view sqlState)
{
    ErrorCause cause{ErrorKind::Other, 0, std::string(sqlState)};
    const std::string_view errorClass = sqlState.substr(0, 2);
    auto is = [&](std::initializer_list<std::string_view> states) {
        return std::find(states.begin(), states.end(), sqlState) != states.end();
    };
    if (errorClass == "08" || is({"57P01", "57P02", "57P03"}))
        cause.kind = ErrorKind::Connection;
    else if (errorClass == "28" || is({"42501", "25006"}))
        cause.kind = ErrorKind::Permission;
    else if (errorClass == "23" || errorClass == "22")
        cause.kind = ErrorKind::Constraint;
    else if (is({"42P01", "42703", "3D000", "3F000", "42883", "42704"}))
        cause.kind = ErrorKind::NotFound;
    else if (is({"42601", "42602"}))
        cause.kind = ErrorKind::Malformed;
    else if (is({"53100"}))
        cause.kind = ErrorKind::DiskFull;
    else if (is({"55P03", "40P01", "40001"}))
        cause.kind = ErrorKind::Locked;
    else if (is({"58030"}))
        cause.kind = ErrorKind::Io;
    else if (is({"XX001", "XX002"}))
        cause.kind = ErrorKind::Damaged;
    return cause;
}

void PgBackend::fail(const pg_result* result) const
{
    pg_conn* connection = live();
    std::string text;
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    ErrorCause cause = serverCause(state ? state : "");
    // No answer at all: the connection is gone.
    if (!state && PQstatus(connection) == CONNECTION_BAD)
        cause.kind = ErrorKind::Connection;
    // The statement time-out cancels with the same code as an administrator's cancel; only the time tells.
    const auto ran = std::chrono::steady_clock::now() - m_sent;
    if (cause.sqlState == "57014" && m_serverTimeout > 0 &&
        ran >= std::chrono::seconds(m_serverTimeout) - std::chrono::milliseconds(100)) {
        cause.kind = ErrorKind::TimedOut;
        throw DatabaseError(commandTimeoutMessage(location(), m_serverTimeout, "the server canceled it"),
                            std::move(cause));
    }
    if (result) {
        if (const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY))
            text = primary;
        if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL))
            text += std::string(text.empty() ? "" : " ") + detail;
    }
    if (text.empty())
        text = std::string(data::text::trimWhitespace(PQerrorMessage(connection)));
    if (text.empty())
        text = "The server did not answer.";
    throw DatabaseError(withClerkLine(cause.kind, text), std::move(cause));
}

} // namespace velmora::data
