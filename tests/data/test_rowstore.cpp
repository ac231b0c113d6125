#include "data/dataset/RowStore.h"
#include "data/engines/SqliteBackend.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace velmora::data;
using velmora::test::TempFolder;

namespace {

std::vector<Value> rowNumber(int i)
{
    // Widths vary so that rows end at every place in a block; some rows are wider than a whole block.
    const std::size_t textBytes =
        i % 9973 == 0 ? (std::size_t{1} << 20) + static_cast<std::size_t>(i) % 7 : static_cast<std::size_t>(i % 301);
    return {Value{std::int64_t{i} * 1'000'003 - 5'000'000},
            Value{std::string(textBytes, static_cast<char>('a' + i % 26))}, i % 3 == 0 ? Value{} : Value{i * 0.5},
            Value{i % 2 == 0}};
}

TEST(RowStoreBlocksTest, ManyRowsOfEveryWidthComeBackAsStored)
{
    constexpr int rows = 140'000; // past the growing row-start chunks into the fixed ones
    RowStore store;
    store.reset(4);
    std::size_t valueBytes = 0;
    for (int i = 0; i < rows; ++i) {
        const std::vector<Value> row = rowNumber(i);
        valueBytes += 8 + std::get<std::string>(row[1]).size() + (isNull(row[2]) ? 0 : 8) + 1;
        store.appendRow(row);
    }
    ASSERT_EQ(store.rowCount(), rows);
    for (int i = 0; i < rows; i += i < 70'000 ? 1 : 97)
        ASSERT_EQ(store.row(i), rowNumber(i)) << i;
    EXPECT_EQ(store.row(rows - 1), rowNumber(rows - 1));
    EXPECT_EQ(store.value(9973 * 3, 1), rowNumber(9973 * 3)[1]);
    // Blocks are filled, not grown by doubling: what is held stays close to what is stored.
    EXPECT_LT(store.bytesUsed(), valueBytes + valueBytes / 5 + (std::size_t{2} << 20));

    store.replaceRow(5, rowNumber(9973));
    EXPECT_EQ(store.row(5), rowNumber(9973));
    EXPECT_EQ(store.row(6), rowNumber(6));
    EXPECT_THROW(store.cell(rows, 0), std::out_of_range);
    EXPECT_THROW(store.cell(-1, 0), std::out_of_range);

    store.reset(2);
    EXPECT_EQ(store.rowCount(), 0);
    EXPECT_EQ(store.bytesUsed(), 0u);
}

// Collects what a backend hands over row by row.
class Collect final : public RowSink
{
public:
    void begin(int columnCount) override { columns = columnCount; }
    void row(std::span<const CellView> cells) override
    {
        std::vector<Value>& row = rows.emplace_back();
        for (const CellView& cell : cells)
            row.push_back(cell.toValue());
    }

    int columns = -1;
    std::vector<std::vector<Value>> rows;
};

// A backend that only reads whole results, as one without its own streaming does: the interface hands its
// rows over one by one all the same.
class WholeResultsOnly final : public Backend
{
public:
    explicit WholeResultsOnly(Backend& inner) : m_inner(inner) {}
    ResultSet openTable(const std::string& table) override { return m_inner.openTable(table); }
    ResultSet openCommand(const std::string& text) override { return m_inner.openCommand(text); }
    std::int64_t insertRow(const std::string& table, const std::vector<std::pair<std::string, Value>>& v) override
    {
        return m_inner.insertRow(table, v);
    }
    void beginTransaction() override {}
    void commit() override {}
    void rollback() override {}
    void setCommandTimeout(int seconds) override { m_inner.setCommandTimeout(seconds); }

private:
    Backend& m_inner;
};

auto described(const ColumnDescription& c)
{
    return std::tie(c.name, c.type, c.definedSize, c.precision, c.scale, c.updatable, c.autoIncrement, c.baseTable,
                    c.baseColumn);
}

TEST(RowStreamTest, BackendsWithoutStreamingHandOverTheSameResults)
{
    TempFolder dir;
    auto db = createDatabaseFile(dir.file("s.db"));
    db->execute("CREATE TABLE t (id INTEGER PRIMARY KEY, s NVARCHAR(20), n INTEGER, ok BIT, d DATETIME, b BLOB);"
                "INSERT INTO t (s, n, ok, d, b) VALUES ('阿莫西林', 3, 1, '2026-01-02 03:04:05', x'00ff'),"
                " (NULL, NULL, 0, NULL, NULL), ('', -7, NULL, '2026-12-31 23:59:59', x'');");
    WholeResultsOnly whole(*db);
    const std::vector<std::string> commands = {
        "select * from t",
        "select s || '号' as label, n * 1.5 as half, max(n) over () as top, b from t",
        "select count(*) as c, sum(n) as total from t where 1=2",
        "select a.s, b.s, a.id from t a, t b where a.id = b.id",
    };
    {
        Backend* backend = &whole;
        for (const std::string& command : commands) {
            SCOPED_TRACE(command);
            const ResultSet expected = db->openCommand(command);
            Collect streamed;
            const std::vector<ColumnDescription> columns = backend->readCommand(command, streamed);
            EXPECT_EQ(streamed.columns, static_cast<int>(expected.columns.size()));
            ASSERT_EQ(columns.size(), expected.columns.size());
            for (std::size_t c = 0; c < columns.size(); ++c)
                EXPECT_EQ(described(columns[c]), described(expected.columns[c])) << c;
            EXPECT_EQ(streamed.rows, expected.rows);
        }
        Collect table;
        const std::vector<ColumnDescription> columns = backend->readTable("t", table);
        EXPECT_EQ(columns.size(), 6u);
        EXPECT_EQ(table.rows, db->openTable("t").rows);
        EXPECT_EQ(table.rows.at(0).at(3), Value{true});
    }
}

} // namespace
