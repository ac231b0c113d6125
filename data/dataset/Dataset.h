#pragma once

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/dataset/Field.h"
#include "data/dataset/RowStore.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::data {

class Connection;

enum class DatasetKind { Query, Table, Command };
enum class CursorType { Keyset, Static };
enum class LockType { Optimistic, BatchOptimistic };

// How a dataset opens its result; every dataset uses a client-side cursor.
struct DatasetSettings
{
    DatasetKind kind = DatasetKind::Command;
    CursorType cursorType = CursorType::Keyset;
    LockType lockType = LockType::Optimistic;
    int cacheSize = 1;
    bool paramCheck = true;
    int commandTimeout = DefaultCommandTimeoutSeconds; // seconds; the connection's counts instead when shorter
};

// A declared field. Size: characters for text, the scale for BCD. A lookup field has no column of its own:
// it shows `resultField` of the row of `lookupDataset` whose `lookupKey` equals this row's `keyField`.
struct FieldDefinition
{
    std::string_view name;
    FieldKind kind;
    int size = 0;
    int precision = 0;
    unsigned flags = 0; // ColumnFlag bits (Required, ReadOnly)
    std::string_view label = {};
    std::string_view keyField = {};
    std::string_view lookupDataset = {};
    std::string_view lookupKey = {};
    std::string_view resultField = {};

    bool isLookup() const { return !lookupDataset.empty(); }
};

struct LocateOptions
{
    bool caseInsensitive = false;
    bool partialKey = false;
};

// A table, query or command over a connection, holding its whole result on the client.
class Dataset
{
public:
    // Finds another dataset by name, for lookup fields.
    using DatasetFinder = std::function<Dataset*(std::string_view)>;

    // `source` is the table name of a table dataset, the command text otherwise.
    Dataset(std::string name, Connection& connection, DatasetSettings settings, std::string source,
            std::vector<FieldDefinition> declaredFields = {}, DatasetFinder findDataset = {});
    ~Dataset();
    Dataset(const Dataset&) = delete;
    Dataset& operator=(const Dataset&) = delete;

    const std::string& name() const { return m_name; }
    Connection& connection() const { return *m_connection; }
    const DatasetSettings& settings() const { return m_settings; }
    const std::string& tableName() const;   // empty unless a table dataset
    const std::string& commandText() const; // empty for a table dataset

    void open(); // connects first when the connection is closed; a failed open leaves the dataset closed
    void close();
    bool active() const { return m_active; }

    // The result's columns as the database described them (empty while closed).
    const std::vector<ColumnDescription>& columns() const { return m_columns; }

    int recordCount() const;
    int recNo() const; // 0-based current row, -1 when there is none
    void moveTo(int index);
    void first();
    void last();
    void next();
    void prior();
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }

    // Letter case ignored. Declared fields exist while the dataset is closed (reading them gives no
    // value); the fields of a dataset without declared ones exist only while it is open.
    Field& fieldByName(std::string_view name);
    Field* findField(std::string_view name);
    const std::vector<std::unique_ptr<Field>>& fields() const { return m_fields; }

    void append();
    void post();
    void cancel();
    bool editing() const { return m_editing; }
    // Rows posted but not yet sent (batch-optimistic datasets only).
    int pendingUpdates() const { return static_cast<int>(m_pending.size()); }

    bool locate(std::string_view fieldName, const std::string& value, LocateOptions options = {});
    // The value of `resultField` in the first row whose `keyField` equals `key`; no value when none matches
    // or the dataset is closed. Does not move the current row.
    Value lookup(std::string_view keyField, const Value& key, std::string_view resultField);
    void applyUpdates();

    // Bytes the held rows take.
    std::size_t rowBytes() const { return m_rows.bytesUsed(); }

private:
    friend class Field;

    Value cellValue(int column) const;
    Value fieldValueAt(const Field& field, int row);
    Value fieldValue(const Field& field);
    void setCell(const Field& field, Value value);
    void bindFields(bool emptyResult);
    void unbindFields();
    void makeDeclaredFields();
    void checkBrowseMode();
    void checkActive() const;
    std::string baseTable() const;
    std::vector<std::pair<std::string, Value>> insertValues(const std::vector<Value>& row,
                                                            const std::string& table) const;
    int autoIncrementColumn(const std::string& table) const;
    // The connection's engine, set to run the next commands under this dataset's time-out.
    Backend& backendForCommands();
    [[noreturn]] void fail(const std::string& message, ErrorCause cause = {}) const;

    std::string m_name;
    Connection* m_connection;
    DatasetSettings m_settings;
    std::string m_source;
    std::vector<FieldDefinition> m_declared;
    DatasetFinder m_findDataset;

    bool m_active = false;
    std::vector<ColumnDescription> m_columns;
    std::vector<std::unique_ptr<Field>> m_fields;
    RowStore m_rows;
    int m_current = -1;
    bool m_bof = true;
    bool m_eof = true;

    bool m_editing = false;
    bool m_modified = false;
    int m_rowBeforeEdit = -1;
    std::vector<Value> m_editRow;
    std::vector<int> m_pending;
};

} // namespace velmora::data
