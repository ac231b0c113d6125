// The sign-on's record (appendLoginRecord), as the login, the benchmark and the reliability tests use it: one row
// per call with the sign-on's time and session number, its key returned; a write that fails leaves no row, no
// half-made record in the dataset, and says by its kind why it failed.

#include "data/Errors.h"
#include "data/engines/SqliteBackend.h"
#include "data/module/DMod.h"
#include "data/module/LoginRecord.h"
#include "tests/support/BackendTest.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/WriteFault.h"

#include <gtest/gtest.h>

#include <regex>

using namespace velmora::data;
using namespace velmora::test;

namespace {

class LoginRecordTest : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(db->schema() + "INSERT INTO oper (\"登录时间\", userid) VALUES ('2024-01-02 08:00:00', '1');");
        dmod = std::make_unique<TDMod>(db->folder());
        dmod->ADOCON().setConnectionString(db->connectionString());
    }

    std::unique_ptr<TDMod> dmod;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(LoginRecordTest);

TEST_P(LoginRecordTest, EachCallAddsOneRecordAndReturnsItsKey)
{
    ASSERT_FALSE(dmod->toper().active());
    const std::int64_t first = appendLoginRecord(*dmod, 1); // opens toper itself
    const std::int64_t second = appendLoginRecord(*dmod, 7);
    EXPECT_TRUE(dmod->toper().active());
    EXPECT_FALSE(dmod->toper().editing());
    EXPECT_GT(first, 1);
    EXPECT_GT(second, first);

    const auto rows = db->rows("SELECT operid, userid, \"登录时间\" FROM oper ORDER BY operid");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][0], std::to_string(first));
    EXPECT_EQ(rows[1][1], "1");
    EXPECT_EQ(rows[2][0], std::to_string(second));
    EXPECT_EQ(rows[2][1], "7");
    const std::regex moment(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    EXPECT_TRUE(std::regex_match(rows[2][2], moment)) << rows[2][2];
}

struct FaultCase
{
    const char* name;
    WriteFault::Kind fault;
    ErrorKind kind;
    const char* told; // in the Chinese first line, beside "没有保存"
};

const FaultCase faultCases[] = {
    {"database full", WriteFault::DatabaseFull, ErrorKind::DiskFull, "磁盘已满"},
    {"disk refuses the write", WriteFault::DiskRefuses, ErrorKind::Io, "磁盘出错"},
    {"read-only database", WriteFault::ReadOnly, ErrorKind::Permission, "请与管理员联系"},
};

// The faults are put on the program's own connection to the file.
TEST(LoginRecordFaultTest, AFailedWriteLeavesNothingAndNamesItsKind)
{
    for (const FaultCase& c : faultCases) {
        SCOPED_TRACE(c.name);
        TestDatabase db;
        db.run(db.schema() + "INSERT INTO oper (\"登录时间\", userid) VALUES ('2024-01-02 08:00:00', '1');");
        db.useWriteAheadLog();
        TDMod dmod(db.folder());
        dmod.ADOCON().setConnectionString(db.connectionString());
        dmod.toper().open();
        auto* backend = dynamic_cast<SqliteBackend*>(&dmod.ADOCON().backend());
        ASSERT_NE(backend, nullptr);
        WriteFault fault(backend->handle(), db.path(), c.fault);
        ASSERT_TRUE(fault.ok());
        const auto before = db.rows("SELECT operid, userid FROM oper");
        std::string message;
        EXPECT_EQ(kindOf([&] {
                      try {
                          appendLoginRecord(dmod, 1);
                      } catch (const DatabaseError& e) {
                          message = e.what();
                          throw;
                      }
                  }),
                  c.kind);
        // The clerk reads first, in Chinese, that nothing was saved and why; the engine's text follows.
        const std::string firstLine = message.substr(0, message.find('\n'));
        for (const std::string& part : {std::string("没有保存"), std::string(c.told)})
            EXPECT_NE(firstLine.find(part), std::string::npos) << message << "\nlacks: " << part;
        EXPECT_NE(message.find('\n'), std::string::npos) << "no technical line: " << message;
        fault.lift();

        EXPECT_FALSE(dmod.toper().editing());
        EXPECT_EQ(dmod.toper().recordCount(), 1);
        EXPECT_EQ(db.rows("SELECT operid, userid FROM oper"), before);
        // The cause gone, the next call adds its record.
        const std::int64_t key = appendLoginRecord(dmod, 1);
        EXPECT_EQ(db.number("SELECT max(operid) FROM oper"), key);
        EXPECT_EQ(dmod.toper().recordCount(), 2);
    }
}

} // namespace
