#pragma once

#include "data/Value.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::data {

struct TableDefinition;

// The data types a result reports for its columns, with the provider's codes.
enum class AdoType : int {
    adEmpty = 0,
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBSTR = 8,
    adError = 10,
    adBoolean = 11,
    adDecimal = 14,
    adTinyInt = 16,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adBigInt = 20,
    adUnsignedBigInt = 21,
    adFileTime = 64,
    adBinary = 128,
    adChar = 129,
    adWChar = 130,
    adNumeric = 131,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adDBFileTime = 137,
    adVarNumeric = 139,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adVarBinary = 204,
    adLongVarBinary = 205,
};

// What a result tells of one of its columns.
struct ColumnDescription
{
    std::string name; // as the result names it (duplicates already told apart)
    AdoType type = AdoType::adEmpty;
    int definedSize = 0; // characters for text kinds
    int precision = 0;
    int scale = 0;
    bool updatable = false;
    bool autoIncrement = false;
    std::string baseTable;  // table the column is read from, empty when computed
    std::string baseColumn; // its name there
    // Computed, and no row gave it a value: nothing but a declaration can tell its type.
    bool allNull = false;
};

// A whole result read at once: client-side cursors hold every row.
struct ResultSet
{
    std::vector<ColumnDescription> columns;
    std::vector<std::vector<Value>> rows;
};

// Takes a result's rows one at a time, as the engine reads them.
class RowSink
{
public:
    virtual ~RowSink() = default;
    // Before the first row.
    virtual void begin(int columnCount) = 0;
    // One row, a cell per column; the cells' text is valid only during the call.
    virtual void row(std::span<const CellView> cells) = 0;
};

// The version of the database's schema this program knows and makes. Every change of the schema of ours raises
// it, through the steps of data/module/SchemaVersion.cpp: 1, the twelve tables; 2, with the tables of ours (the
// record of sign-on attempts and the disabled operators).
inline constexpr int CurrentSchemaVersion = 2;

// How long a command may run before it ends with a time-out error (ErrorKind::TimedOut), in seconds, unless
// its connection or dataset says otherwise; 0 is no limit.
inline constexpr int DefaultCommandTimeoutSeconds = 30;

// Writes rows into chosen columns of one table through one prepared statement (on the server, COPY), so that
// many rows go in without a statement compiled for each. Made by Backend::prepareInsert; used inside the
// backend's transaction, and not after the backend is gone.
class RowWriter
{
public:
    virtual ~RowWriter() = default;
    // Writes the rows, each holding a value per column in the order prepareInsert named them. Text written
    // to a binary column is taken as its bytes. A row the database refuses throws RowWriteError with its index
    // in `rows`; how much of the call was written is then undefined, so the caller rolls its transaction back.
    virtual void write(std::span<const std::vector<Value>> rows) = 0;
};

// The narrow interface between the data module and a database engine. The
// embedded engine is SQLite; nothing above this interface knows which engine
// it talks to. Every failure throws DatabaseError with the engine's text.
class Backend
{
public:
    virtual ~Backend() = default;

    // The whole table, by name.
    virtual ResultSet openTable(const std::string& table);
    // A command text as the data module stores it; the backend adapts what
    // its engine reads differently.
    virtual ResultSet openCommand(const std::string& commandText);
    // The same results with each row handed to `rows` as it is read, so that no copy of the whole result is
    // built on the way; returns the columns, described once every row is read (a computed column's type can
    // depend on its values). Each pair goes through the other by default: a backend overrides at least one of
    // openTable and readTable, and one of openCommand and readCommand.
    virtual std::vector<ColumnDescription> readTable(const std::string& table, RowSink& rows)
    {
        return deliver(openTable(table), rows);
    }
    virtual std::vector<ColumnDescription> readCommand(const std::string& commandText, RowSink& rows)
    {
        return deliver(openCommand(commandText), rows);
    }
    // Inserts one row and returns the key the database generated for it
    // (0 when the table has none).
    virtual std::int64_t insertRow(const std::string& table,
                                   const std::vector<std::pair<std::string, Value>>& values) = 0;
    // Several changes as one unit: all are written or none.
    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    // The time-out of every command from now on (0: none): a command that runs longer, waiting for a lock or
    // for a server that does not answer included, fails with ErrorKind::TimedOut and a message naming the
    // time-out. DefaultCommandTimeoutSeconds until set.
    virtual void setCommandTimeout(int seconds) = 0;

    // The database's tables (and views), as it spells them.
    virtual std::vector<std::string> tableNames();
    // Statements that return no rows, in the engine's own dialect (tables made by the set-up tool and imports).
    virtual void execute(const std::string& sql);
    // A writer of rows into these columns of the table. The default inserts row by row through insertRow.
    virtual std::unique_ptr<RowWriter> prepareInsert(const std::string& table, const std::vector<std::string>& columns);

    // Statements with parameters, one statement a call: each `?` in the text is a parameter, given in order in
    // `parameters` and bound by the engine, never written into the text. Names are written as the data module's
    // command texts write them (the server adapts them as for openCommand). Under the command time-out like
    // every other command.
    // A statement that returns rows, read whole.
    virtual ResultSet query(const std::string& sql, const std::vector<Value>& parameters);
    // A statement that returns none (INSERT, UPDATE, DELETE); returns how many rows it changed.
    virtual std::int64_t update(const std::string& sql, const std::vector<Value>& parameters);
    // Inside a transaction: waits for the writers' lock of that name and holds it until the transaction ends, so
    // that writers which must not interleave (a check and the insert it allows) take turns. The file's write
    // transaction already excludes every other writer; the server takes an advisory transaction lock.
    virtual void lockForWriting(std::string_view name);
    // Makes the table, of the schema's kinds, unless the database has one of that name.
    virtual void createTableIfMissing(const TableDefinition& table);

    // The version of the schema the database is stamped with (CurrentSchemaVersion and data/module/SchemaVersion.h):
    // a file's user_version, a server's one-row table of ours; 0 for a database never stamped.
    virtual int schemaVersion();
    // Stamps the database with the version; inside the caller's transaction, which it is part of.
    virtual void setSchemaVersion(int version);

    // Where the data lives, for messages (a database file's full path); never holds a password.
    virtual std::string location() const { return {}; }

protected:
    // Keeps every row it is handed, as a whole result's rows.
    class RowCollector final : public RowSink
    {
    public:
        explicit RowCollector(std::vector<std::vector<Value>>& rows) : m_rows(rows) {}
        void begin(int) override {}
        void row(std::span<const CellView> cells) override;

    private:
        std::vector<std::vector<Value>>& m_rows;
    };

    // The values a column without a declared type was given, by which it is described once every row is read:
    // as the embedded engine describes such a column, whichever engine read it.
    struct ValuesSeen
    {
        bool integer = false;
        bool real = false;
        bool text = false;
        bool binary = false;
        int longestText = 0; // in characters

        // An integer, a real or a text cell; any other is not counted.
        void note(const CellView& cell);
        // Bytes a long binary, else text a wide string as long as its longest value, else any real a double,
        // else integers a big integer; nothing at all a wide string of 255 (and, computed, allNull).
        void describe(ColumnDescription& c) const;
    };

    // Hands a whole result's rows over, freeing each as it goes.
    static std::vector<ColumnDescription> deliver(ResultSet result, RowSink& rows)
    {
        rows.begin(static_cast<int>(result.columns.size()));
        std::vector<CellView> cells;
        for (std::vector<Value>& row : result.rows) {
            cells.clear();
            for (const Value& value : row)
                cells.push_back(CellView::of(value));
            rows.row(cells);
            row = {};
        }
        return std::move(result.columns);
    }
};

// Connects through the provider named by an OLE DB connection string.
// executableFolder resolves a relative Data Source. Throws DatabaseError with
// a message naming the cause; nothing stays open after a failure.
std::unique_ptr<Backend> connectProvider(const std::string& connectionString, const std::string& executableFolder);

// Whether the list of a database's tables (tableNames) holds the table, in any letter case.
bool listsTable(const std::vector<std::string>& tables, std::string_view table);
bool hasTable(Backend& db, std::string_view table);

} // namespace velmora::data
