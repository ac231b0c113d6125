// A connection to the server that is lost (the server restarted, an administrator ended the session, the server
// gone for good) under a till that is open: a command connects again once with the same settings and runs when
// nothing of it can have been applied; otherwise it fails with a Chinese message that says what became of it and
// what to do. On a server of the test's own, which the test restarts and halts.

#include "data/Errors.h"
#include "data/dataset/Dataset.h"
#include "data/module/DMod.h"
#include "data/module/LoginRecord.h"
#include "tests/support/PrivateServer.h"
#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

using namespace velmora::data;
using namespace velmora::test;

namespace {

// The DatabaseError a call raises, or nothing.
template <typename F> std::optional<DatabaseError> failureOf(F&& call)
{
    try {
        call();
    } catch (const DatabaseError& e) {
        return e;
    }
    return std::nullopt;
}

// One server for the suite (making one takes seconds); each case a database of its own on it, and a till connected.
class Reconnect : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { server = std::make_unique<PrivateServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override
    {
        if (!server->whyNot().empty())
            GTEST_SKIP() << server->whyNot();
        // A case before may have halted it.
        if (!serverUp()) {
            ASSERT_TRUE(server->restart()) << "the private server does not start again";
        }
        db = std::make_unique<TestDatabase>(server->server());
        db->run(db->schema());
        dmod = std::make_unique<TDMod>(db->folder());
        dmod->ADOCON().setConnectionString(db->connectionString());
        dmod->ADOCON().open();
        dmod->tuser().open();
    }

    static bool serverUp()
    {
        try {
            ServerSession session(server->server().adminUri);
            return true;
        } catch (const std::runtime_error&) {
            return false;
        }
    }

    static void expectParts(const std::optional<DatabaseError>& error, std::initializer_list<std::string> parts)
    {
        ASSERT_TRUE(error) << "the command succeeded";
        EXPECT_EQ(error->kind(), ErrorKind::Connection) << error->what();
        for (const std::string& part : parts)
            EXPECT_NE(std::string(error->what()).find(part), std::string::npos) << error->what() << "\nlacks: " << part;
    }

    // Ends, as an administrator would, the session whose statement containing `marker` has come to its pg_sleep.
    static std::thread terminateWhenSleeping(const std::string& marker)
    {
        auto admin = std::make_shared<ServerSession>(server->server().adminUri);
        return std::thread([admin, marker] {
            for (int tries = 0; tries < 500; ++tries) {
                const auto rows =
                    admin->rows("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE '%" + marker +
                                "%' AND state = 'active' AND wait_event = 'PgSleep' AND pid <> pg_backend_pid()");
                if (!rows.empty())
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }

    static inline std::unique_ptr<PrivateServer> server;
    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<TDMod> dmod; // after db: closed before its database goes
};

TEST_F(Reconnect, AReadAfterARestartConnectsAgainAndRuns)
{
    ASSERT_TRUE(server->restart());
    const auto error = failureOf([&] { dmod->toper().open(); });
    EXPECT_FALSE(error) << error->what();
    EXPECT_TRUE(dmod->toper().active());
}

// The sign-on's record: its request never went out on the lost connection, so it is written once, on the new one.
TEST_F(Reconnect, AWriteAfterARestartThatNeverWentOutIsWrittenOnce)
{
    dmod->toper().open();
    ASSERT_TRUE(server->restart());
    std::int64_t key = 0;
    const auto error = failureOf([&] { key = appendLoginRecord(*dmod, 1); });
    EXPECT_FALSE(error) << error->what();
    EXPECT_EQ(db->number("SELECT count(*) FROM oper"), 1);
    EXPECT_EQ(key, db->number("SELECT max(operid) FROM oper"));
}

// An administrator ends the till's session (pg_terminate_backend): the next command connects again.
TEST_F(Reconnect, ASessionEndedByAnAdministratorConnectsAgain)
{
    ServerSession admin(server->server().adminUri);
    admin.rows("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
               db->source().substr(db->source().rfind('/') + 1) + "' AND pid <> pg_backend_pid()");
    const auto error = failureOf([&] { dmod->typzdk().open(); });
    EXPECT_FALSE(error) << error->what();
}

// A transaction open when the connection goes: the server has undone it; the message says so and what to do, and
// the next command works on a new connection.
TEST_F(Reconnect, ATransactionLostIsToldAndNothingOfItIsKept)
{
    Backend& backend = dmod->ADOCON().backend();
    backend.beginTransaction();
    backend.insertRow("oper", {{"userid", std::string("7")}});
    ASSERT_TRUE(server->restart());
    const auto error = failureOf([&] { backend.commit(); });
    expectParts(error, {"一组修改的中途断开了", "什么也没有保存", "请把这组修改重做一次"});
    backend.rollback();
    EXPECT_EQ(db->number("SELECT count(*) FROM oper"), 0);
    const auto later = failureOf([&] { dmod->toper().open(); });
    EXPECT_FALSE(later) << later->what();
}

// A write whose request reached the server when the connection went: it may have been carried out, and it is not
// sent again; the message says to look first. The connection is made again for what follows.
TEST_F(Reconnect, AWriteLostInFlightIsNotSentAgain)
{
    Backend& backend = dmod->ADOCON().backend();
    std::thread administrator = terminateWhenSleeping("pg_sleep(5)");
    const auto error =
        failureOf([&] { backend.execute("INSERT INTO oper (userid) VALUES ('8'); SELECT pg_sleep(5)"); });
    administrator.join();
    expectParts(error, {"已经重新连接", "这次操作可能已经完成，也可能没有完成", "请先查看结果"});
    EXPECT_EQ(db->number("SELECT count(*) FROM oper WHERE userid = '8'"), 0) << "it was not sent again";
    const auto later = failureOf([&] { dmod->toper().open(); });
    EXPECT_FALSE(later) << later->what();
}

// A read whose session an administrator ends while it runs: before any row came it is simply run again on a new
// connection; after rows were handed on it is not, and the message says to open the data again.
TEST_F(Reconnect, AReadEndedInFlightRunsAgainOnlyWhenNoRowWasHandedOn)
{
    Backend& backend = dmod->ADOCON().backend();
    std::thread administrator = terminateWhenSleeping("pg_sleep(1) AS slept");
    ResultSet result;
    auto error = failureOf([&] { result = backend.openCommand("SELECT 7 AS seven, pg_sleep(1) AS slept"); });
    administrator.join();
    EXPECT_FALSE(error) << error->what();
    ASSERT_EQ(result.rows.size(), 1u);
    EXPECT_EQ(result.rows[0][0], Value(std::int64_t{7}));

    // The first row is large enough to leave the server's buffer before the second one sleeps.
    administrator = terminateWhenSleeping("pg_sleep(30) END AS slept");
    error = failureOf([&] {
        backend.openCommand("SELECT g, repeat('x', 200000) AS pad, CASE WHEN g = 2 THEN pg_sleep(30) END AS slept "
                            "FROM generate_series(1, 2) AS g");
    });
    administrator.join();
    expectParts(error, {"读取数据的中途断开了，已经重新连接", "请重新打开这些数据"});
    const auto later = failureOf([&] { dmod->toper().open(); });
    EXPECT_FALSE(later) << later->what();
}

// The server gone for good: the one attempt to connect again fails, and the message says what to do; the technical
// detail follows for the administrator.
TEST_F(Reconnect, AServerGoneForGoodIsToldInChinese)
{
    ASSERT_TRUE(server->halt());
    const auto error = failureOf([&] { dmod->toper().open(); });
    expectParts(error, {"与数据库服务器的连接断开了，重新连接也没有成功", "请检查服务器是否在运行",
                        "Could not connect to '" + db->source() + "'"});
    EXPECT_EQ(std::string(error->what()).find(db->server()->password), std::string::npos);
}

} // namespace
