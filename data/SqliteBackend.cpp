#include "data/SqliteBackend.h"

#include "data/ConnectionString.h"
#include "data/Errors.h"
#include "data/SchemaDialect.h"

#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

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

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// ---- FROM clause reading -------------------------------------------------

struct Token
{
    enum Kind { Word, Quoted, Literal, Punct, End } kind = End;
    std::string text; // a quoted identifier without its quotes
};

class Tokenizer
{
public:
    explicit Tokenizer(std::string_view sql) : m_sql(sql) {}

    std::vector<Token> all()
    {
        std::vector<Token> tokens;
        for (;;) {
            Token t = next();
            if (t.kind == Token::End)
                break;
            tokens.push_back(std::move(t));
        }
        return tokens;
    }

private:
    static bool wordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
    static bool wordChar(unsigned char c) { return wordStart(c) || std::isdigit(c) || c == '$'; }

    Token quoted(char close, Token::Kind kind)
    {
        std::string text;
        ++m_i;
        while (m_i < m_sql.size()) {
            const char c = m_sql[m_i++];
            if (c == close) {
                if (close != ']' && m_i < m_sql.size() && m_sql[m_i] == close) {
                    text += c;
                    ++m_i;
                    continue;
                }
                break;
            }
            text += c;
        }
        return {kind, std::move(text)};
    }

    Token next()
    {
        for (;;) {
            while (m_i < m_sql.size() && std::isspace(static_cast<unsigned char>(m_sql[m_i])))
                ++m_i;
            if (m_sql.substr(m_i, 2) == "--") {
                while (m_i < m_sql.size() && m_sql[m_i] != '\n')
                    ++m_i;
                continue;
            }
            if (m_sql.substr(m_i, 2) == "/*") {
                const auto end = m_sql.find("*/", m_i + 2);
                m_i = end == std::string_view::npos ? m_sql.size() : end + 2;
                continue;
            }
            break;
        }
        if (m_i >= m_sql.size())
            return {};
        const unsigned char c = static_cast<unsigned char>(m_sql[m_i]);
        switch (c) {
        case '"':
            return quoted('"', Token::Quoted);
        case '`':
            return quoted('`', Token::Quoted);
        case '[':
            return quoted(']', Token::Quoted);
        case '\'':
            return quoted('\'', Token::Literal);
        default:
            break;
        }
        if (wordStart(c)) {
            const std::size_t start = m_i;
            while (m_i < m_sql.size() && wordChar(static_cast<unsigned char>(m_sql[m_i])))
                ++m_i;
            return {Token::Word, std::string(m_sql.substr(start, m_i - start))};
        }
        if (std::isdigit(c)) {
            const std::size_t start = m_i;
            while (m_i < m_sql.size() && (std::isalnum(static_cast<unsigned char>(m_sql[m_i])) || m_sql[m_i] == '.'))
                ++m_i;
            return {Token::Literal, std::string(m_sql.substr(start, m_i - start))};
        }
        ++m_i;
        return {Token::Punct, std::string(1, static_cast<char>(c))};
    }

    std::string_view m_sql;
    std::size_t m_i = 0;
};

bool isWord(const Token& t, std::string_view word)
{
    return t.kind == Token::Word && equalsIgnoreCase(t.text, word);
}

bool isPunct(const Token& t, char c)
{
    return t.kind == Token::Punct && t.text.size() == 1 && t.text[0] == c;
}

bool endsFromClause(const Token& t)
{
    static constexpr std::string_view words[] = {"WHERE", "GROUP",  "ORDER",     "HAVING", "LIMIT",
                                                 "UNION", "EXCEPT", "INTERSECT", "WINDOW", "RETURNING"};
    for (auto w : words) {
        if (isWord(t, w))
            return true;
    }
    return false;
}

bool isJoinWord(const Token& t)
{
    static constexpr std::string_view words[] = {"JOIN",    "INNER", "LEFT", "RIGHT", "FULL",    "CROSS",
                                                 "NATURAL", "OUTER", "ON",   "USING", "INDEXED", "NOT"};
    for (auto w : words) {
        if (isWord(t, w))
            return true;
    }
    return false;
}

// Index past the bracket matching the '(' at i.
std::size_t skipParentheses(const std::vector<Token>& t, std::size_t i)
{
    int depth = 0;
    for (; i < t.size(); ++i) {
        if (isPunct(t[i], '('))
            ++depth;
        else if (isPunct(t[i], ')') && --depth == 0)
            return i + 1;
    }
    return i;
}

// Reads the table list after a FROM at i; returns the index where it ends.
std::size_t readTableList(const std::vector<Token>& t, std::size_t i,
                          std::vector<std::pair<std::string, std::string>>& out)
{
    for (;;) {
        // One table reference.
        if (i >= t.size() || endsFromClause(t[i]) || isPunct(t[i], ')') || isPunct(t[i], ';'))
            return i;
        bool isTable = false;
        std::string name;
        if (isPunct(t[i], '(')) {
            i = skipParentheses(t, i); // a sub-query: its tables are its own
        } else if (t[i].kind == Token::Word || t[i].kind == Token::Quoted) {
            name = t[i++].text;
            if (i + 1 < t.size() && isPunct(t[i], '.') &&
                (t[i + 1].kind == Token::Word || t[i + 1].kind == Token::Quoted)) {
                name = t[i + 1].text; // schema.table
                i += 2;
            }
            isTable = true;
            if (i < t.size() && isPunct(t[i], '(')) { // a table-valued function
                i = skipParentheses(t, i);
                isTable = false;
            }
        }
        std::string alias;
        if (i < t.size() && isWord(t[i], "AS"))
            ++i;
        if (i < t.size() &&
            (t[i].kind == Token::Quoted || (t[i].kind == Token::Word && !endsFromClause(t[i]) && !isJoinWord(t[i]))))
            alias = t[i++].text;
        if (isTable)
            out.emplace_back(name, alias.empty() ? name : alias);
        // Up to the next reference: past a comma or a JOIN, over ON/USING conditions.
        int depth = 0;
        for (;;) {
            if (i >= t.size())
                return i;
            if (depth == 0 && (endsFromClause(t[i]) || isPunct(t[i], ')') || isPunct(t[i], ';')))
                return i;
            if (isPunct(t[i], '('))
                ++depth;
            else if (isPunct(t[i], ')'))
                --depth;
            else if (depth == 0 && (isPunct(t[i], ',') || isWord(t[i], "JOIN"))) {
                ++i;
                break;
            }
            ++i;
        }
    }
}

// ---- column descriptions -------------------------------------------------

int utf8Length(const unsigned char* text, int bytes)
{
    int n = 0;
    for (int i = 0; i < bytes; ++i)
        n += (text[i] & 0xC0) != 0x80;
    return n;
}

// Storage classes met in a column without a declared type.
struct ValueStats
{
    bool integer = false;
    bool real = false;
    bool text = false;
    bool blob = false;
    int longestText = 0;
};

void typeFromValues(ColumnDescription& c, const ValueStats& s)
{
    if (s.blob) {
        c.type = AdoType::adLongVarBinary;
        c.definedSize = 2147483647;
    } else if (s.text) {
        c.type = AdoType::adVarWChar;
        c.definedSize = s.longestText > 0 ? s.longestText : 1;
    } else if (s.real) {
        c.type = AdoType::adDouble;
        c.definedSize = 8;
        c.precision = 15;
    } else if (s.integer) {
        c.type = AdoType::adBigInt;
        c.definedSize = 8;
        c.precision = 19;
    } else {
        c.type = AdoType::adVarWChar;
        c.definedSize = 255;
    }
}

bool onlyBlanksOrComments(std::string_view rest)
{
    for (const Token& t : Tokenizer(rest).all()) {
        if (!isPunct(t, ';'))
            return false;
    }
    return true;
}

} // namespace

std::vector<std::pair<std::string, std::string>> fromClauseAliases(std::string_view sql)
{
    std::vector<std::pair<std::string, std::string>> out;
    const std::vector<Token> tokens = Tokenizer(sql).all();
    int depth = 0;
    for (std::size_t i = 0; i < tokens.size();) {
        if (isPunct(tokens[i], '('))
            ++depth;
        else if (isPunct(tokens[i], ')'))
            --depth;
        else if (depth == 0 && isWord(tokens[i], "FROM")) {
            i = readTableList(tokens, i + 1, out);
            continue;
        }
        ++i;
    }
    return out;
}

std::string quoteIdentifier(std::string_view name)
{
    std::string out;
    out.reserve(name.size() + 2);
    out += '"';
    for (char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    out += '"';
    return out;
}

SqliteBackend::SqliteBackend(SqliteHandle db, std::string path) : m_db(std::move(db)), m_path(std::move(path)) {}

SqliteBackend::~SqliteBackend()
{
    m_inserts.clear();
    m_schemaVersionQuery.reset();
    if (m_db && !sqlite3_get_autocommit(m_db.get()))
        sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteBackend::fail(std::string_view context) const
{
    std::string text(context);
    if (!text.empty())
        text += ": ";
    text += sqlite3_errmsg(m_db.get());
    throw DatabaseError(text);
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
    char* error = nullptr;
    if (sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string text = error ? error : sqlite3_errmsg(m_db.get());
        sqlite3_free(error);
        throw DatabaseError(text);
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

const SqliteBackend::TableInfo& SqliteBackend::tableInfo(const std::string& table)
{
    const std::string key = lowerAscii(table);
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
            text = lowerAscii(reinterpret_cast<const char*>(sqlite3_column_text(sql.get(), 0)));
        const auto close = text.rfind(')');
        if (close == std::string::npos || text.find("without", close) == std::string::npos)
            info.rowidAlias = keyName;
    }
    return m_tables.emplace(key, std::move(info)).first->second;
}

void nameSharedColumns(std::vector<ColumnDescription>& columns, std::string_view commandText)
{
    std::unordered_map<std::string, int> counts;
    counts.reserve(columns.size());
    for (const ColumnDescription& c : columns)
        ++counts[lowerAscii(c.name)];
    std::vector<std::pair<std::string, std::string>> aliases;
    bool aliasesRead = false;
    for (ColumnDescription& c : columns) {
        if (counts[lowerAscii(c.name)] < 2 || c.baseColumn.empty() || !equalsIgnoreCase(c.name, c.baseColumn))
            continue;
        if (!aliasesRead) {
            aliases = fromClauseAliases(commandText);
            aliasesRead = true;
        }
        std::string qualifier = c.baseTable;
        for (const auto& [table, alias] : aliases) {
            if (equalsIgnoreCase(table, c.baseTable)) {
                qualifier = alias;
                break;
            }
        }
        c.name = qualifier + "." + c.name;
    }
}

namespace {

// Collects the rows a sink is given, for the callers that want a whole result at once.
class CollectRows final : public RowSink
{
public:
    explicit CollectRows(std::vector<std::vector<Value>>& rows) : m_rows(rows) {}
    void begin(int) override {}
    void row(std::span<const CellView> cells) override
    {
        std::vector<Value>& row = m_rows.emplace_back();
        row.reserve(cells.size());
        for (const CellView& cell : cells)
            row.push_back(cell.toValue());
    }

private:
    std::vector<std::vector<Value>>& m_rows;
};

} // namespace

ResultSet SqliteBackend::openTable(const std::string& table)
{
    ResultSet result;
    CollectRows rows(result.rows);
    result.columns = readTable(table, rows);
    return result;
}

ResultSet SqliteBackend::openCommand(const std::string& commandText)
{
    ResultSet result;
    CollectRows rows(result.rows);
    result.columns = readCommand(commandText, rows);
    return result;
}

std::vector<ColumnDescription> SqliteBackend::readTable(const std::string& table, RowSink& rows)
{
    const std::string sql = "SELECT * FROM " + quoteIdentifier(table);
    SqliteStatement s = prepare(sql);
    return read(s.get(), sql, rows);
}

std::vector<ColumnDescription> SqliteBackend::readCommand(const std::string& commandText, RowSink& rows)
{
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
        throw DatabaseError("Command text was not set for the command object.");
    if (tail && !onlyBlanksOrComments(std::string_view(tail, commandText.data() + commandText.size() - tail)))
        throw DatabaseError("Characters found after end of SQL statement.");
    if (sqlite3_column_count(s.get()) == 0)
        throw DatabaseError("The command text does not return rows.");
    return s;
}

std::vector<ColumnDescription> SqliteBackend::read(sqlite3_stmt* st, std::string_view commandText, RowSink& rows)
{
    std::vector<ColumnDescription> columns;
    refreshTableCache();
    const int n = sqlite3_column_count(st);
    columns.resize(static_cast<std::size_t>(n));
    std::vector<char> asBool(static_cast<std::size_t>(n), 0);
    std::vector<int> derived; // columns typed by their values
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
            if (equalsIgnoreCase(tableInfo(c.baseTable).rowidAlias, c.baseColumn)) {
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
        } else {
            derived.push_back(i);
        }
    }

    std::vector<ValueStats> stats(static_cast<std::size_t>(n));
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
                    stats[ci].integer = true;
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
                    stats[ci].real = true;
                break;
            }
            case SQLITE_TEXT: {
                const unsigned char* text = sqlite3_value_text(value);
                const int bytes = sqlite3_value_bytes(value);
                cell.type = CellView::Type::Text;
                cell.text = std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
                if (tracked[ci]) {
                    stats[ci].text = true;
                    const int length = utf8Length(text, bytes);
                    if (length > stats[ci].longestText)
                        stats[ci].longestText = length;
                }
                break;
            }
            case SQLITE_BLOB: {
                const void* data = sqlite3_value_blob(value);
                const int bytes = sqlite3_value_bytes(value);
                cell.type = CellView::Type::Text;
                cell.text = std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(bytes));
                if (tracked[ci])
                    stats[ci].blob = true;
                break;
            }
            default:
                cell.type = CellView::Type::Null;
                break;
            }
        }
        rows.row(row);
    }
    if (rc != SQLITE_DONE)
        fail({});

    for (int i : derived)
        typeFromValues(columns[static_cast<std::size_t>(i)], stats[static_cast<std::size_t>(i)]);

    nameSharedColumns(columns, commandText);
    return columns;
}

std::int64_t SqliteBackend::insertRow(const std::string& table,
                                      const std::vector<std::pair<std::string, Value>>& values)
{
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
    const bool keyed = !tableInfo(table).rowidAlias.empty();

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
        const int p = static_cast<int>(i + 1);
        const Value& v = values[i].second;
        int rc = SQLITE_OK;
        if (const auto* x = std::get_if<std::int64_t>(&v))
            rc = sqlite3_bind_int64(st, p, *x);
        else if (const auto* d = std::get_if<double>(&v))
            rc = sqlite3_bind_double(st, p, *d);
        else if (const auto* s = std::get_if<std::string>(&v))
            rc = sqlite3_bind_text64(st, p, s->data(), s->size(), SQLITE_STATIC, SQLITE_UTF8);
        else if (const auto* b = std::get_if<bool>(&v))
            rc = sqlite3_bind_int(st, p, *b ? 1 : 0);
        else
            rc = sqlite3_bind_null(st, p);
        if (rc != SQLITE_OK)
            fail({});
    }
    if (sqlite3_step(st) != SQLITE_DONE) {
        sqlite3_reset(st); // brings the statement's own error to the connection
        fail({});
    }
    return keyed ? sqlite3_last_insert_rowid(m_db.get()) : 0;
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

namespace {

int retryOften(void*, int tries)
{
    // One thread waits for one lock at a time: the wait starts at its first try.
    thread_local std::chrono::steady_clock::time_point start;
    thread_local std::minstd_rand jitter(std::random_device{}());
    const auto now = std::chrono::steady_clock::now();
    if (tries == 0)
        start = now;
    if (now - start >= std::chrono::milliseconds(BusyTimeoutMs))
        return 0;
    // Jitter keeps two waiting tills from trying in step with each other.
    std::this_thread::sleep_for(std::chrono::microseconds(500 + jitter() % 1000));
    return 1;
}

} // namespace

void setBusyTimeout(sqlite3* db)
{
    sqlite3_busy_handler(db, retryOften, nullptr);
}

void useWriteAheadLog(sqlite3* db)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &raw, nullptr) != SQLITE_OK)
        throw DatabaseError(sqlite3_errmsg(db));
    SqliteStatement s(raw);
    if (sqlite3_step(s.get()) != SQLITE_ROW)
        throw DatabaseError(sqlite3_errmsg(db));
    const unsigned char* mode = sqlite3_column_text(s.get(), 0);
    if (!mode || !equalsIgnoreCase(reinterpret_cast<const char*>(mode), "wal"))
        throw DatabaseError("The database cannot use a write-ahead log.");
}

std::unique_ptr<SqliteBackend> createDatabaseFile(const std::string& givenPath)
{
    // An absolute path is never read as a "file:" URI.
    const std::string path = std::filesystem::absolute(givenPath).lexically_normal().string();
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
        throw DatabaseError("Database '" + path + "' already exists.");
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK)
        throw DatabaseError("Could not create database '" + path +
                            "': " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    // A folder whose new files take its group (set-group-ID) is shared by that group's operators: each of them
    // writes to the file, and SQLite gives its journals the file's mode. Anyone else is kept out.
    struct stat folder = {};
    const std::string parent = std::filesystem::path(path).parent_path().string();
    if (::stat(parent.c_str(), &folder) == 0 && (folder.st_mode & S_ISGID) && ::chmod(path.c_str(), 0660) != 0) {
        ::unlink(path.c_str());
        throw DatabaseError("Could not share database '" + path + "' with the group of its folder.");
    }
    setBusyTimeout(db.get());
    sqlite3_extended_result_codes(db.get(), 1);
    useWriteAheadLog(db.get());
    return std::make_unique<SqliteBackend>(std::move(db), path);
}

} // namespace velmora::data
