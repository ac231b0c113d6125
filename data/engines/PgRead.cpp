// Reading through a PgBackend: a command text adapted, described before it runs, and its rows streamed to the
// taker one by one, each column described as the embedded dialect would.
#include "data/engines/PgBackend.h"

#include "data/Errors.h"
#include "data/engines/CommandText.h"
#include "data/engines/PgInternal.h"
#include "data/engines/PgTypes.h"

#include <libpq-fe.h>

namespace velmora::data {

std::vector<ColumnDescription> PgBackend::readTable(const std::string& table, RowSink& rows)
{
    return command(Access::Read, [&] {
        unsigned oid = tableOid(table);
        if (!oid) {
            loadNames(); // it may have been made since the names were read
            oid = tableOid(table);
        }
        return query("SELECT * FROM " + quoteIdentifier(oid ? tableInfo(oid).name : table), {}, false, rows);
    });
}

std::vector<ColumnDescription> PgBackend::readCommand(const std::string& commandText, RowSink& rows)
{
    return command(Access::Read, [&] {
        bool onlyBlanks = true;
        for (const SqlPiece& p : sqlPieces(commandText))
            if (p.kind != SqlPiece::Space && !(p.kind == SqlPiece::Punct && p.text == ";"))
                onlyBlanks = false;
        if (onlyBlanks)
            throw DatabaseError("Command text was not set for the command object.", ErrorKind::Malformed);
        Result description;
        try {
            description = prepareQuery(adaptCommand(commandText), true);
        } catch (const DatabaseError& e) {
            // A table or column made since the names were read: read them again, once.
            const bool unknownName = e.cause().sqlState == "42P01" || e.cause().sqlState == "42703";
            if (!unknownName || PQtransactionStatus(usable()) != PQTRANS_IDLE)
                throw;
            loadNames();
            m_tables.clear();
            description = prepareQuery(adaptCommand(commandText), true);
        }
        return read(description.get(), commandText, rows);
    });
}

std::vector<ColumnDescription> PgBackend::query(const std::string& sql, std::string_view givenText, bool checkRows,
                                                RowSink& rows)
{
    const Result description = prepareQuery(sql, checkRows);
    return read(description.get(), givenText.empty() ? std::string_view(sql) : givenText, rows);
}

PgBackend::Result PgBackend::prepareQuery(const std::string& sql, bool checkRows)
{
    // Described before it runs, so that a text returning no rows changes nothing, and so that its columns are
    // known (and their tables looked up) before the first row comes.
    Result prepared = exchange([&](pg_conn* c) { return PQsendPrepare(c, "", sql.c_str(), 0, nullptr); });
    if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
        fail(prepared.get());
    Result description = exchange([](pg_conn* c) { return PQsendDescribePrepared(c, ""); });
    if (!description || PQresultStatus(description.get()) != PGRES_COMMAND_OK)
        fail(description.get());
    if (checkRows && PQnfields(description.get()) == 0)
        throw DatabaseError("The command text does not return rows.", ErrorKind::Malformed);
    // Looking up a column's table is a statement of its own, which ends the unnamed one: look up first, then
    // prepare again.
    bool lookedUp = false;
    for (int i = 0; i < PQnfields(description.get()); ++i) {
        const unsigned table = PQftable(description.get(), i);
        if (table != 0 && !m_tables.contains(table)) {
            tableInfo(table);
            lookedUp = true;
        }
    }
    if (lookedUp) {
        prepared = exchange([&](pg_conn* c) { return PQsendPrepare(c, "", sql.c_str(), 0, nullptr); });
        if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
            fail(prepared.get());
    }
    return description;
}

std::vector<ColumnDescription> PgBackend::read(const pg_result* r, std::string_view commandText, RowSink& sink,
                                               const std::vector<const char*>& parameters)
{
    std::vector<ColumnDescription> columns;
    const int n = PQnfields(r);
    columns.resize(static_cast<std::size_t>(n));
    std::vector<unsigned> types(static_cast<std::size_t>(n));
    std::vector<int> typedByValues;
    for (int i = 0; i < n; ++i) {
        ColumnDescription& c = columns[static_cast<std::size_t>(i)];
        const auto ci = static_cast<std::size_t>(i);
        c.name = PQfname(r, i);
        types[ci] = PQftype(r, i);
        const unsigned table = PQftable(r, i);
        const int number = PQftablecol(r, i);
        if (table != 0 && number > 0) {
            const TableInfo& info = tableInfo(table);
            if (auto it = info.columns.find(number); it != info.columns.end()) {
                const ColumnInfo& column = it->second;
                c.baseTable = info.name;
                c.baseColumn = column.name;
                c.updatable = !column.autoIncrement;
                c.autoIncrement = column.autoIncrement;
                if (!pg::describeDeclared(c, column.baseType, column.typmod, column.ansi))
                    throw DatabaseError("Column '" + column.name + "' of table '" + info.name +
                                            "' has the unknown data type '" + column.typeName + "'.",
                                        ErrorKind::Unsupported);
                continue;
            }
        }
        if (!pg::describeComputed(c, types[ci], PQfmod(r, i)))
            typedByValues.push_back(i);
    }

    std::vector<ValuesSeen> stats(static_cast<std::size_t>(n));
    std::vector<char> tracked(static_cast<std::size_t>(n), 0);
    for (int i : typedByValues)
        tracked[static_cast<std::size_t>(i)] = 1;

    std::vector<char> decimal(static_cast<std::size_t>(n), 0);
    std::vector<char> computedWithValue(static_cast<std::size_t>(n), 0); // a computed column some row gave a value
    for (std::size_t ci = 0; ci < columns.size(); ++ci)
        decimal[ci] = !tracked[ci] && decimalScaleOf(columns[ci]).has_value();

    sink.begin(n);
    std::vector<CellView> cells(static_cast<std::size_t>(n));
    std::vector<std::string> scratch(static_cast<std::size_t>(n));
    const auto take = [&](const pg_result* r) {
        const int rows = PQntuples(r);
        for (int row = 0; row < rows; ++row) {
            for (int i = 0; i < n; ++i) {
                const auto ci = static_cast<std::size_t>(i);
                cells[ci] = pg::cellOf(r, row, i, types[ci], decimal[ci], scratch[ci]);
                if (cells[ci].type != CellView::Type::Null && columns[ci].baseTable.empty())
                    computedWithValue[ci] = 1;
                if (tracked[ci])
                    stats[ci].note(cells[ci]);
            }
            sink.row(cells);
        }
    };
    const Result last = exchange(
        [&](pg_conn* c) {
            return PQsendQueryPrepared(c, "", static_cast<int>(parameters.size()),
                                       parameters.empty() ? nullptr : parameters.data(), nullptr, nullptr, 0);
        },
        take);
    if (!last || PQresultStatus(last.get()) != PGRES_TUPLES_OK)
        fail(last.get());
    take(last.get()); // none in single-row mode; kept for a server that sends them all at once

    for (int i : typedByValues)
        stats[static_cast<std::size_t>(i)].describe(columns[static_cast<std::size_t>(i)]);
    for (std::size_t ci = 0; ci < columns.size(); ++ci)
        columns[ci].allNull = columns[ci].baseTable.empty() && !computedWithValue[ci];

    nameSharedColumns(columns, commandText);
    return columns;
}

std::string PgBackend::parameterised(const std::string& sql, const std::vector<Value>& parameters,
                                     std::vector<std::optional<std::string>>& texts)
{
    std::size_t count = 0;
    std::string numbered = numberedParameters(adaptCommand(sql), count);
    if (count != parameters.size())
        throw DatabaseError("The statement has " + std::to_string(count) + " parameters; " +
                                std::to_string(parameters.size()) + " values were given.",
                            ErrorKind::Malformed);
    texts.clear();
    for (const Value& value : parameters)
        texts.push_back(pg::parameterText(value, 0));
    return numbered;
}

ResultSet PgBackend::query(const std::string& sql, const std::vector<Value>& parameters)
{
    return command(Access::Read, [&] {
        std::vector<std::optional<std::string>> texts;
        const std::string numbered = parameterised(sql, parameters, texts);
        const Result description = prepareQuery(numbered, true);
        ResultSet result;
        RowCollector rows(result.rows);
        result.columns = read(description.get(), sql, rows, parameterPointers(texts));
        return result;
    });
}

} // namespace velmora::data
