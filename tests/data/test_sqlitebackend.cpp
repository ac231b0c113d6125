#include "data/Errors.h"
#include "data/SqliteBackend.h"

#include "test_access_support.h"

#include <gtest/gtest.h>

using namespace velmora::data;
using velmora::data::test::TempDir;

namespace {

class SqliteBackendTest : public ::testing::Test
{
protected:
    void SetUp() override { m_db = createDatabaseFile(m_dir.file("t.db")); }

    const ColumnDescription& column(const ResultSet& r, std::string_view name)
    {
        for (const auto& c : r.columns) {
            if (c.name == name)
                return c;
        }
        throw std::runtime_error("no column " + std::string(name));
    }

    TempDir m_dir;
    std::unique_ptr<SqliteBackend> m_db;
};

TEST_F(SqliteBackendTest, InsertedRowGetsItsAutoIncrementValue)
{
    m_db->execute("CREATE TABLE oper (登录时间 DATETIME, 退出时间 DATETIME, userid NVARCHAR(50), "
                  "operid INTEGER PRIMARY KEY AUTOINCREMENT)");
    const auto first = m_db->insertRow("oper", {{"登录时间", std::string("2026-01-02 03:04:05")},
                                                {"userid", std::string("7")}});
    const auto second = m_db->insertRow("oper", {{"userid", std::string("8")}});
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);

    const ResultSet r = m_db->openCommand("select  * from oper ");
    ASSERT_EQ(r.rows.size(), 2u);
    const auto& key = column(r, "operid");
    EXPECT_EQ(key.type, AdoType::adInteger);
    EXPECT_TRUE(key.autoIncrement);
    EXPECT_FALSE(key.updatable);
    EXPECT_EQ(r.rows[1][3], Value(std::int64_t{2}));
    EXPECT_EQ(r.rows[0][0], Value(std::string("2026-01-02 03:04:05")));
    EXPECT_TRUE(isNull(r.rows[1][0]));
}

} // namespace
