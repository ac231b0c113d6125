#include "data/Backend.h"
#include "data/Errors.h"

#include "test_access_support.h"

#include <gtest/gtest.h>

using namespace velmora::data;
using velmora::data::test::TempDir;

namespace {

std::string connectionString(const std::string& user, const std::string& source, const std::string& password)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";User ID=" + user + ";Data Source=" + source + ";" +
           "Mode=Share Deny None;Extended Properties=\"\";" + "Locale Identifier=1028;Jet OLEDB:System database=\"\";" +
           "Jet OLEDB:Registry Path=\"\";Jet OLEDB:" + "Database Password=" + password +
           ";Jet OLEDB:Engine Type=5;" + "Jet OLEDB:Database Locking Mode=1;" +
           "Jet OLEDB:Global Partial Bulk Ops=2;" + "Jet OLEDB:Global Bulk Transactions=1;" +
           "Jet OLEDB:New Database Password=\"\";" + "Jet OLEDB:Create System Database=False;" +
           "Jet OLEDB:Encrypt Database=False;" + "Jet OLEDB:" + "Don" + "'t Copy Locale on Compact=False;" +
           "Jet OLEDB:Compact Without Replica Repair=False;" + "Jet OLEDB:SFP=False;";
}

TEST(ProviderTest, OpensAnExistingFileAsAdmin)
{
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "data");
    test::makeDatabase(dir.file("data/velmdb.mdb"), "CREATE TABLE partment (部门名称 VARCHAR(50));"
                                                     "INSERT INTO partment VALUES ('药房');");
    auto backend = connectProvider(connectionString("admin", "data/velmdb.mdb", "mivotelq"), dir.folder());
    const ResultSet r = backend->openTable("partment");
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0], Value(std::string("药房")));
    EXPECT_EQ(r.columns[0].type, AdoType::adVarChar);
    EXPECT_EQ(r.columns[0].definedSize, 50);
}

} // namespace
