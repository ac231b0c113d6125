#include "data/engines/SqliteBackend.h"

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/ExactAggregates.h"
#include "data/engines/SchemaDialect.h"

#include <sqlite3.h>

#include <chrono>

namespace velmora::data {

void SqliteCloser::operator()(sqlite3* db) const
{
    sqlite3_close_v2(db);
}

void StatementFinalizer::operator()(sqlite3_stmt* s) const
{
    sqlite3_finalize(s);
}

namespace {

// ---- column descriptions -------------------------------------------------

// A cell of a BCD column as the decimal it stands for: an integer exactly, a REAL as the decimal of the
// column's scale nearest to it, text that is a number from its digits. Anything else stays as it is.
void readDecimal(CellView& cell, int scale)
{
    std::optional<Decimal> decimal;
    switch (cell.type) {
    case CellView::Type::Integer:
        decimal = Decimal(cell.integer);
        break;
    case CellView::Type::Double:
        decimal = Decimal::fromDouble(cell.number, scale);
        break;
    case CellView::Type::Text:
        decimal = Decimal::parse(text::trimWhitespace(cell.text), scale);
        break;
    default:
        break;
    }
    if (decimal) {
        cell.type = CellView::Type::Decimal;
        cell.decimal = *decimal;
    }
}

// The REAL the file keeps a decimal of a BCD column as. SQLite has no decimal type: a value that would not
// read back as itself (beyond about 15 significant digits) is refused rather than changed.
double fileReal(const std::string& table, const std::string& column, const Decimal& value, int scale)
{
    if (const std::optional<Decimal> rounded = value.rounded(scale)) {
        const double real = rounded->toDouble();
        if (const std::optional<Decimal> back = Decimal::fromDouble(real, scale); back && *back == *rounded)
            return real;
    }
    throw DatabaseError("Column '" + column + "' of table '" + table + "' cannot keep " + value.toString() +
                            ": a database file keeps a decimal as a floating-point number, exact to 15 significant "
                            "digits (a PostgreSQL server keeps every digit).",
                        ErrorKind::Constraint);
}

// A value bound as the file keeps it: a decimal of a BCD column (scale >= 0) as the REAL fileReal gives, text into
// a binary column as a blob. Text is bound without a copy, so the value must outlive the statement's step.
int bindFileValue(sqlite3_stmt* st, int p, const Value& v, int scale, bool binary, const std::string& table,
                  const std::string& column)
{
    if (const auto* x = std::get_if<std::int64_t>(&v))
        return sqlite3_bind_int64(st, p, *x);
    if (const auto* d = std::get_if<double>(&v))
        return sqlite3_bind_double(st, p, *d);
    if (const auto* b = std::get_if<bool>(&v))
        return sqlite3_bind_int(st, p, *b ? 1 : 0);
    if (const auto* x = std::get_if<Decimal>(&v)) {
        if (scale >= 0)
            return sqlite3_bind_double(st, p, fileReal(table, column, *x, scale));
        const std::string exact = x->toString();
        return sqlite3_bind_text64(st, p, exact.data(), exact.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    if (const auto* t = std::get_if<std::string>(&v)) {
        if (binary)
            return sqlite3_bind_blob64(st, p, t->data(), t->size(), SQLITE_STATIC);
        return sqlite3_bind_text64(st, p, t->data(), t->size(), SQLITE_STATIC, SQLITE_UTF8);
    }
    return sqlite3_bind_null(st, p);
}

bool onlyBlanksOrComments(std::string_view rest)
{
    for (const SqlPiece& t : sqlTokens(rest)) {
        if (!t.isPunct(';'))
            return false;
    }
    return true;
}

} // namespace

namespace {

// How often a running statement looks at its deadline, in steps of SQLite's virtual machine: thousands of steps
// take microseconds, so the check costs nothing and a command ends within a moment of its time-out.
constexpr int StepsBetweenLooks = 4096;

int stopAtDeadline(void* context)
{
    auto* deadline = static_cast<CommandDeadline*>(context);
    if (!deadline->running || std::chrono::steady_clock::now() < deadline->at)
        return 0;
    deadline->expired = true;
    return 1; // SQLite interrupts the statement
}

} // namespace

// The time-out of one command, from its first call into the engine until its last row is read.
class SqliteBackend::CommandClock
{
public:
    explicit CommandClock(SqliteBackend& backend) : m_backend(backend)
    {
        if (m_backend.m_commandDepth++ > 0)
            return;
        CommandDeadline& deadline = m_backend.m_deadline;
        deadline = {};
        if (m_backend.m_commandTimeout > 0) {
            deadline.at = std::chrono::steady_clock::now() + std::chrono::seconds(m_backend.m_commandTimeout);
            deadline.running = true;
        }
    }
    ~CommandClock()
    {
        if (--m_backend.m_commandDepth == 0)
            m_backend.m_deadline.running = false;
    }
    CommandClock(const CommandClock&) = delete;
    CommandClock& operator=(const CommandClock&) = delete;

private:
    SqliteBackend& m_backend;
};

SqliteBackend::SqliteBackend(SqliteHandle db, std::string path) : m_db(std::move(db)), m_path(std::move(path))
{
    setBusyTimeout(m_db.get(), &m_deadline);
    sqlite3_progress_handler(m_db.get(), StepsBetweenLooks, stopAtDeadline, &m_deadline);
    // The stored texts total money with sum(); the engine would add it in binary fractions.
    if (!installExactAggregates(m_db.get()))
        fail("Could not set up exact totals");
}

SqliteBackend::~SqliteBackend()
{
    m_inserts.clear();
    m_schemaVersionQuery.reset();
    if (m_db && !sqlite3_get_autocommit(m_db.get()))
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

ErrorCause sqliteCause(int resultCode)
{
    ErrorCause cause{ErrorKind::Other, resultCode, {}};
    switch (resultCode & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        cause.kind = ErrorKind::Locked;
        break;
    case SQLITE_FULL:
        cause.kind = ErrorKind::DiskFull;
        break;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
        cause.kind = ErrorKind::Io;
        break;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
        cause.kind = ErrorKind::Permission;
        break;
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
        cause.kind = ErrorKind::Constraint;
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        cause.kind = ErrorKind::Damaged;
        break;
    default:
        break;
    }
    return cause;
}

void SqliteBackend::fail(std::string_view context) const
{
    std::string text(context);
    if (!text.empty())
        text += ": ";
    text += sqlite3_errmsg(m_db.get());
    fail(std::move(text), sqlite3_extended_errcode(m_db.get()));
}

void SqliteBackend::fail(std::string text, int resultCode) const
{
    const int primary = resultCode & 0xFF;
    if (m_deadline.expired && (primary == SQLITE_INTERRUPT || primary == SQLITE_BUSY))
        throw DatabaseError(commandTimeoutMessage(m_path, m_commandTimeout,
                                                  m_deadline.waitedForLock
                                                      ? "it was still waiting for another user's lock on the database"
                                                      : ""),
                            ErrorCause{ErrorKind::TimedOut, resultCode, {}});
    // What a clerk may meet while working, in Chinese first; the engine's own words follow for the administrator.
    if (std::optional<DatabaseError> refused = permissionFailure(m_path, resultCode))
        throw DatabaseError(
            "这台电脑上的用户不能写入数据库文件（或它旁边的日志文件），这次操作没有保存。请与管理员联系。\n" +
                std::string(refused->what()),
            refused->cause());
    ErrorCause cause = sqliteCause(resultCode);
    if (cause.kind == ErrorKind::Locked)
        throw DatabaseError("数据库正被另一个用户（另一台收款机或一次备份）占用，等了 " +
                                std::to_string(BusyTimeoutMs / 1000) +
                                " 秒仍没有让出。请稍后再试一次；如果一再发生，请与管理员联系。\n" + text,
                            std::move(cause));
    throw DatabaseError(withClerkLine(cause.kind, text), std::move(cause));
}

SqliteStatement SqliteBackend::prepare(std::string_view sql)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(m_db.get(), sql.data(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK)
        fail({});
    return SqliteStatement(raw);
}

void SqliteBackend::execute(const std::string& sql)
{
    const CommandClock clock(*this);
    char* error = nullptr;
    if (sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string text = error ? error : sqlite3_errmsg(m_db.get());
        sqlite3_free(error);
        fail(std::move(text), sqlite3_extended_errcode(m_db.get()));
    }
}

void SqliteBackend::refreshTableCache()
{
    // Another connection may have changed the schema since we looked.
    if (!m_schemaVersionQuery)
        m_schemaVersionQuery = prepare("PRAGMA schema_version");
    sqlite3_stmt* st = m_schemaVersionQuery.get();
    const int version = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_reset(st);
    if (version != m_schemaVersion || version < 0) {
        m_tables.clear();
        m_schemaVersion = version;
    }
}

int SqliteBackend::TableInfo::scaleOf(const std::string& column) const
{
    const auto it = decimals.find(text::lowerAscii(column));
    return it == decimals.end() ? -1 : it->second;
}

const SqliteBackend::TableInfo& SqliteBackend::tableInfo(const std::string& table)
{
    const std::string key = text::lowerAscii(table);
    if (auto it = m_tables.find(key); it != m_tables.end())
        return it->second;

    TableInfo info;
    SqliteStatement columns = prepare("SELECT name, type, pk FROM pragma_table_info(?1)");
    sqlite3_bind_text(columns.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
    int keyColumns = 0;
    std::string keyName;
    std::string keyType;
    int rc;
    while ((rc = sqlite3_step(columns.get())) == SQLITE_ROW) {
        info.exists = true;
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0));
        const auto* declared = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 1));
        if (name && declared) {
            if (const std::optional<TypeInfo> type = parseDeclaredType(declared)) {
                ColumnDescription column;
                column.type = type->type;
                column.precision = type->precision;
                column.scale = type->scale;
                if (const std::optional<int> scale = decimalScaleOf(column))
                    info.decimals.emplace(text::lowerAscii(name), *scale);
                if (type->type == AdoType::adLongVarBinary || type->type == AdoType::adBinary ||
                    type->type == AdoType::adVarBinary)
                    info.binaries.insert(text::lowerAscii(name));
            }
        }
        if (sqlite3_column_int(columns.get(), 2) > 0) {
            ++keyColumns;
            keyName = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 0));
            const unsigned char* type = sqlite3_column_text(columns.get(), 1);
            keyType = type ? reinterpret_cast<const char*>(type) : "";
        }
    }
    if (rc != SQLITE_DONE)
        fail({});
    if (keyColumns == 1 && isRowidAliasType(keyType)) {
        // A WITHOUT ROWID table has no rowid to alias.
        SqliteStatement sql =
            prepare("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
        sqlite3_bind_text(sql.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_STATIC);
        std::string text;
        if (sqlite3_step(sql.get()) == SQLITE_ROW && sqlite3_column_text(sql.get(), 0))
            text = data::text::lowerAscii(reinterpret_cast<const char*>(sqlite3_column_text(sql.get(), 0)));
        const auto close = text.rfind(')');
        if (close == std::string::npos || text.find("without", close) == std::string::npos)
            info.rowidAlias = keyName;
    }
    return m_tables.emplace(key, std::move(info)).first->second;
}

std::vector<ColumnDescription> SqliteBackend::readTable(const std::string& table, RowSink& rows)
{
    const CommandClock clock(*this);
    const std::string sql = "SELECT * FROM " + quoteIdentifier(table);
    SqliteStatement s = prepare(sql);
    return read(s.get(), sql, rows);
}

std::vector<ColumnDescription> SqliteBackend::readCommand(const std::string& commandText, RowSink& rows)
{
    const CommandClock clock(*this);
    SqliteStatement s = prepareCommand(commandText);
    return read(s.get(), commandText, rows);
}

SqliteStatement SqliteBackend::prepareCommand(const std::string& commandText)
{
    // The stored texts read the same in SQLite (unquoted Chinese names, 1=2,
    // "a.*"); what differs is told apart after reading (duplicate names).
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(m_db.get(), commandText.data(), static_cast<int>(commandText.size()), &raw, &tail) !=
        SQLITE_OK)
        fail({});
    SqliteStatement s(raw);
    if (!s)
        throw DatabaseError("Command text was not set for the command object.", ErrorKind::Malformed);
    if (tail && !onlyBlanksOrComments(std::string_view(tail, commandText.data() + commandText.size() - tail)))
        throw DatabaseError("Characters found after end of SQL statement.", ErrorKind::Malformed);
    if (sqlite3_column_count(s.get()) == 0)
        throw DatabaseError("The command text does not return rows.", ErrorKind::Malformed);
    return s;
}

SqliteStatement SqliteBackend::prepareWithParameters(const std::string& sql, const std::vector<Value>& parameters)
{
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(m_db.get(), sql.data(), static_cast<int>(sql.size()), &raw, &tail) != SQLITE_OK)
        fail({});
    SqliteStatement s(raw);
    if (!s)
        throw DatabaseError("The statement is empty.", ErrorKind::Malformed);
    if (tail && !onlyBlanksOrComments(std::string_view(tail, sql.data() + sql.size() - tail)))
        throw DatabaseError("Characters found after end of SQL statement.", ErrorKind::Malformed);
    const int wanted = sqlite3_bind_parameter_count(s.get());
    if (wanted != static_cast<int>(parameters.size()))
        throw DatabaseError("The statement has " + std::to_string(wanted) + " parameters; " +
                                std::to_string(parameters.size()) + " values were given.",
                            ErrorKind::Malformed);
    for (std::size_t i = 0; i < parameters.size(); ++i)
        if (bindFileValue(s.get(), static_cast<int>(i + 1), parameters[i], -1, false, {}, {}) != SQLITE_OK)
            fail({});
    return s;
}

ResultSet SqliteBackend::query(const std::string& sql, const std::vector<Value>& parameters)
{
    const CommandClock clock(*this);
    SqliteStatement s = prepareWithParameters(sql, parameters);
    ResultSet result;
    RowCollector rows(result.rows);
    result.columns = read(s.get(), sql, rows);
    return result;
}

std::int64_t SqliteBackend::update(const std::string& sql, const std::vector<Value>& parameters)
{
    const CommandClock clock(*this);
    SqliteStatement s = prepareWithParameters(sql, parameters);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        sqlite3_reset(s.get()); // brings the statement's own error to the connection
        fail({});
    }
    return sqlite3_changes64(m_db.get());
}

void SqliteBackend::lockForWriting(std::string_view)
{
    if (sqlite3_get_autocommit(m_db.get()))
        throw DatabaseError("A writers' lock is taken inside a transaction.");
}

void SqliteBackend::createTableIfMissing(const TableDefinition& table)
{
    std::string sql = createTableSql(table);
    const std::string_view head = "CREATE TABLE ";
    sql.insert(head.size(), "IF NOT EXISTS ");
    execute(sql);
}

int SqliteBackend::schemaVersion()
{
    const CommandClock clock(*this);
    SqliteStatement version = prepare("PRAGMA user_version");
    if (sqlite3_step(version.get()) != SQLITE_ROW)
        fail({});
    return sqlite3_column_int(version.get(), 0);
}

void SqliteBackend::setSchemaVersion(int version)
{
    execute("PRAGMA user_version = " + std::to_string(version));
}

std::vector<ColumnDescription> SqliteBackend::read(sqlite3_stmt* st, std::string_view commandText, RowSink& rows)
{
    std::vector<ColumnDescription> columns;
    refreshTableCache();
    const int n = sqlite3_column_count(st);
    columns.resize(static_cast<std::size_t>(n));
    std::vector<char> asBool(static_cast<std::size_t>(n), 0);
    std::vector<int> decimalScale(static_cast<std::size_t>(n), -1); // BCD columns' scales
    std::vector<int> derived;                                       // columns typed by their values
    for (int i = 0; i < n; ++i) {
        ColumnDescription& c = columns[static_cast<std::size_t>(i)];
        c.name = sqlite3_column_name(st, i);
        const char* table = sqlite3_column_table_name(st, i);
        const char* origin = sqlite3_column_origin_name(st, i);
        const char* declared = sqlite3_column_decltype(st, i);
        if (table && origin) {
            c.baseTable = table;
            c.baseColumn = origin;
            c.updatable = true;
            if (text::equalsIgnoreCase(tableInfo(c.baseTable).rowidAlias, c.baseColumn)) {
                c.type = AdoType::adInteger;
                c.definedSize = 4;
                c.precision = 10;
                c.autoIncrement = true;
                c.updatable = false;
                continue;
            }
        }
        if (declared && *declared && table && origin) {
            const TypeInfo t = columnType(c.baseTable, c.baseColumn, declared);
            c.type = t.type;
            c.definedSize = t.definedSize;
            c.precision = t.precision;
            c.scale = t.scale;
            asBool[static_cast<std::size_t>(i)] = t.type == AdoType::adBoolean;
            decimalScale[static_cast<std::size_t>(i)] = decimalScaleOf(c).value_or(-1);
        } else {
            derived.push_back(i);
        }
    }

    std::vector<ValuesSeen> stats(static_cast<std::size_t>(n));
    std::vector<char> tracked(static_cast<std::size_t>(n), 0);
    for (int i : derived)
        tracked[static_cast<std::size_t>(i)] = 1;

    rows.begin(n);
    std::vector<CellView> row(static_cast<std::size_t>(n));
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i) {
            const auto ci = static_cast<std::size_t>(i);
            CellView& cell = row[ci];
            // Connections are one thread's at a time (opened without a mutex), so the cell can be read
            // through its value: one look-up of the column per cell, where sqlite3_column_type, _text and
            // _bytes each look it up (and check the connection) again.
            sqlite3_value* value = sqlite3_column_value(st, i);
            switch (sqlite3_value_type(value)) {
            case SQLITE_INTEGER: {
                const std::int64_t v = sqlite3_value_int64(value);
                if (asBool[ci]) {
                    cell.type = v != 0 ? CellView::Type::True : CellView::Type::False;
                } else {
                    cell.type = CellView::Type::Integer;
                    cell.integer = v;
                }
                if (tracked[ci])
                    stats[ci].note(cell);
                break;
            }
            case SQLITE_FLOAT: {
                const double v = sqlite3_value_double(value);
                if (asBool[ci]) {
                    cell.type = v != 0.0 ? CellView::Type::True : CellView::Type::False;
                } else {
                    cell.type = CellView::Type::Double;
                    cell.number = v;
                }
                if (tracked[ci])
                    stats[ci].note(cell);
                break;
            }
            case SQLITE_TEXT: {
                const unsigned char* text = sqlite3_value_text(value);
                const int bytes = sqlite3_value_bytes(value);
                cell.type = CellView::Type::Text;
                cell.text = std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
                if (tracked[ci])
                    stats[ci].note(cell);
                break;
            }
            case SQLITE_BLOB: {
                const void* data = sqlite3_value_blob(value);
                const int bytes = sqlite3_value_bytes(value);
                cell.type = CellView::Type::Text;
                cell.text = std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(bytes));
                if (tracked[ci])
                    stats[ci].binary = true;
                break;
            }
            default:
                cell.type = CellView::Type::Null;
                break;
            }
            if (decimalScale[ci] >= 0)
                readDecimal(cell, decimalScale[ci]);
        }
        rows.row(row);
    }
    if (rc != SQLITE_DONE)
        fail({});

    for (int i : derived)
        stats[static_cast<std::size_t>(i)].describe(columns[static_cast<std::size_t>(i)]);

    nameSharedColumns(columns, commandText);
    return columns;
}

std::int64_t SqliteBackend::insertRow(const std::string& table,
                                      const std::vector<std::pair<std::string, Value>>& values)
{
    const CommandClock clock(*this);
    std::string sql = "INSERT INTO " + quoteIdentifier(table);
    if (values.empty()) {
        sql += " DEFAULT VALUES";
    } else {
        sql += " (";
        std::string placeholders;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) {
                sql += ", ";
                placeholders += ", ";
            }
            sql += quoteIdentifier(values[i].first);
            placeholders += '?';
            placeholders += std::to_string(i + 1);
        }
        sql += ") VALUES (" + placeholders + ")";
    }
    refreshTableCache();
    const TableInfo& info = tableInfo(table);
    const bool keyed = !info.rowidAlias.empty();

    auto it = m_inserts.find(sql);
    if (it == m_inserts.end()) {
        if (m_inserts.size() >= 64)
            m_inserts.clear();
        it = m_inserts.emplace(sql, prepare(sql)).first;
    }
    sqlite3_stmt* st = it->second.get();
    // Leave the cached statement clean on every path.
    struct Reset
    {
        sqlite3_stmt* st;
        ~Reset()
        {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    } reset{st};

    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto& [column, value] = values[i];
        // Text goes in as text here, whatever the column's kind, as the data module has always written it.
        if (bindFileValue(st, static_cast<int>(i + 1), value, info.scaleOf(column), false, table, column) != SQLITE_OK)
            fail({});
    }
    if (sqlite3_step(st) != SQLITE_DONE) {
        sqlite3_reset(st); // brings the statement's own error to the connection
        fail({});
    }
    return keyed ? sqlite3_last_insert_rowid(m_db.get()) : 0;
}

std::vector<std::string> SqliteBackend::tableNames()
{
    SqliteStatement names =
        prepare("SELECT name FROM sqlite_master WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite\\_%' "
                "ESCAPE '\\' ORDER BY rowid");
    std::vector<std::string> out;
    int rc;
    while ((rc = sqlite3_step(names.get())) == SQLITE_ROW)
        out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(names.get(), 0)));
    if (rc != SQLITE_DONE)
        fail({});
    return out;
}

namespace {

// One prepared INSERT, bound and stepped for each row.
class SqliteRowWriter final : public RowWriter
{
public:
    // Per column: its name, whether it is declared binary (text goes in as a blob), and the scale of a BCD
    // column (-1: none), whose decimals the file keeps as REALs.
    struct Column
    {
        std::string name;
        bool binary = false;
        int scale = -1;
    };

    SqliteRowWriter(sqlite3* db, SqliteStatement statement, std::string table, std::vector<Column> columns)
        : m_db(db), m_statement(std::move(statement)), m_table(std::move(table)), m_columns(std::move(columns))
    {
    }

    void write(std::span<const std::vector<Value>> rows) override
    {
        sqlite3_stmt* st = m_statement.get();
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const std::vector<Value>& row = rows[r];
            int rc = SQLITE_OK;
            try {
                // The row's own values, never copies: text and bytes are bound without a copy of their own.
                static const Value none;
                for (std::size_t c = 0; c < m_columns.size() && rc == SQLITE_OK; ++c) {
                    const Column& column = m_columns[c];
                    rc = bindFileValue(st, static_cast<int>(c + 1), c < row.size() ? row[c] : none, column.scale,
                                       column.binary, m_table, column.name);
                }
            } catch (const DatabaseError& e) {
                sqlite3_clear_bindings(st);
                throw RowWriteError(e, r);
            }
            if (rc == SQLITE_OK)
                rc = sqlite3_step(st);
            sqlite3_reset(st); // brings a failed step's own error to the connection
            sqlite3_clear_bindings(st);
            if (rc != SQLITE_DONE)
                throw RowWriteError(DatabaseError(sqlite3_errmsg(m_db), sqliteCause(sqlite3_extended_errcode(m_db))),
                                    r);
        }
    }

private:
    sqlite3* m_db;
    SqliteStatement m_statement;
    std::string m_table;
    std::vector<Column> m_columns;
};

} // namespace

std::unique_ptr<RowWriter> SqliteBackend::prepareInsert(const std::string& table,
                                                        const std::vector<std::string>& columns)
{
    refreshTableCache();
    const TableInfo& info = tableInfo(table);
    if (!info.exists)
        throw DatabaseError("The table '" + table + "' does not exist.", ErrorKind::NotFound);
    std::string sql = "INSERT INTO " + quoteIdentifier(table);
    std::vector<SqliteRowWriter::Column> described;
    if (columns.empty()) {
        sql += " DEFAULT VALUES";
    } else {
        std::string placeholders;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            sql += (i ? ", " : " (") + quoteIdentifier(columns[i]);
            placeholders += (i ? ", ?" : "?") + std::to_string(i + 1);
            described.push_back(
                {columns[i], info.binaries.contains(text::lowerAscii(columns[i])), info.scaleOf(columns[i])});
        }
        sql += ") VALUES (" + placeholders + ")";
    }
    return std::make_unique<SqliteRowWriter>(m_db.get(), prepare(sql), table, std::move(described));
}

void SqliteBackend::beginTransaction()
{
    execute("BEGIN IMMEDIATE");
}

void SqliteBackend::commit()
{
    execute("COMMIT");
}

void SqliteBackend::rollback()
{
    if (sqlite3_get_autocommit(m_db.get()))
        return; // SQLite may already have rolled back after an error
    execute("ROLLBACK");
}

} // namespace velmora::data
