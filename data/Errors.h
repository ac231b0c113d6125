#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace velmora::data {

// What a failure of the database is, for the code and the tests that act on it; the message is for people.
enum class ErrorKind {
    Other,       // none of the below (a closed dataset, a transaction already under way, ...)
    NotFound,    // a file, database, table, column, field or component that is not there
    Locked,      // another connection holds the database (busy, a lock, a deadlock)
    DiskFull,    // the disk or the database has no room left
    Io,          // the disk or the file system refused a read or a write
    Permission,  // refused: an account, role or password, a right to the file, a read-only database or field
    Constraint,  // a value or row the table does not take (a required value, a range, a length, a rule)
    Malformed,   // a connection string or command text that does not follow its rules
    Unsupported, // what the program does not serve: another provider, a column type or kind it cannot bind
    Damaged,     // a file that is not a database, or a damaged one
    Connection,  // the server cannot be reached, refused the connection or dropped it
    TimedOut,    // a command did not finish within its time-out (a lock held too long, a slow or stopped server)
};

// The cause of a DatabaseError: its kind and, where an engine reported it, the engine's own code.
struct ErrorCause
{
    ErrorCause() = default;
    ErrorCause(ErrorKind kind, int engineCode = 0, std::string sqlState = {})
        : kind(kind), engineCode(engineCode), sqlState(std::move(sqlState))
    {
    }

    ErrorKind kind = ErrorKind::Other;
    int engineCode = 0;   // SQLite's extended result code; 0 when SQLite gave none
    std::string sqlState; // the server's SQLSTATE ("42P01"); empty when the server gave none
};

// A failure of the database or of a dataset; the text is what the operator
// sees (UTF-8), for instance "tkc: Field '购进单价' not found".
class DatabaseError : public std::runtime_error
{
public:
    explicit DatabaseError(const std::string& message, ErrorCause cause = {})
        : std::runtime_error(message), m_cause(std::move(cause))
    {
    }

    const ErrorCause& cause() const noexcept { return m_cause; }
    ErrorKind kind() const noexcept { return m_cause.kind; }

private:
    ErrorCause m_cause;
};

// The line in Chinese a clerk reads first when a command fails while working, saying what happened and what to do;
// the engine's technical text follows on the next line for the administrator. Null for the kinds that have no
// general line (a value the table does not take, a name not found: the callers say more about those).
inline const char* clerkLine(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::Locked:
        return "数据库正被另一个用户占用，这次操作没有完成。请稍后再试一次；如果一再发生，请与管理员联系。";
    case ErrorKind::DiskFull:
        return "数据库所在的磁盘已满，这次操作没有保存。请与管理员联系。";
    case ErrorKind::Io:
        return "读写数据库时磁盘出错，这次操作没有保存。请与管理员联系。";
    case ErrorKind::Permission:
        return "没有权限做这次操作（或数据库是只读的），这次操作没有保存。请与管理员联系。";
    case ErrorKind::Damaged:
        return "数据库已损坏，这次操作没有完成。请与管理员联系，从备份恢复。";
    default:
        return nullptr;
    }
}

// `technical` with the clerk's line of its kind before it, when the kind has one.
inline std::string withClerkLine(ErrorKind kind, const std::string& technical)
{
    const char* line = clerkLine(kind);
    return line ? std::string(line) + "\n" + technical : technical;
}

// The text of a command ended by its time-out, the same for every backend: what the clerk reads, in Chinese, then
// the technical line "Query timeout expired: the command on '<where>' did not finish within 30 seconds[; <detail>]."
inline std::string commandTimeoutMessage(std::string_view where, int seconds, std::string_view detail = {})
{
    std::string text = "操作超时：数据库在 " + std::to_string(seconds) +
                       " 秒内没有完成这个操作。请稍后再试一次；如果一再发生，请与管理员联系。\n"
                       "Query timeout expired: the command on '" +
                       std::string(where) + "' did not finish within " + std::to_string(seconds) +
                       (seconds == 1 ? " second" : " seconds");
    if (!detail.empty())
        text += "; " + std::string(detail);
    return text + ".";
}

// A row that the database refused while a RowWriter wrote a batch: the database's failure, and the row's index
// in the batch (none when the database did not tell which row it was).
class RowWriteError : public DatabaseError
{
public:
    RowWriteError(const DatabaseError& failure, std::optional<std::size_t> row)
        : DatabaseError(failure.what(), failure.cause()), m_row(row)
    {
    }

    std::optional<std::size_t> row() const noexcept { return m_row; }

private:
    std::optional<std::size_t> m_row;
};

// A field value that cannot be read as the type asked for ("'abc' is not a
// valid integer value").
class ConversionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace velmora::data
