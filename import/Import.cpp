#include "import/Import.h"

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/Text.h"
#include "data/engines/CommandText.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SqliteBackend.h"
#include "data/module/SchemaVersion.h"
#include "data/provider/ConnectionString.h"
#include "import/Convert.h"
#include "import/Plan.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>

namespace velmora::transfer {

namespace {

namespace fs = std::filesystem;
using data::text::equalsIgnoreCase;
using data::text::lowerAscii;

std::string quoted(const std::string& name)
{
    return "'" + name + "'";
}

std::string tableLabel(const TablePlan& table)
{
    std::string label = "table " + quoted(table.source);
    if (table.target != table.source)
        label += " (into " + quoted(table.target) + ")";
    return label;
}

std::string keyText(const TablePlan& table, const std::vector<access::Value>& row)
{
    std::string text;
    for (const std::size_t column : table.key)
        text += (text.empty() ? "" : ", ") + table.columns[column].source + " " + displayValue(row.at(column));
    return text;
}

std::string rowLabel(const TablePlan& table, std::int64_t row, const std::string& key)
{
    return tableLabel(table) + ", row " + std::to_string(row) + (key.empty() ? "" : " (" + key + ")");
}

void stopIfInterrupted(const ImportProgress* progress)
{
    if (!progress)
        return;
    if (const std::string why = progress->interruption(); !why.empty())
        throw ImportError(why);
}

// The target's own spelling of a table, exact or in another letter case.
const std::string* spelling(const std::vector<std::string>& names, std::string_view wanted)
{
    const std::string* found = nullptr;
    for (const std::string& name : names) {
        if (name == wanted)
            return &name;
        if (!found && equalsIgnoreCase(name, wanted))
            found = &name;
    }
    return found;
}

// The tables already there that the plan needs to know: every schema table (made when missing) and every
// table an Access table's rows would go into, described from the target. Refuses, before anything changes,
// a target whose tables the import would fill hold rows.
std::vector<TargetTable> existingTables(const std::vector<access::Table>& source, data::Backend& target)
{
    const std::vector<std::string> names = target.tableNames();
    std::set<std::string> filled;
    for (const access::Table& table : source) {
        const data::TableDefinition* schema = data::findTable(table.name);
        if (const std::string* name = spelling(names, schema ? schema->name : std::string_view(table.name)))
            filled.insert(*name);
    }
    std::vector<TargetTable> existing;
    std::vector<std::string> holdingRows;
    for (const std::string& name : names) {
        const bool fills = filled.contains(name);
        if (!fills && !data::findTable(name))
            continue;
        TargetTable table{name, {}};
        if (fills) {
            const data::ResultSet first =
                target.openCommand("SELECT * FROM " + data::quoteIdentifier(name) + " LIMIT 1");
            if (!first.rows.empty())
                holdingRows.push_back(quoted(name));
            for (const data::ColumnDescription& column : first.columns)
                table.columns.push_back({column.name, typeOfColumn(column, name)});
        }
        existing.push_back(std::move(table));
    }
    if (!holdingRows.empty()) {
        std::string list;
        for (std::size_t i = 0; i < holdingRows.size(); ++i)
            list += (i == 0 ? "" : i + 1 == holdingRows.size() ? " and " : ", ") + holdingRows[i];
        throw ImportError(target.location() + " already holds rows in " +
                          (holdingRows.size() == 1 ? "the table " : "the tables ") + list +
                          ", which the import would fill; it fills only empty tables");
    }
    return existing;
}

class TableWriter
{
public:
    TableWriter(const Source& source, data::Backend& target, Engine engine, ImportProgress* progress)
        : m_source(source), m_target(target), m_engine(engine), m_progress(progress)
    {
    }

    TableSummary write(const TablePlan& table)
    {
        TableSummary summary{table.source, table.target, table.schemaTable, table.create, 0, 0, {}, table.missing, {}};
        if (table.create)
            for (const std::size_t column : table.primaryKey)
                summary.primaryKey.push_back(table.columns[column].target);
        for (const ColumnPlan& column : table.columns)
            if (column.added)
                summary.addedColumns.push_back(column.target + " " + sqlType(column.type, m_engine));
        std::vector<std::string> columns;
        for (const ColumnPlan& column : table.columns)
            columns.push_back(column.target);
        try {
            m_writer = m_target.prepareInsert(table.target, columns);
        } catch (const data::DatabaseError& e) {
            throw ImportError(tableLabel(table) + ": " + e.what());
        }
        m_batch.clear();
        m_keys.clear();
        m_batchBytes = 0;
        m_firstOfBatch = 1;
        auto lastReport = std::chrono::steady_clock::now();
        m_source.readRows(table.source, [&](const std::vector<access::Value>& row) {
            stopIfInterrupted(m_progress);
            ++summary.rowsRead;
            std::vector<data::Value>& values = m_batch.emplace_back();
            values.reserve(table.columns.size());
            for (std::size_t c = 0; c < table.columns.size(); ++c) {
                const ColumnPlan& column = table.columns[c];
                try {
                    values.push_back(convertValue(c < row.size() ? row[c] : access::Value{}, column.sourceKind,
                                                  column.type, m_engine));
                } catch (const ValueRefused& e) {
                    throw ImportError(rowLabel(table, summary.rowsRead, keyText(table, row)) + ", column " +
                                      quoted(column.source) + ": " + e.what());
                }
                if (const auto* text = std::get_if<std::string>(&values.back()))
                    m_batchBytes += text->size();
            }
            if (!table.key.empty())
                m_keys.push_back(keyText(table, row));
            if (m_batch.size() >= BatchRows || m_batchBytes >= BatchBytes)
                summary.rowsWritten += flush(table);
            const auto now = std::chrono::steady_clock::now();
            if (m_progress && now - lastReport >= std::chrono::seconds(1)) {
                lastReport = now;
                m_progress->tableProgress(table.source, summary.rowsRead, table.rowCount, false);
            }
            return true;
        });
        summary.rowsWritten += flush(table);
        m_writer.reset();
        if (m_engine == Engine::Server)
            moveKeyCounters(table);
        if (m_progress)
            m_progress->tableProgress(table.source, summary.rowsWritten, table.rowCount, true);
        return summary;
    }

private:
    std::int64_t flush(const TablePlan& table)
    {
        const auto rows = static_cast<std::int64_t>(m_batch.size());
        if (rows == 0)
            return 0;
        try {
            m_writer->write(m_batch);
        } catch (const data::RowWriteError& e) {
            if (e.row() && *e.row() < m_batch.size())
                throw ImportError(rowLabel(table, m_firstOfBatch + static_cast<std::int64_t>(*e.row()),
                                           m_keys.empty() ? std::string() : m_keys[*e.row()]) +
                                  ": " + e.what());
            throw ImportError(tableLabel(table) + ", rows " + std::to_string(m_firstOfBatch) + " to " +
                              std::to_string(m_firstOfBatch + rows - 1) + ": " + e.what());
        } catch (const data::DatabaseError& e) {
            throw ImportError(tableLabel(table) + ", rows " + std::to_string(m_firstOfBatch) + " to " +
                              std::to_string(m_firstOfBatch + rows - 1) + ": " + e.what());
        }
        m_firstOfBatch += rows;
        m_batch.clear();
        m_keys.clear();
        m_batchBytes = 0;
        return rows;
    }

    // The server numbers new rows from its own counter, which rows written with their keys leave behind; SQLite's
    // AUTOINCREMENT follows the largest key by itself.
    void moveKeyCounters(const TablePlan& table)
    {
        for (const ColumnPlan& column : table.columns) {
            if (!column.type.autoIncrement)
                continue;
            const std::string name = data::quoteIdentifier(column.target);
            const std::string sql = "SELECT setval(pg_get_serial_sequence(" +
                                    data::text::quoted(data::quoteIdentifier(table.target), '\'') + ", " +
                                    data::text::quoted(column.target, '\'') + "), max(" + name + ")) FROM " +
                                    data::quoteIdentifier(table.target) + " HAVING max(" + name + ") IS NOT NULL";
            try {
                m_target.execute(sql);
            } catch (const data::DatabaseError& e) {
                throw ImportError(tableLabel(table) + ": the counter of its key " + quoted(column.target) +
                                  " cannot be moved past the stored keys: " + e.what());
            }
        }
    }

    const Source& m_source;
    data::Backend& m_target;
    Engine m_engine;
    ImportProgress* m_progress;
    std::unique_ptr<data::RowWriter> m_writer;
    std::vector<std::vector<data::Value>> m_batch;
    std::vector<std::string> m_keys; // of the batch's rows, when the table has a key
    std::size_t m_batchBytes = 0;
    std::int64_t m_firstOfBatch = 1; // the Access row number of the batch's first row
};

// The import in one transaction of the backend: anything that fails rolls it back, and `undone` (called once
// the backend is no longer used) finishes undoing it and says what became of the target.
ImportSummary importAllOrNothing(const Source& source, data::Backend& backend, Engine engine, ImportProgress* progress,
                                 const std::string& action, const std::function<std::string()>& undone)
{
    try {
        backend.beginTransaction();
        ImportSummary summary;
        try {
            summary = importTables(source, backend, engine, progress);
            stopIfInterrupted(progress);
        } catch (...) {
            try {
                backend.rollback();
            } catch (const data::DatabaseError&) {
                // The failure that brought us here is the one to report; the server drops an open transaction
                // with its connection anyway.
            }
            throw;
        }
        try {
            backend.commit();
        } catch (const data::DatabaseError& e) {
            throw ImportError(std::string("the import could not be committed: ") + e.what());
        }
        return summary;
    } catch (const std::exception& e) {
        throw ImportError(std::string(e.what()) + "\nNothing was " + action + ": " + undone());
    }
}

void removeDatabaseFile(const std::string& path)
{
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(path + suffix, ec);
}

} // namespace

ImportSummary importTables(const Source& source, data::Backend& target, Engine engine, ImportProgress* progress)
{
    stopIfInterrupted(progress);
    // What a newer program made, this one would fill past.
    data::refuseNewerSchema(target);
    ImportSummary summary;
    summary.source = source.description();
    summary.target = target.location();
    const std::vector<access::Table> tables = source.tables();
    const ImportPlan plan = planImport(tables, existingTables(tables, target), engine, &source);
    for (const std::string& statement : planStatements(plan, engine)) {
        try {
            target.execute(statement);
        } catch (const data::DatabaseError& e) {
            throw ImportError("the target refused to make a table or column (" + std::string(e.what()) + "):\n" +
                              statement);
        }
    }
    for (const data::TableDefinition* table : plan.schemaTablesToCreate)
        summary.schemaTablesCreated.emplace_back(table->name);
    TableWriter writer(source, target, engine, progress);
    for (const TablePlan& table : plan.tables)
        summary.tables.push_back(writer.write(table));
    summary.linkedTables = source.linkedTables();
    summary.warnings = source.warnings();
    // The tables of ours and the stamp of this schema, in the same transaction.
    data::upgradeSchema(target);
    return summary;
}

ImportSummary importInto(const Source& source, const ImportTarget& into, ImportProgress* progress)
{
    if (data::isServerSource(into.target)) {
        auto backend = data::PgBackend::connect(into.target, into.user, into.password.value_or(""));
        backend->setCommandTimeout(into.commandTimeout);
        return importAllOrNothing(source, *backend, Engine::Server, progress, into.action,
                                  [&] { return backend->location() + " is as it was."; });
    }

    const std::string path = fs::absolute(into.target).lexically_normal().string();
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) {
        if (into.password)
            throw ImportError(quoted(path) + " does not exist, and a new file gets no database password here: make "
                                             "it first with velmora-db create FILE --password P, then import into "
                                             "it with --db-password P");
        std::unique_ptr<data::SqliteBackend> backend = data::createDatabaseFile(path);
        backend->setCommandTimeout(into.commandTimeout);
        return importAllOrNothing(source, *backend, Engine::File, progress, into.action, [&] {
            backend.reset();
            removeDatabaseFile(path);
            return "the new file " + quoted(path) + " was removed.";
        });
    }

    std::unique_ptr<data::Backend> backend =
        data::connectProvider(data::toolConnectionString(path, into.user.empty() ? "Admin" : into.user, into.password),
                              fs::current_path().string() + "/");
    backend->setCommandTimeout(into.commandTimeout);
    return importAllOrNothing(source, *backend, Engine::File, progress, into.action,
                              [&] { return quoted(path) + " is as it was."; });
}

} // namespace velmora::transfer
