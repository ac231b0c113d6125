#pragma once

#include "data/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora::data {

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
    std::string name;      // as the result names it (duplicates already told apart)
    AdoType type = AdoType::adEmpty;
    int definedSize = 0;   // characters for text kinds
    int precision = 0;
    int scale = 0;
    bool updatable = false;
    bool autoIncrement = false;
    std::string baseTable;  // table the column is read from, empty when computed
    std::string baseColumn; // its name there
};

// A whole result read at once: client-side cursors hold every row.
struct ResultSet
{
    std::vector<ColumnDescription> columns;
    std::vector<std::vector<Value>> rows;
};

// The narrow interface between the data module and a database engine. The
// embedded engine is SQLite; nothing above this interface knows which engine
// it talks to. Every failure throws DatabaseError with the engine's text.
class Backend
{
public:
    virtual ~Backend() = default;

    // The whole table, by name.
    virtual ResultSet openTable(const std::string& table) = 0;
    // A command text as the data module stores it; the backend adapts what
    // its engine reads differently.
    virtual ResultSet openCommand(const std::string& commandText) = 0;
    // Inserts one row and returns the key the database generated for it
    // (0 when the table has none).
    virtual std::int64_t insertRow(const std::string& table,
                                   const std::vector<std::pair<std::string, Value>>& values) = 0;
    // Several changes as one unit: all are written or none.
    virtual void beginTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    // Where the data lives, for messages (a database file's full path); never holds a password.
    virtual std::string location() const { return {}; }
};

// Connects through the provider named by an OLE DB connection string.
// executableFolder resolves a relative Data Source. Throws DatabaseError with
// a message naming the cause; nothing stays open after a failure.
std::unique_ptr<Backend> connectProvider(const std::string& connectionString, const std::string& executableFolder);

} // namespace velmora::data
