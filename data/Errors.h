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
