// The command time-out on both backends: a command kept waiting for another session's lock, one that runs too
// long and, on the server, one that a stopped server never answers all end with a time-out error naming the
// time-out and the database, and the program goes on.

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/module/DMod.h"
#include "tests/support/BackendTest.h"
#include "tests/support/HeldLock.h"
#include "tests/support/PrivateServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

using namespace velmora::data;
using namespace velmora::test;
using namespace std::chrono_literals;

namespace {

// Longer than any time-out below and than the embedded engine's 5 s wait for a lock: a program that does not
// apply its time-out waits for the lock holder to let go (or for the stopped server to go on) and then succeeds.
constexpr auto Holding = 12s;

// Counts to twenty million: several seconds on either engine.
const std::string LongCommand =
    "with recursive c(x) as (select 1 union all select x + 1 from c where x < 20000000) select count(*) as n from c";

// Runs `command` and returns the error it ended with (none: the command succeeded).
std::optional<DatabaseError> errorOf(const std::function<void()>& command)
{
    try {
        command();
    } catch (const DatabaseError& e) {
        return e;
    }
    return std::nullopt;
}

void expectTimeOut(const std::optional<DatabaseError>& error, const std::string& where, int seconds)
{
    ASSERT_TRUE(error) << "the command succeeded";
    const std::string text = error->what();
    EXPECT_EQ(error->kind(), ErrorKind::TimedOut) << text;
    const std::string within = std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    for (const std::string& part : {std::string("Query timeout expired"), "'" + where + "'", within})
        EXPECT_NE(text.find(part), std::string::npos) << text << "\nlacks: " << part;
}

class CommandTimeout : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(db->schema() + "INSERT INTO \"oper\" (\"登录时间\", userid) VALUES ('2024-01-02 08:00:00', 1);");
        dmod = std::make_unique<TDMod>(db->folder());
        dmod->ADOCON().setConnectionString(db->connectionString());
        dmod->ADOCON().open();
    }

    std::unique_ptr<TDMod> dmod;
};

TEST_P(CommandTimeout, DefaultsToThirtySeconds)
{
    EXPECT_EQ(DefaultCommandTimeoutSeconds, 30);
    EXPECT_EQ(dmod->ADOCON().commandTimeout(), 30);
}

// Reading waits for another session that holds the table: on the file (in write-ahead-log mode since the connect)
// a session in exclusive locking mode keeps readers out; the server's ACCESS EXCLUSIVE lock does the same.
TEST_P(CommandTimeout, EndsAReadKeptWaitingByALock)
{
    dmod->ADOCON().setCommandTimeout(1);
    HeldLock lock(*db,
                  db->isServer() ? "BEGIN; LOCK TABLE oper IN ACCESS EXCLUSIVE MODE"
                                 : "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; SELECT count(*) FROM oper",
                  Holding);
    ASSERT_EQ(lock.error(), "");

    expectTimeOut(errorOf([&] { dmod->toper().open(); }), dmod->ADOCON().location(), 1);
    EXPECT_FALSE(dmod->toper().active());

    // The connection is still good: with the lock gone the same dataset opens.
    lock.release();
    dmod->toper().open();
    EXPECT_EQ(dmod->toper().recordCount(), 1);
}

// The sign-on's write waits for another session's write lock (reading goes on meanwhile).
TEST_P(CommandTimeout, EndsAWriteKeptWaitingByALock)
{
    dmod->toper().open();
    dmod->ADOCON().setCommandTimeout(1);
    HeldLock lock(*db, db->isServer() ? "BEGIN; LOCK TABLE oper IN EXCLUSIVE MODE" : "BEGIN IMMEDIATE", Holding);
    ASSERT_EQ(lock.error(), "");

    Dataset& records = dmod->toper();
    records.append();
    records.fieldByName("userid").setAsLargeInt(7);
    expectTimeOut(errorOf([&] { records.post(); }), dmod->ADOCON().location(), 1);
    records.cancel();

    lock.release();
    records.append();
    records.fieldByName("userid").setAsLargeInt(7);
    records.post();
    EXPECT_EQ(db->number("select count(*) from oper"), 2);
}

struct Limits
{
    int connection;
    int dataset;
};

// Whichever of the connection's and the dataset's time-out is shorter ends a command that runs too long.
TEST_P(CommandTimeout, EndsACommandThatRunsTooLong)
{
    for (const Limits limits : {Limits{1, 30}, Limits{30, 1}, Limits{1, 0}, Limits{0, 1}}) {
        SCOPED_TRACE("connection " + std::to_string(limits.connection) + ", dataset " + std::to_string(limits.dataset));
        dmod->ADOCON().setCommandTimeout(limits.connection);
        DatasetSettings settings;
        settings.commandTimeout = limits.dataset;
        Dataset counting("counting", dmod->ADOCON(), settings, LongCommand);
        expectTimeOut(errorOf([&] { counting.open(); }), dmod->ADOCON().location(), 1);
        EXPECT_FALSE(counting.active());
    }
    // And the connection answers the next command at once.
    dmod->ADOCON().setCommandTimeout(1);
    dmod->toper().open();
    EXPECT_EQ(dmod->toper().recordCount(), 1);
}

VELMORA_INSTANTIATE_FOR_BACKENDS(CommandTimeout);

// A server that answers nothing at all (stopped): the wait ends after the time-out, the connection is closed,
// and every later command says so at once.
TEST(CommandTimeoutServer, EndsTheWaitForAStoppedServerAndTheNextCommandConnectsAgain)
{
    PrivateServer server;
    if (!server.whyNot().empty())
        GTEST_SKIP() << server.whyNot();
    TestDatabase db(server.server());
    db.run(db.schema());
    TDMod dmod(db.folder());
    dmod.ADOCON().setConnectionString(db.connectionString());
    dmod.ADOCON().open();
    dmod.ADOCON().setCommandTimeout(1);
    dmod.tuser().open();

    server.pause(Holding);
    const auto error = errorOf([&] { dmod.toper().open(); });
    server.resume();

    expectTimeOut(error, dmod.ADOCON().location(), 1);
    if (error) {
        EXPECT_NE(std::string(error->what()).find("connection to it is closed"), std::string::npos) << error->what();
    }
    // The server answers again: the next command connects anew with the same settings and runs.
    const auto later = errorOf([&] { dmod.typzdk().open(); });
    EXPECT_FALSE(later) << later->what();
    EXPECT_TRUE(dmod.typzdk().active());
}

} // namespace
