// The one road of every request to the server: sent and answered without blocking in libpq, each wait bounded
// by the command's time-out and its grace (await), COPY's rows included; a connection found lost is reported as
// such (LostConnection) for the command to decide what follows.
#include "data/engines/PgBackend.h"

#include "data/Errors.h"
#include "data/Text.h"

#include <libpq-fe.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>

namespace velmora::data {

pg_conn* PgBackend::live() const
{
    if (!m_connection)
        const_cast<PgBackend*>(this)->lost(false, m_closedBecause);
    return m_connection.get();
}

std::chrono::steady_clock::duration PgBackend::answerLimit() const
{
    return std::chrono::seconds(m_commandTimeout + AnswerGraceSeconds);
}

void PgBackend::applyStatementTimeout()
{
    const int wanted = std::max(m_commandTimeout, 0);
    // Outside a transaction, so that no rollback takes the setting back.
    if (m_settingTimeout || wanted == m_serverTimeout || PQtransactionStatus(m_connection.get()) != PQTRANS_IDLE)
        return;
    m_settingTimeout = true;
    try {
        run("SET statement_timeout = " + std::to_string(wanted * 1000));
    } catch (...) {
        m_settingTimeout = false;
        throw;
    }
    m_settingTimeout = false;
    m_serverTimeout = wanted;
}

void PgBackend::giveUp()
{
    const int seconds = m_commandTimeout;
    m_connection.reset(); // PQfinish only queues its goodbye: it never waits for the server
    m_closedBecause = "The connection to the server '" + location() + "' was closed after a command got no answer";
    throw DatabaseError(
        commandTimeoutMessage(location(), seconds, "the server gave no answer, and the connection to it is closed"),
        ErrorKind::TimedOut);
}

void PgBackend::await(short events, std::chrono::steady_clock::time_point& deadline)
{
    pollfd watched{PQsocket(m_connection.get()), events, 0};
    if (watched.fd < 0)
        return; // libpq tells what went wrong
    for (;;) {
        int milliseconds = -1;
        if (m_commandTimeout > 0) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero())
                giveUp();
            milliseconds = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
        }
        const int ready = ::poll(&watched, 1, milliseconds);
        if (ready > 0) {
            // The server is there: bytes came or went, and the wait starts again. A long result arrives in
            // many parts; only silence counts.
            deadline = std::chrono::steady_clock::now() + answerLimit();
            return;
        }
        if (ready < 0 && errno != EINTR)
            return;
    }
}

PgBackend::Result PgBackend::exchange(const std::function<int(pg_conn*)>& send,
                                      const std::function<void(const pg_result*)>& eachRow)
{
    pg_conn* connection = usable();
    applyStatementTimeout();
    m_sent = std::chrono::steady_clock::now();
    auto deadline = m_sent + answerLimit();
    m_sentInCommand = true;
    Result answer;
    if (send(connection)) {
        // Rows one by one, so that no copy of the whole result is held beside the rows it becomes.
        if (eachRow)
            PQsetSingleRowMode(connection);
        if (flushRequest(deadline))
            answer = collect(deadline, eachRow);
    }
    if (PQstatus(connection) == CONNECTION_BAD) {
        const char* state = answer ? PQresultErrorField(answer.get(), PG_DIAG_SQLSTATE) : nullptr;
        const char* primary = answer ? PQresultErrorField(answer.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        lost(true, primary ? std::string(primary) + (state ? " (" + std::string(state) + ")" : "")
                           : std::string(text::trimWhitespace(PQerrorMessage(connection))));
    }
    m_lastTransactionStatus = PQtransactionStatus(connection);
    return answer;
}

bool PgBackend::flushRequest(std::chrono::steady_clock::time_point& deadline)
{
    pg_conn* connection = m_connection.get();
    // A request larger than the socket's buffer goes out in parts.
    for (;;) {
        const int flushed = PQflush(connection);
        if (flushed == 0)
            return true;
        if (flushed < 0)
            return false;
        await(POLLIN | POLLOUT, deadline);
        if (!PQconsumeInput(connection))
            return false;
    }
}

PgBackend::Result PgBackend::collect(std::chrono::steady_clock::time_point& deadline,
                                     const std::function<void(const pg_result*)>& eachRow)
{
    pg_conn* connection = m_connection.get();
    // Every result of the request, keeping the last, as PQexec does. A row the caller cannot take still lets the
    // rest arrive, so that the connection is ready for the next request.
    Result last;
    std::exception_ptr rowFailure;
    for (;;) {
        while (PQisBusy(connection)) {
            await(POLLIN, deadline);
            if (!PQconsumeInput(connection))
                break; // the connection failed: PQgetResult says how
        }
        Result next(PQgetResult(connection));
        if (!next)
            break;
        if (eachRow && PQresultStatus(next.get()) == PGRES_SINGLE_TUPLE) {
            m_rowsDelivered = true;
            if (!rowFailure) {
                try {
                    eachRow(next.get());
                } catch (...) {
                    rowFailure = std::current_exception();
                }
            }
            continue;
        }
        const ExecStatusType status = PQresultStatus(next.get());
        last = std::move(next);
        // The server waits for the rows of a COPY: nothing more comes until they are sent.
        if (status == PGRES_COPY_IN || PQstatus(connection) == CONNECTION_BAD)
            break;
    }
    if (rowFailure)
        std::rethrow_exception(rowFailure);
    return last;
}

PgBackend::Result PgBackend::copyIn(const std::string& sql, std::string_view rows)
{
    Result start = exchange([&](pg_conn* c) { return PQsendQuery(c, sql.c_str()); });
    if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN)
        return start;
    pg_conn* connection = m_connection.get();
    auto deadline = std::chrono::steady_clock::now() + answerLimit();
    // Without blocking, libpq takes the rows while its buffer has room (1) and refuses them while the socket
    // is full (0): then wait for the server to read, as for any request.
    constexpr std::size_t Piece = 1 << 16;
    const char* failure = nullptr;
    for (std::size_t sent = 0; sent < rows.size() && !failure;) {
        const std::size_t size = std::min(Piece, rows.size() - sent);
        const int taken = PQputCopyData(connection, rows.data() + sent, static_cast<int>(size));
        if (taken == 1) {
            sent += size;
        } else if (taken < 0) {
            failure = "the rows could not be sent";
        } else {
            await(POLLIN | POLLOUT, deadline);
            if (!PQconsumeInput(connection) || PQflush(connection) < 0)
                failure = "the rows could not be sent";
        }
    }
    for (;;) {
        const int ended = PQputCopyEnd(connection, failure);
        if (ended != 0)
            break;
        await(POLLIN | POLLOUT, deadline);
        if (!PQconsumeInput(connection))
            break; // PQgetResult says how
    }
    if (!flushRequest(deadline))
        return Result();
    return collect(deadline, {});
}

PgBackend::Result PgBackend::run(const std::string& sql, const std::vector<const char*>& parameters)
{
    Result r = exchange([&](pg_conn* connection) {
        return parameters.empty() ? PQsendQuery(connection, sql.c_str())
                                  : PQsendQueryParams(connection, sql.c_str(), static_cast<int>(parameters.size()),
                                                      nullptr, parameters.data(), nullptr, nullptr, 0);
    });
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(r.get());
    return r;
}

} // namespace velmora::data
