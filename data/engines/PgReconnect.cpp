// What a PgBackend does when it finds its connection to the server lost: connect again with the same settings,
// or tell in Chinese what became of the command and what to do.
#include "data/engines/PgBackend.h"

#include "data/Errors.h"
#include "data/Text.h"

#include <libpq-fe.h>

#include <poll.h>

namespace velmora::data {

namespace {

// Each message the clerk sees says what happened and what to do; the technical detail follows for the
// administrator.
constexpr const char* ReconnectFailed =
    "与数据库服务器的连接断开了，重新连接也没有成功。\n请检查服务器是否在运行、网络是否连通，然后再试一次；"
    "如果一直不行，请与管理员联系。";
constexpr const char* TransactionLost =
    "与数据库服务器的连接在一组修改的中途断开了。\n服务器已撤销这组修改，什么也没有保存。下一次操作会重新连接，"
    "请把这组修改重做一次。";
constexpr const char* MaybeApplied =
    "与数据库服务器的连接在这次操作的过程中断开了，已经重新连接。\n但这次操作可能已经完成，也可能没有完成。"
    "请先查看结果，再决定是否重做。";
constexpr const char* ReadInterrupted =
    "与数据库服务器的连接在读取数据的中途断开了，已经重新连接。\n请重新打开这些数据。";
constexpr const char* LostAgain =
    "与数据库服务器的连接断开了，重新连接之后又立刻断开。\n请检查服务器和网络，稍后再试；如果一直不行，"
    "请与管理员联系。";

std::string withDetail(const char* chinese, const std::string& detail)
{
    return std::string(chinese) + "\n(" + detail + ")";
}

} // namespace

void PgBackend::lost(bool sent, const std::string& detail)
{
    std::string why(text::trimWhitespace(detail));
    while (!why.empty() && why.back() == '.')
        why.pop_back();
    throw LostConnection(why.empty() ? "The connection to the server '" + location() + "' was lost" : why, sent,
                         m_lastTransactionStatus != PQTRANS_IDLE);
}

pg_conn* PgBackend::usable()
{
    pg_conn* connection = live();
    if (PQstatus(connection) != CONNECTION_BAD) {
        // A server that ended the session while we were idle left its goodbye, or the end of the stream, on the
        // socket: read it now, before anything of the command goes out.
        pollfd waiting{PQsocket(connection), POLLIN, 0};
        if (waiting.fd < 0 || ::poll(&waiting, 1, 0) <= 0)
            return connection;
        if (PQconsumeInput(connection) && PQstatus(connection) != CONNECTION_BAD)
            return connection;
    }
    lost(false, std::string(text::trimWhitespace(PQerrorMessage(connection))));
}

void PgBackend::reconnect(const std::string& why)
{
    m_connection.reset();
    try {
        m_connection.reset(openConnection(m_uri, m_user, m_password));
    } catch (const DatabaseError& e) {
        m_closedBecause = "The connection to the server '" + location() + "' was lost and could not be made again";
        throw DatabaseError(withDetail(ReconnectFailed, why + "; connecting again: " + e.what()),
                            ErrorKind::Connection);
    }
    // A new session: the settings of the old one, its prepared statements and what it knew of the catalogue go.
    m_serverTimeout = DefaultCommandTimeoutSeconds;
    m_insertStatements.clear();
    m_tables.clear();
    m_namesLoaded = false;
    m_lastTransactionStatus = PQTRANS_IDLE;
}

void PgBackend::recover(const LostConnection& lost, Access access)
{
    const std::string why = lost.what();
    if (lost.inTransaction) {
        // The server has undone the transaction with its session; the next command starts afresh.
        m_connection.reset();
        m_closedBecause = "The connection to the server '" + location() + "' was lost in a transaction";
        m_lastTransactionStatus = PQTRANS_IDLE;
        throw DatabaseError(withDetail(TransactionLost, why), ErrorKind::Connection);
    }
    reconnect(why);
    if (access == Access::Read && m_rowsDelivered)
        throw DatabaseError(withDetail(ReadInterrupted, why), ErrorKind::Connection);
    // Only a write none of whose requests went out is sure not to have been applied.
    if (access == Access::Write && (lost.sent || m_sentInCommand))
        throw DatabaseError(withDetail(MaybeApplied, why), ErrorKind::Connection);
}

std::string PgBackend::lostAgainMessage(const std::string& why)
{
    m_connection.reset();
    m_closedBecause = "The connection to the server '" + location() + "' was lost again";
    m_lastTransactionStatus = PQTRANS_IDLE;
    return withDetail(LostAgain, why);
}

} // namespace velmora::data
