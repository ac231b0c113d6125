// Several tills on one database: two processes sign on at once, many times, through the data module, on the
// embedded file and on the server. Every sign-on record must be there, each with its own key.

#include "data/Errors.h"
#include "data/module/DMod.h"
#include "data/module/LoginRecord.h"
#include "tests/support/BackendTest.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ErrorOf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora::data;
using namespace velmora::test;

namespace {

constexpr int SignOnsPerTill = 200;

class SharedUseTest : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(db->schema());
        // As velmora-db makes a file: in write-ahead-log mode, so that tills read while one writes.
        db->useWriteAheadLog();
    }
};

VELMORA_INSTANTIATE_FOR_BACKENDS(SharedUseTest);

// One till: the login's sign-on record, again and again, its till number as the session number; the keys it
// was given go to a file.
int signOnRepeatedly(const std::string& folder, const std::string& connectionString, const std::string& userid,
                     const std::string& keysFile, int startSignal)
{
    try {
        TDMod dmod(folder);
        dmod.ADOCON().setConnectionString(connectionString);
        dmod.toper().open();
        char go = 0;
        if (::read(startSignal, &go, 1) < 0)
            return 3;
        std::ofstream keys(keysFile);
        for (int i = 0; i < SignOnsPerTill; ++i)
            keys << appendLoginRecord(dmod, std::stoll(userid)) << '\n';
        keys.close();
        return keys ? 0 : 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "till %s: %s\n", userid.c_str(), e.what());
        return 1;
    }
}

TEST_P(SharedUseTest, TwoTillsSigningOnAtOnceKeepEveryRecordWithItsOwnKey)
{
    int signal[2];
    ASSERT_EQ(::pipe(signal), 0);
    const std::vector<std::string> tills = {"1", "2"};
    std::vector<pid_t> children;
    for (const std::string& till : tills) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(signal[1]);
            // _exit: the child must not run the parent's clean-up (which drops the database).
            ::_exit(
                signOnRepeatedly(db->folder(), db->connectionString(), till, db->folder() + "keys" + till, signal[0]));
        }
        children.push_back(pid);
    }
    ::close(signal[0]);
    ::close(signal[1]); // both start at once
    for (pid_t pid : children) {
        const int status = waitWithin(pid, std::chrono::minutes(2));
        ASSERT_NE(status, -1) << "a till still ran after two minutes";
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }

    EXPECT_EQ(db->number("select count(*) from oper"), 2 * SignOnsPerTill);
    EXPECT_EQ(db->number("select count(distinct operid) from oper"), 2 * SignOnsPerTill);
    std::set<std::string> allKeys;
    for (const std::string& till : tills) {
        SCOPED_TRACE(till);
        std::set<std::string> given;
        std::ifstream keys(db->folder() + "keys" + till);
        for (std::string key; std::getline(keys, key);)
            given.insert(key);
        std::set<std::string> stored;
        for (const auto& row : db->rows("select operid from oper where userid = '" + till + "'"))
            stored.insert(row.at(0));
        EXPECT_EQ(given.size(), static_cast<std::size_t>(SignOnsPerTill));
        EXPECT_EQ(given, stored); // each till was told the key of its own record
        allKeys.insert(given.begin(), given.end());
    }
    EXPECT_EQ(allKeys.size(), static_cast<std::size_t>(2 * SignOnsPerTill));
}

} // namespace
