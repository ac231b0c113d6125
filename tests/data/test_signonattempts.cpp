// The record of sign-on attempts on both backends: made on first use, read back in order and from a date, and
// the lock-out it gives: which attempts count, what resets the count, and the minutes left.

#include "data/Backend.h"
#include "data/module/SignOnAttempts.h"
#include "tests/support/BackendTest.h"

#include <gtest/gtest.h>

using namespace velmora::data;
using namespace velmora::test;

namespace {

class SignOnAttempts : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(db->schema());
        backend = connectProvider(db->connectionString(), db->folder());
    }
    void recordAt(int minute, const std::string& userid, SignOnOutcome outcome)
    {
        SignOnAttempt attempt;
        attempt.at = at(minute);
        attempt.host = "till-1";
        attempt.typedOperator = userid;
        attempt.matchedUserid = userid;
        attempt.outcome = outcome;
        recordSignOnAttempt(*backend, attempt);
    }
    // Minutes and seconds after 2026-03-01 09:00.
    static DateTime at(int minute, int second = 0) { return {2026, 3, 1, 9 + minute / 60, minute % 60, second}; }

    std::unique_ptr<Backend> backend;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(SignOnAttempts);

TEST_P(SignOnAttempts, MadeOnFirstUseAndReadBackInOrder)
{
    EXPECT_TRUE(signOnAttempts(*backend).empty()) << "no table yet reads as no attempts";
    EXPECT_EQ(lockedOutMinutes(*backend, "1", {}, at(0)), std::nullopt);
    recordAt(5, "1", SignOnOutcome::WrongPassword);
    recordAt(1, "2", SignOnOutcome::SignedOn); // recorded later, with an earlier clock: the order is the record's
    SignOnAttempt long_;
    long_.typedOperator = std::string(80, 'x');
    long_.host = "多字节主机名";
    long_.outcome = SignOnOutcome::Cancelled;
    recordSignOnAttempt(*backend, long_);
    const std::vector<RecordedAttempt> all = signOnAttempts(*backend);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].at, "2026-03-01 09:05:00");
    EXPECT_EQ(all[0].outcome, "wrong password");
    EXPECT_EQ(all[1].matchedUserid, "2");
    EXPECT_EQ(all[1].outcome, "signed on");
    EXPECT_EQ(all[2].typedOperator, std::string(50, 'x'));
    EXPECT_EQ(all[2].host, "多字节主机名");
    EXPECT_EQ(all[2].matchedUserid, "");
    EXPECT_EQ(signOnAttempts(*backend, at(3)).size(), 2u);
}

struct LockCase
{
    const char* name;
    std::vector<std::pair<int, SignOnOutcome>> operatorOne; // minute, outcome
    int now;                                                // minute
    std::optional<int> minutesLeft;
};

TEST_P(SignOnAttempts, TheLockOutCountsWrongPasswordsWithinTheWindow)
{
    using O = SignOnOutcome;
    const auto wrong = O::WrongPassword;
    const LockCase cases[] = {
        {"four", {{0, wrong}, {1, wrong}, {2, wrong}, {3, wrong}}, 4, std::nullopt},
        {"five", {{0, wrong}, {1, wrong}, {2, wrong}, {3, wrong}, {4, wrong}}, 5, 10},
        {"five, the lock nearly over", {{0, wrong}, {1, wrong}, {2, wrong}, {3, wrong}, {4, wrong}}, 14, 1},
        {"five, the lock over", {{0, wrong}, {1, wrong}, {2, wrong}, {3, wrong}, {4, wrong}}, 15, std::nullopt},
        {"six: the oldest of the last five counts",
         {{0, wrong}, {1, wrong}, {2, wrong}, {3, wrong}, {4, wrong}, {8, wrong}},
         15,
         1},
        {"a sign-on resets",
         {{0, wrong}, {1, wrong}, {2, wrong}, {3, O::SignedOn}, {4, wrong}, {5, wrong}},
         6,
         std::nullopt},
        {"an unlocking resets",
         {{0, wrong}, {1, wrong}, {2, wrong}, {3, wrong}, {4, wrong}, {5, O::Unlocked}},
         6,
         std::nullopt},
        {"refusals while locked do not lengthen it",
         {{0, wrong}, {1, wrong}, {2, wrong}, {3, wrong}, {4, wrong}, {10, O::LockedOut}, {12, O::LockedOut}},
         13,
         2},
        {"other outcomes do not count",
         {{0, O::Disabled}, {1, O::RightsDamaged}, {2, O::Cancelled}, {3, wrong}, {4, wrong}},
         5,
         std::nullopt},
    };
    ensureSignOnAttemptTable(*backend);
    for (const LockCase& c : cases) {
        SCOPED_TRACE(c.name);
        db->run("DELETE FROM velmora_signon_attempts");
        recordAt(0, "2", SignOnOutcome::WrongPassword); // another operator's failures count for it alone
        for (const auto& [minute, outcome] : c.operatorOne)
            recordAt(minute, "1", outcome);
        EXPECT_EQ(lockedOutMinutes(*backend, "1", {5, 15}, at(c.now)), c.minutesLeft);
        EXPECT_EQ(lockedOutMinutes(*backend, "1", {0, 15}, at(c.now)), std::nullopt);
        EXPECT_EQ(lockedOutMinutes(*backend, "2", {5, 15}, at(c.now)), std::nullopt);
    }
}

TEST_P(SignOnAttempts, UnlockingIsRecorded)
{
    for (int minute = 0; minute < 5; ++minute)
        recordAt(minute, "7", SignOnOutcome::WrongPassword);
    EXPECT_TRUE(lockedOutMinutes(*backend, "7", {}, at(6)).has_value());
    unlockOperator(*backend, "7", "clerk", "admin-pc");
    EXPECT_EQ(lockedOutMinutes(*backend, "7", {}, DateTime::nowLocal()), std::nullopt);
    EXPECT_EQ(signOnAttempts(*backend).back().outcome, "unlocked");
    EXPECT_EQ(signOnAttempts(*backend).back().matchedUsername, "clerk");
}

} // namespace
