// The import on both backends: the public sample files whole, the refused second import, a failure half-way
// leaving the target as it was, and the kind mapping and column matching on made-up tables (nothing here writes
// Access files).
#include "import/Import.h"

#include "data/Decimal.h"
#include "tests/support/BackendTest.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/HeldLock.h"
#include "tests/support/PrivateServer.h"
#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <thread>

using namespace velmora;
using namespace velmora::test;
using access::Kind;
using transfer::ImportError;
using namespace std::chrono_literals;

namespace {

const std::string nwind = VELMORA_TEST_DATA "/nwind.mdb";
const std::string dateTest = VELMORA_TEST_DATA "/DateTestDatabase.mdb";

// Tables and rows a test makes up, as an Access file would give them.
class MadeUpSource final : public transfer::Source
{
public:
    void add(access::Table table, std::vector<std::vector<access::Value>> rows)
    {
        table.rowCount = static_cast<std::int64_t>(rows.size());
        m_tables.push_back({std::move(table), std::move(rows)});
    }

    std::vector<access::Table> tables() const override
    {
        std::vector<access::Table> out;
        for (const auto& [table, rows] : m_tables)
            out.push_back(table);
        return out;
    }
    void readRows(const std::string& name,
                  const std::function<bool(const std::vector<access::Value>&)>& onRow) const override
    {
        for (const auto& [table, rows] : m_tables)
            if (table.name == name)
                for (const auto& row : rows)
                    if (!onRow(row))
                        return;
    }
    std::string description() const override { return "made-up tables"; }

private:
    std::vector<std::pair<access::Table, std::vector<std::vector<access::Value>>>> m_tables;
};

class ImportTest : public BackendTest
{
protected:
    transfer::ImportTarget target() const
    {
        if (!onServer())
            return {db->path(), "", std::nullopt};
        return {db->source(), db->server()->user, db->server()->password};
    }

    transfer::ImportSummary importFile(const std::string& accessFile)
    {
        return transfer::importInto(transfer::AccessSource(accessFile), target(), nullptr);
    }

    std::string value(const std::string& sql)
    {
        const auto rows = db->rows(sql);
        return rows.empty() || rows.front().empty() ? "(no row)" : rows.front().front();
    }

    std::vector<std::string> tableNames()
    {
        const std::string sql = onServer() ? "SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY 1"
                                           : "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY 1";
        std::vector<std::string> names;
        for (const auto& row : db->rows(sql))
            names.push_back(row.front());
        return names;
    }

    // The declared type of each column, as the engine spells it.
    std::map<std::string, std::string> declaredTypes(const std::string& table)
    {
        const std::string sql =
            onServer() ? "SELECT attname, format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = '\"" +
                             table + "\"'::regclass AND attnum > 0 AND NOT attisdropped"
                       : "SELECT name, type FROM pragma_table_info('" + table + "')";
        std::map<std::string, std::string> types;
        for (const auto& row : db->rows(sql))
            types[row.at(0)] = row.at(1);
        return types;
    }
}; // namespace

const std::map<std::string, std::int64_t> nwindRows = {
    {"Categories", 8}, {"Customers", 91}, {"Employees", 9},  {"Order Details", 2155}, {"Orders", 830},
    {"Products", 77},  {"Shippers", 3},   {"Suppliers", 29}, {"Umsätze", 830},
};

} // namespace

TEST_P(ImportTest, TheSampleShopArrivesWholeAndExact)
{
    const transfer::ImportSummary summary = importFile(nwind);

    std::map<std::string, std::int64_t> written;
    for (const transfer::TableSummary& table : summary.tables) {
        EXPECT_EQ(table.rowsRead, table.rowsWritten) << table.source;
        EXPECT_TRUE(table.created) << table.source;
        written[table.source] = table.rowsWritten;
        EXPECT_EQ(value("SELECT count(*) FROM \"" + table.target + "\""), std::to_string(nwindRows.at(table.source)))
            << table.source;
    }
    EXPECT_EQ(written, nwindRows);
    EXPECT_EQ(summary.schemaTablesCreated.size(), 12u);

    // Jet 3 text in its code page, arriving as UTF-8.
    EXPECT_EQ(value("SELECT \"City\" FROM \"Customers\" WHERE \"CustomerID\" = 'ANATR'"), "México D.F.");
    EXPECT_EQ(value("SELECT count(*) FROM \"Umsätze\" WHERE \"ShipCity\" = 'México D.F.'"),
              value("SELECT count(*) FROM \"Orders\" WHERE \"ShipCity\" = 'México D.F.'"));
    EXPECT_EQ(value("SELECT \"OrderDate\" FROM \"Orders\" WHERE \"OrderID\" = 10248"), "1994-08-04 00:00:00");

    // Currency exact: each value to the cent, and their sum to the Access file's.
    EXPECT_EQ(data::Decimal::parse(value("SELECT \"Freight\" FROM \"Orders\" WHERE \"OrderID\" = 10248")),
              data::Decimal::parse("32.38"));
    EXPECT_EQ(value("SELECT CAST(round(sum(\"Freight\") * 10000) AS INTEGER) FROM \"Orders\""), "649426900");

    // The AutoNumber key keeps its values, and the next row is numbered past them.
    EXPECT_EQ(value("SELECT max(\"OrderID\") FROM \"Orders\""), "11077");
    db->run("INSERT INTO \"Orders\" (\"CustomerID\") VALUES ('ANATR')");
    EXPECT_EQ(value("SELECT max(\"OrderID\") FROM \"Orders\""), "11078");
}

// A table copied whole keeps its primary key and the columns Access requires as NOT NULL (a key's columns
// too): the database refuses what Access refused.
TEST_P(ImportTest, CopiedTablesKeepTheirKeysAndRequiredColumns)
{
    importFile(nwind);
    const struct
    {
        const char* table;
        std::vector<std::string> key;
        std::set<std::string> notNull;
    } cases[] = {
        {"Order Details", {"OrderID", "ProductID"}, {"OrderID", "ProductID", "UnitPrice", "Quantity", "Discount"}},
        {"Customers", {"CustomerID"}, {"CustomerID", "CompanyName"}},
        {"Orders", {"OrderID"}, {"OrderID"}}, // its AutoNumber
        {"Employees", {"EmployeeID"}, {"EmployeeID", "LastName", "FirstName"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        std::vector<std::string> key;
        std::set<std::string> notNull;
        if (onServer()) {
            const std::string table = "'\"" + std::string(c.table) + "\"'::regclass";
            const std::string keySql =
                "SELECT a.attname FROM pg_index i JOIN pg_attribute a ON a.attrelid = "
                "i.indrelid AND a.attnum = ANY (i.indkey) WHERE i.indisprimary AND i.indrelid = " +
                table + " ORDER BY array_position(i.indkey::int2[], a.attnum)";
            for (const auto& row : db->rows(keySql))
                key.push_back(row.at(0));
            for (const auto& row : db->rows("SELECT attname FROM pg_attribute WHERE attrelid = " + table +
                                            " AND attnum > 0 AND attnotnull"))
                notNull.insert(row.at(0));
        } else {
            for (const auto& row : db->rows(std::string("SELECT name, \"notnull\", pk FROM pragma_table_info('") +
                                            c.table + "') ORDER BY pk")) {
                if (row.at(2) != "0")
                    key.push_back(row.at(0));
                if (row.at(1) != "0" || row.at(2) != "0")
                    notNull.insert(row.at(0));
            }
        }
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(notNull, c.notNull);
    }
    // The key refuses a second row of the same order and product, as Access did.
    EXPECT_ANY_THROW(db->run("INSERT INTO \"Order Details\" (\"OrderID\", \"ProductID\", \"UnitPrice\", \"Quantity\", "
                             "\"Discount\") VALUES (10248, 11, 14, 12, 0)"));
}

// Tables the Access file only links to have no rows in it: the summary names them as not imported.
TEST_P(ImportTest, LinkedTablesAreListedAsNotImported)
{
    class WithLinks final : public transfer::Source
    {
    public:
        std::vector<access::Table> tables() const override { return {}; }
        void readRows(const std::string&, const std::function<bool(const std::vector<access::Value>&)>&) const override
        {
        }
        std::string description() const override { return "a file with links"; }
        std::vector<access::LinkedTable> linkedTables() const override
        {
            return {{"Lieferanten", "C:\\Daten\\Lager.mdb"}, {"Kunden", "an ODBC data source"}};
        }
    } source;
    const transfer::ImportSummary summary = transfer::importInto(source, target(), nullptr);
    ASSERT_EQ(summary.linkedTables.size(), 2u);
    EXPECT_EQ(summary.linkedTables[0].name, "Lieferanten");
    EXPECT_EQ(summary.linkedTables[1].source, "an ODBC data source");
    const std::vector<std::string> tables = tableNames();
    EXPECT_EQ(std::count(tables.begin(), tables.end(), "Lieferanten"), 0);
}

TEST_P(ImportTest, DatesOfEveryYearAndMemoLineBreaksArriveUnchanged)
{
    importFile(dateTest);

    const auto rows = db->rows("SELECT \"IDCol\", \"DateTimeCol\", \"DateCol\", \"LongTextCol\" FROM \"DateTest\" "
                               "ORDER BY \"IDCol\"");
    ASSERT_EQ(rows.size(), 6u);
    const std::vector<std::vector<std::string>> expected = {
        {"1", "2021-12-02 00:00:00", "2021-12-02 00:00:00", "Hello"},
        {"2", "9999-01-01 00:00:00", "9999-01-01 00:00:00", "Year 9999"},
        {"3", "1898-01-01 00:00:00", "1899-01-01 00:00:00", "Pre-1900 years"},
        {"4", "0632-01-01 00:00:00", "0633-01-01 00:00:00", "Pre-1000 years"},
        {"5", "2021-12-02 00:00:00", "2021-12-02 00:00:00", "Escaped new line \\r\\n in field"},
        {"6", "2021-12-02 00:00:00", "2021-12-02 00:00:00", "New line\r\nin field"},
    };
    EXPECT_EQ(rows, expected);
}

TEST_P(ImportTest, ASecondImportIsRefusedAndChangesNothing)
{
    importFile(nwind);
    const std::vector<std::string> tables = tableNames();

    std::string message;
    try {
        importFile(nwind);
    } catch (const ImportError& e) {
        message = e.what();
    }
    EXPECT_NE(message.find("already holds rows"), std::string::npos) << message;
    EXPECT_NE(message.find("'Orders'"), std::string::npos) << message;
    EXPECT_EQ(tableNames(), tables);
    EXPECT_EQ(value("SELECT count(*) FROM \"Orders\""), "830");
    EXPECT_EQ(value("SELECT count(*) FROM \"Umsätze\""), "830");
}

// A table the target already holds, empty, refuses the second shipper: the message names the table, the row
// and its key, and nothing of the import stays, neither the rows of the tables before it nor the tables made.
TEST_P(ImportTest, ARowTheTargetRefusesLeavesItAsItWas)
{
    db->run("CREATE TABLE \"Shippers\" (\"ShipperID\" INTEGER, \"CompanyName\" VARCHAR(40) "
            "CHECK (\"CompanyName\" <> 'United Package'), \"Phone\" VARCHAR(24))");
    const std::vector<std::string> before = tableNames();

    std::string message;
    try {
        importFile(nwind);
    } catch (const ImportError& e) {
        message = e.what();
    }
    EXPECT_NE(message.find("table 'Shippers', row 2 (ShipperID 2)"), std::string::npos) << message;
    EXPECT_NE(message.find("as it was"), std::string::npos) << message;
    EXPECT_EQ(tableNames(), before);
    EXPECT_EQ(value("SELECT count(*) FROM \"Shippers\""), "0");
}

// Each Access kind as the column the import makes for it, and a value of it read back from the engine.
TEST_P(ImportTest, EachKindTakesItsColumnAndKeepsItsValue)
{
    const struct
    {
        access::Column column;
        access::Value value;
        const char* fileType;
        const char* serverType;
        const char* fileText; // the value as the engine prints it
        const char* serverText;
    } cases[] = {
        {{"id", Kind::AutoNumber}, std::int64_t{7}, "INTEGER", "integer", "7", "7"},
        {{"text", Kind::Text, 12},
         std::string("Ünïcødé 药品"),
         "NVARCHAR(12)",
         "character varying(12)",
         "Ünïcødé 药品",
         "Ünïcødé 药品"},
        // A memo that reads as a number stays text.
        {{"memo", Kind::Memo}, std::string("0012"), "LONGTEXT", "text", "0012", "0012"},
        {{"byte", Kind::Byte}, std::int64_t{255}, "SMALLINT", "smallint", "255", "255"},
        {{"integer", Kind::Integer}, std::int64_t{-32768}, "SMALLINT", "smallint", "-32768", "-32768"},
        {{"long", Kind::LongInteger}, std::int64_t{2147483647}, "INTEGER", "integer", "2147483647", "2147483647"},
        {{"money", Kind::Currency},
         access::Currency{1234567890123},
         "CURRENCY",
         "numeric(19,4)",
         "123456789.0123",
         "123456789.0123"},
        {{"exact", Kind::Decimal, 0, 18, 4},
         access::ExactDecimal{false, 3000, 4},
         "DECIMAL(18,4)",
         "numeric(18,4)",
         "0.3",
         "0.3000"},
        // A Single as the float it was, not its widening's digits.
        {{"single", Kind::Single}, double(0.15f), "REAL", "real", "0.15", "0.15"},
        {{"double", Kind::Double}, 0.1, "DOUBLE", "double precision", "0.1", "0.1"},
        {{"when", Kind::DateTime},
         access::DateTime{100, 1, 1, 23, 59, 59},
         "DATETIME",
         "timestamp(0) without time zone",
         "0100-01-01 23:59:59",
         "0100-01-01 23:59:59"},
        {{"yes", Kind::Boolean}, true, "BIT", "boolean", "1", "t"},
        {{"replica", Kind::ReplicationId},
         std::string("{12345678-9ABC-DEF0-1234-56789ABCDEF0}"),
         "NVARCHAR(38)",
         "character varying(38)",
         "{12345678-9ABC-DEF0-1234-56789ABCDEF0}",
         "{12345678-9ABC-DEF0-1234-56789ABCDEF0}"},
    };
    access::Table table{"Kinds", {}, 0, {}};
    std::vector<access::Value> row;
    for (const auto& c : cases) {
        table.columns.push_back(c.column);
        row.push_back(c.value);
    }
    table.columns.push_back({"picture", Kind::Binary, 16});
    row.push_back(access::Bytes{0x00, 0x01, 0xff});
    MadeUpSource source;
    source.add(table, {row});

    transfer::importInto(source, target(), nullptr);

    const std::map<std::string, std::string> types = declaredTypes("Kinds");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column.name);
        EXPECT_EQ(types.at(c.column.name), onServer() ? c.serverType : c.fileType);
        EXPECT_EQ(value("SELECT \"" + c.column.name + "\" FROM \"Kinds\""), onServer() ? c.serverText : c.fileText);
    }
    EXPECT_EQ(types.at("picture"), onServer() ? "bytea" : "BLOB");
    EXPECT_EQ(value(onServer() ? "SELECT upper(encode(picture, 'hex')) FROM \"Kinds\""
                               : "SELECT hex(picture) FROM \"Kinds\""),
              "0001FF");
    db->run("INSERT INTO \"Kinds\" (\"text\") VALUES ('next')");
    EXPECT_EQ(value("SELECT \"id\" FROM \"Kinds\" WHERE \"text\" = 'next'"), "8");
}

// Text with the characters the server's bulk writer (COPY) must escape arrives as it was, in a copied table
// and in a schema table.
TEST_P(ImportTest, TabsLineBreaksAndBackslashesArriveAsTheyWere)
{
    const std::vector<std::string> texts = {"阿莫西林\t胶囊", "第一行\r\n第二行", "C:\\药\\N", "\\N", "a\\tb"};
    MadeUpSource source;
    std::vector<std::vector<access::Value>> rows, operators;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        rows.push_back({static_cast<std::int64_t>(i + 1), texts[i]});
        operators.push_back({"op" + std::to_string(i), static_cast<std::int64_t>(i), texts[i]});
    }
    source.add({"Notes", {{"id", Kind::AutoNumber}, {"note", Kind::Memo}}, 0, {"id"}}, rows);
    source.add(
        {"OperatorTable", {{"username", Kind::Text, 10}, {"userid", Kind::LongInteger}, {"remark", Kind::Memo}}, 0, {}},
        operators);

    transfer::importInto(source, target(), nullptr);

    std::vector<std::string> notes, remarks;
    for (const auto& row : db->rows("SELECT note FROM \"Notes\" ORDER BY id"))
        notes.push_back(row.at(0));
    for (const auto& row : db->rows("SELECT remark FROM \"OperatorTable\" ORDER BY userid"))
        remarks.push_back(row.at(0));
    EXPECT_EQ(notes, texts);
    EXPECT_EQ(remarks, texts);
}

// A value its column cannot hold stops the import with the table, row, key and column named; nothing is cut
// short or rounded past the column's scale.
TEST_P(ImportTest, AValueItsColumnCannotHoldIsNamed)
{
    const struct
    {
        access::Column column;
        access::Value value;
        const char* why;
    } cases[] = {
        {{"name", Kind::Text, 3}, std::string("四个汉字"), "4 characters long; the column holds 3"},
        {{"when", Kind::DateTime}, std::string("yesterday"), "is not a date-time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column.name);
        MadeUpSource source;
        source.add({"Things", {{"id", Kind::AutoNumber}, c.column}, 0, {"id"}},
                   {{std::int64_t{1}, access::Value{}}, {std::int64_t{5}, c.value}});
        std::string message;
        try {
            transfer::importInto(source, target(), nullptr);
        } catch (const ImportError& e) {
            message = e.what();
        }
        EXPECT_NE(message.find("table 'Things', row 2 (id 5), column '" + c.column.name + "'"), std::string::npos)
            << message;
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        if (onServer()) {
            const std::vector<std::string> tables = tableNames();
            EXPECT_EQ(std::count(tables.begin(), tables.end(), "Things"), 0);
        } else {
            EXPECT_FALSE(std::filesystem::exists(db->path())); // the new file removed again
        }
    }
}

// A NaN or an infinity in a Double column: the file would keep a NaN as no value without a word, so the
// import stops there with the row named; the server keeps each as it is.
TEST_P(ImportTest, NaNAndInfinitiesAreKeptOnTheServerAndRefusedOnTheFile)
{
    const struct
    {
        double value;
        const char* server; // as the server prints it
    } cases[] = {
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "Infinity"},
        {-std::numeric_limits<double>::infinity(), "-Infinity"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        db = std::make_unique<TestDatabase>(GetParam());
        MadeUpSource source;
        source.add({"Measures", {{"id", Kind::AutoNumber}, {"x", Kind::Double}}, 0, {"id"}},
                   {{std::int64_t{1}, 1.5}, {std::int64_t{5}, c.value}});
        std::string message;
        try {
            transfer::importInto(source, target(), nullptr);
        } catch (const ImportError& e) {
            message = e.what();
        }
        if (onServer()) {
            EXPECT_EQ(message, "");
            EXPECT_EQ(value("SELECT x::text FROM \"Measures\" WHERE id = 5"), c.server);
        } else {
            EXPECT_NE(message.find("table 'Measures', row 2 (id 5), column 'x'"), std::string::npos) << message;
            EXPECT_NE(message.find("a database file can keep"), std::string::npos) << message;
            EXPECT_FALSE(std::filesystem::exists(db->path()));
        }
    }
}

// The schema's tables are found in any letter case and their columns likewise; a column the schema lacks is
// added with its mapped kind and one the Access table lacks is left empty, so an old system's operators come
// over with everything they had: into a target the import gives the schema, and into tables already there
// (as velmora-db create makes them), whose columns it reads from the database.
TEST_P(ImportTest, SchemaTablesMatchColumnsInAnyCaseAndGainTheirExtras)
{
    for (const bool created : {false, true}) {
        SCOPED_TRACE(created ? "into the tables create made" : "into an empty target");
        db = std::make_unique<TestDatabase>(GetParam());
        if (created)
            db->run(db->schema());
        MadeUpSource source;
        source.add({"OPERATORTABLE",
                    {{"UserName", Kind::Text, 10},
                     {"USERID", Kind::LongInteger},
                     {"Passwords", Kind::Text, 50},
                     {"Able", Kind::LongInteger},
                     {"Remark2", Kind::Memo}},
                    0,
                    {}},
                   {{std::string("王药师"), std::int64_t{3}, std::string("mima"), std::int64_t{127},
                     std::string("夜班\n周末")}});

        const transfer::ImportSummary summary = transfer::importInto(source, target(), nullptr);

        ASSERT_EQ(summary.tables.size(), 1u);
        const transfer::TableSummary& table = summary.tables.front();
        EXPECT_EQ(summary.schemaTablesCreated.size(), created ? 0u : 12u);
        EXPECT_EQ(table.target, "OperatorTable");
        EXPECT_TRUE(table.schemaTable);
        EXPECT_EQ(table.addedColumns, std::vector<std::string>{onServer() ? "Remark2 text" : "Remark2 LONGTEXT"});
        EXPECT_NE(std::find(table.missingColumns.begin(), table.missingColumns.end(), "oper"),
                  table.missingColumns.end());
        EXPECT_EQ(std::find(table.missingColumns.begin(), table.missingColumns.end(), "username"),
                  table.missingColumns.end());

        const auto rows =
            db->rows("SELECT username, userid, passwords, able, \"Remark2\", oper FROM \"OperatorTable\"");
        const std::vector<std::vector<std::string>> expected = {
            {"王药师", "3" + std::string(onServer() ? "" : ".0"), "mima", "127", "夜班\n周末", ""}};
        EXPECT_EQ(rows, expected);
    }
}

// A new file that cannot grow to hold the import (a full disk) is removed again.
TEST(ImportIntoANewFile, AFullDiskLeavesNoFile)
{
    TempFolder folder;
    const std::string path = folder.file("shop.mdb");
    std::string message;
    {
        FileSizeLimit limit(256 * 1024);
        ASSERT_TRUE(limit.ok());
        try {
            transfer::importInto(transfer::AccessSource(nwind), {path, "", std::nullopt}, nullptr);
        } catch (const ImportError& e) {
            message = e.what();
        }
    }
    EXPECT_NE(message.find("was removed"), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
}

// A server that stops answering while the import's bulk writer (COPY) waits for it: the import ends after its
// command time-out and the grace, with the time-out's message, while the server is still stopped, and nothing of
// it stays.
TEST(ImportIntoAServer, AStoppedServerEndsTheImportAfterTheTimeOut)
{
    PrivateServer server;
    if (!server.whyNot().empty())
        GTEST_SKIP() << server.whyNot();
    TestDatabase db(server.server());
    db.run(db.schema());
    MadeUpSource source;
    std::vector<std::vector<access::Value>> operators;
    for (std::int64_t i = 1; i <= 10; ++i)
        operators.push_back({"op" + std::to_string(i), i, std::string("pw"), std::int64_t{1}});
    source.add({"OperatorTable",
                {{"username", Kind::Text, 10},
                 {"userid", Kind::LongInteger},
                 {"passwords", Kind::Text, 50},
                 {"able", Kind::LongInteger}},
                0,
                {}},
               operators);

    // The COPY waits for this session's lock on its table; once it does, the server stops.
    constexpr int timeout = 3;
    constexpr auto stoppedFor = 60s;
    HeldLock lock(db, "BEGIN; LOCK TABLE \"OperatorTable\" IN SHARE MODE", stoppedFor);
    ASSERT_EQ(lock.error(), "");
    std::string stopper;
    std::thread stopping([&] {
        ServerSession watcher(db.source() + "?user=" + db.server()->user + "&password=" + db.server()->password);
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < end) {
            if (watcher.rows("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND query LIKE "
                             "'COPY%'")[0][0] != "0") {
                server.pause(stoppedFor);
                return;
            }
            std::this_thread::sleep_for(10ms);
        }
        stopper = "the import's COPY never waited for the lock within 30 s";
    });

    const auto started = std::chrono::steady_clock::now();
    std::string message;
    try {
        transfer::importInto(source, {db.source(), db.server()->user, db.server()->password, timeout}, nullptr);
    } catch (const ImportError& e) {
        message = e.what();
    }
    const auto took = std::chrono::steady_clock::now() - started;
    stopping.join();
    server.resume();
    lock.release();

    ASSERT_EQ(stopper, "");
    EXPECT_LT(took, stoppedFor) << "the import waited for the server to go on";
    for (const char* part : {"did not finish within 3 seconds; the server gave no answer, and the connection to it "
                             "is closed",
                             "Nothing was imported"})
        EXPECT_NE(message.find(part), std::string::npos) << message;
    EXPECT_EQ(db.number("SELECT count(*) FROM \"OperatorTable\""), 0);
}

VELMORA_INSTANTIATE_FOR_BACKENDS(ImportTest);
