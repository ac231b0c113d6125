// velmora-db's care of the operators and of its secrets, on a file and on the test server: weak passwords refused,
// two add-operator runs at once storing one operator, passwords masked by show and judged by check, the record of
// sign-on attempts printed, list-operators reading the rights word as the login does, every password given
// without the command line (a file, the environment, a prompt that does not echo), and the help and version.

#include "data/module/OperatorPassword.h"
#include "data/module/Operators.h"
#include "data/module/Rights.h"
#include "data/module/SignOnAttempts.h"
#include "tests/support/BackendTest.h"
#include "tests/support/VelmoraDb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora::data;
using namespace velmora::test;

namespace {

class ToolOperators : public BackendTest
{
protected:
    void prepare() override { ASSERT_EQ(runVelmoraDb(on("create")).status, 0); }

    std::vector<std::string> on(const std::string& command, std::vector<std::string> arguments = {}) const
    {
        std::vector<std::string> words{command};
        for (const std::string& word : db->toolTarget())
            words.push_back(word);
        words.insert(words.end(), arguments.begin(), arguments.end());
        return words;
    }
    ToolRun run(const std::string& command, std::vector<std::string> arguments = {}) const
    {
        return runVelmoraDb(on(command, std::move(arguments)));
    }
    std::string storedPassword(const std::string& userid)
    {
        const auto rows = db->rows("SELECT passwords FROM \"OperatorTable\" WHERE userid = " + userid);
        return rows.empty() ? std::string("(no row)") : rows[0][0];
    }
};

VELMORA_INSTANTIATE_FOR_BACKENDS(ToolOperators);

TEST_P(ToolOperators, WeakPasswordsAreRefusedUnlessAllowed)
{
    ASSERT_EQ(
        run("add-operator", {"--username", "admin", "--userid", "1", "--password", "pw-admin-1", "--groups", "all"})
            .status,
        0);
    const char* const weak[] = {"", "   ", "1234", " 1234 ", "abc", "密码"};
    int userid = 10;
    for (const char* password : weak) {
        SCOPED_TRACE(std::string("'") + password + "'");
        const std::string number = std::to_string(++userid);
        const ToolRun added = run(
            "add-operator", {"--username", "u" + number, "--userid", number, "--password", password, "--groups", "0"});
        EXPECT_EQ(added.status, 1);
        EXPECT_NE(added.output.find("--allow-weak"), std::string::npos) << added.output;
        EXPECT_EQ(storedPassword(number), "(no row)");
        EXPECT_EQ(run("passwd", {"--userid", "1", "--password", password}).status, 1);
        EXPECT_TRUE(operatorPasswordMatches(storedPassword("1"), "pw-admin-1"));
        EXPECT_EQ(run("add-operator", {"--username", "u" + number, "--userid", number, "--password", password,
                                       "--groups", "0", "--allow-weak"})
                      .status,
                  0);
        EXPECT_TRUE(operatorPasswordMatches(storedPassword(number), password));
    }
    EXPECT_EQ(run("passwd", {"--userid", "1", "--password", "1234", "--allow-weak"}).status, 0);
    EXPECT_TRUE(operatorPasswordMatches(storedPassword("1"), "1234"));
}

// Each run checks for the operator, hashes its password and inserts it; two at once both found none before the
// writers' lock.
TEST_P(ToolOperators, TwoAddOperatorRunsAtOnceStoreOneOperator)
{
    std::string command;
    for (int round = 0; round < 3; ++round) {
        const std::string userid = std::to_string(20 + round);
        std::string both = "(";
        for (int run = 0; run < 2; ++run) {
            both += shellQuote(std::string(VELMORA_BIN_DIR) + "/velmora-db");
            for (const std::string& word : on("add-operator", {"--username", "twin" + userid, "--userid", userid,
                                                               "--password", "pw-twin-42", "--groups", "0"}))
                both += " " + shellQuote(word);
            both += " & ";
        }
        both += "wait)";
        const ToolRun twins = runShell(both);
        EXPECT_EQ(db->number("SELECT count(*) FROM \"OperatorTable\" WHERE userid = " + userid), 1) << twins.output;
        EXPECT_NE(twins.output.find("already exists"), std::string::npos) << twins.output;
    }
}

TEST_P(ToolOperators, ShowMasksStoredPasswordsUnlessAsked)
{
    ASSERT_EQ(
        run("add-operator", {"--username", "admin", "--userid", "1", "--password", "pw-admin-1", "--groups", "all"})
            .status,
        0);
    db->addOperator("old", 2.0, std::string("plain-secret-2"), rightsWordFor({0}));
    db->addOperator("none", 3.0, Value(), rightsWordFor({0}));
    const ToolRun masked = run("show", {"tuser"});
    ASSERT_EQ(masked.status, 0) << masked.output;
    EXPECT_EQ(masked.output.find("plain-secret-2"), std::string::npos) << masked.output;
    EXPECT_EQ(masked.output.find("$argon2"), std::string::npos) << masked.output;
    EXPECT_NE(masked.output.find("\t********\t"), std::string::npos) << masked.output;
    EXPECT_NE(masked.output.find("\t3\t\t"), std::string::npos) << "no password shows as none: " << masked.output;
    const ToolRun shown = run("show", {"tuser", "--show-secrets"});
    EXPECT_NE(shown.output.find("plain-secret-2"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("$argon2id$"), std::string::npos) << shown.output;
}

TEST_P(ToolOperators, CheckListsWeakStoredPasswords)
{
    const std::string good = hashOperatorPassword("pw-good-1");
    db->addOperator("hashed", 1.0, good, rightsWordFor({5}));
    db->addOperator("plain", 2.0, std::string("plain-pw-2"), rightsWordFor({0}));
    db->addOperator("empty", 3.0, std::string(""), rightsWordFor({0}));
    db->addOperator("nothing", 4.0, Value(), rightsWordFor({0}));
    db->addOperator("prefill", 5.0, std::string(" 1234"), rightsWordFor({0}));
    db->addOperator("hashfill", 6.0, hashOperatorPassword("1234"), rightsWordFor({0}));
    const ToolRun found = run("check");
    EXPECT_EQ(found.status, 1) << found.output;
    for (const char* line :
         {"Operator 2 (plain): the password is stored as plain text", "Operator 3 (empty): the password is empty",
          "Operator 4 (nothing): the password is empty", "Operator 5 (prefill): the password is 1234",
          "Operator 6 (hashfill): the password is 1234"})
        EXPECT_NE(found.output.find(line), std::string::npos) << line << "\n" << found.output;
    EXPECT_EQ(found.output.find("Operator 1 "), std::string::npos) << found.output;
    EXPECT_EQ(found.output.find("plain-pw-2"), std::string::npos) << found.output;

    const ToolRun hashed = run("hash-passwords");
    EXPECT_EQ(hashed.status, 0);
    EXPECT_EQ(hashed.output, "Hashed 4 plain passwords.\n");
    for (const char* userid : {"3", "4", "5", "6"})
        EXPECT_EQ(run("passwd", {"--userid", userid, "--password", "pw-new-" + std::string(userid)}).status, 0);
    const ToolRun clean = run("check");
    EXPECT_EQ(clean.status, 0) << clean.output;
    EXPECT_TRUE(operatorPasswordMatches(storedPassword("2"), "plain-pw-2"));
}

TEST_P(ToolOperators, SignonsPrintsTheRecord)
{
    EXPECT_EQ(run("signons").output, "time\ttill\ttyped\tuserid\tusername\toutcome\n");
    auto backend = connectProvider(db->connectionString(), db->folder());
    const struct
    {
        DateTime at;
        const char* typed;
        const char* userid;
        const char* username;
        SignOnOutcome outcome;
    } attempts[] = {
        {{2026, 2, 27, 8, 0, 0}, "1", "1", "admin", SignOnOutcome::WrongPassword},
        {{2026, 2, 28, 8, 1, 5}, "x", "", "", SignOnOutcome::WrongPassword},
        {{2026, 3, 1, 8, 2, 0}, "1", "1", "admin", SignOnOutcome::SignedOn},
    };
    for (const auto& a : attempts)
        recordSignOnAttempt(*backend, {a.at, "till-3", a.typed, a.userid, a.username, a.outcome});
    const ToolRun all = run("signons");
    EXPECT_EQ(all.output, "time\ttill\ttyped\tuserid\tusername\toutcome\n"
                          "2026-02-27 08:00:00\ttill-3\t1\t1\tadmin\twrong password\n"
                          "2026-02-28 08:01:05\ttill-3\tx\t\t\twrong password\n"
                          "2026-03-01 08:02:00\ttill-3\t1\t1\tadmin\tsigned on\n");
    const ToolRun since = run("signons", {"--since", "2026-02-28"});
    EXPECT_EQ(since.output, "time\ttill\ttyped\tuserid\tusername\toutcome\n"
                            "2026-02-28 08:01:05\ttill-3\tx\t\t\twrong password\n"
                            "2026-03-01 08:02:00\ttill-3\t1\t1\tadmin\tsigned on\n");
}

class ToolOperatorWords : public BackendTest
{
};
VELMORA_INSTANTIATE_FOR_BACKENDS(ToolOperatorWords);

// Words stored as text or with a fraction sign on, so list-operators shows their groups.
TEST_P(ToolOperatorWords, ListOperatorsReadsTheWordAsTheLogin)
{
    db->run(schemaWith(GetParam(), {{"OperatorTable", "able", "NVARCHAR(30)"}}));
    const std::int64_t word = rightsWordFor({1, 4});
    db->addOperator("text", 1.0, std::string("pw-1"), std::to_string(word));
    db->addOperator("fraction", 2.0, std::string("pw-2"), std::to_string(word) + ".25");
    db->addOperator("nonsense", 3.0, std::string("pw-3"), std::string("abc"));
    std::vector<std::string> words{"list-operators"};
    for (const std::string& w : db->toolTarget())
        words.push_back(w);
    const ToolRun list = runVelmoraDb(words);
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_EQ(list.output, "username\tuserid\tgroups\n"
                           "text\t1\t1,4\n"
                           "fraction\t2\t1,4\n"
                           "nonsense\t3\t(no valid rights word: the operator cannot sign on)\n");
}

// ---- secrets off the command line (a file) ---------------------------------------------------------------------

class ToolSecrets : public ::testing::Test
{
protected:
    TestDatabase db;
    std::string file(const std::string& name, const std::string& content)
    {
        const std::string path = db.folder() + name;
        std::ofstream(path) << content;
        return path;
    }
};

TEST_F(ToolSecrets, EveryPasswordComesFromAFileOrTheEnvironment)
{
    const std::string path = db.path();
    ASSERT_EQ(runVelmoraDb({"create", path, "--password-file", file("db", "db-secret-7\n")}).status, 0);
    EXPECT_EQ(runVelmoraDb({"list-operators", path}).status, 1) << "the file is protected";
    EXPECT_EQ(runVelmoraDb({"add-operator", path, "--db-password-file", file("db2", "db-secret-7\r\n"), "--username",
                            "admin", "--userid", "1", "--groups", "all", "--password-file", file("op", "op-secret-1")})
                  .status,
              0);
    EXPECT_EQ(runVelmoraDb({"add-operator", path, "--username", "clerk", "--userid", "2", "--groups", "0"},
                           "VELMORA_DB_PASSWORD=db-secret-7 VELMORA_OPERATOR_PASSWORD=op-secret-2")
                  .status,
              0);
    EXPECT_EQ(runVelmoraDb({"passwd", path, "--userid", "2"},
                           "VELMORA_DB_PASSWORD=db-secret-7 VELMORA_OPERATOR_PASSWORD=op-secret-3")
                  .status,
              0);
    auto backend =
        connectProvider(fileConnectionString(path) + ";Jet OLEDB:Database Password=db-secret-7", db.folder());
    const std::vector<OperatorRow> rows = listOperators(*backend);
    ASSERT_EQ(rows.size(), 2u);
    const auto stored = db.rows("SELECT passwords FROM OperatorTable ORDER BY userid");
    EXPECT_TRUE(operatorPasswordMatches(stored[0][0], "op-secret-1"));
    EXPECT_TRUE(operatorPasswordMatches(stored[1][0], "op-secret-3"));
    // Without a terminal and without a password, nothing is stored.
    const ToolRun none = runVelmoraDb({"add-operator", path, "--username", "x", "--userid", "3", "--groups", "0"},
                                      "VELMORA_DB_PASSWORD=db-secret-7 </dev/null");
    EXPECT_EQ(none.status, 2) << none.output;
    EXPECT_NE(none.output.find("--password-file"), std::string::npos) << none.output;
    EXPECT_EQ(runVelmoraDb({"add-operator", path, "--username", "x", "--userid", "3", "--groups", "0",
                            "--password-file", db.folder() + "missing"},
                           "VELMORA_DB_PASSWORD=db-secret-7")
                  .status,
              2);
}

// The tool run on a terminal of its own (a pseudo-terminal): it asks, and what is typed is not echoed.
struct TerminalRun
{
    int status = -1;
    std::string screen; // everything the terminal showed
};

TerminalRun onTerminal(const std::vector<std::string>& arguments, const std::vector<std::string>& answers,
                       const std::string& environment = {})
{
    TerminalRun result;
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child < 0)
        return result;
    if (child == 0) {
        std::vector<char*> argv;
        const std::string program = std::string(VELMORA_BIN_DIR) + "/velmora-db";
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!environment.empty())
            ::putenv(const_cast<char*>(environment.c_str()));
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    std::size_t answered = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        pollfd watched{master, POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            result.screen += "\n(timed out waiting for the tool)";
            break;
        }
        if (::poll(&watched, 1, 200) > 0) {
            char buffer[512];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            result.screen.append(buffer, static_cast<std::size_t>(n));
            // Each prompt ends with ": "; the answer's echo is only its line break.
            if (answered < answers.size() && result.screen.size() >= 2 &&
                result.screen.compare(result.screen.size() - 2, 2, ": ") == 0) {
                const std::string line = answers[answered++] + "\n";
                if (::write(master, line.data(), line.size()) < 0)
                    break;
            }
        }
    }
    const int status = waitWithin(child, std::chrono::seconds(10));
    ::close(master);
    result.status = exitCodeOf(status);
    return result;
}

TEST_F(ToolSecrets, APromptDoesNotEcho)
{
    const std::string path = db.path();
    const TerminalRun created = onTerminal({"create", path}, {"typed-db-secret"});
    ASSERT_EQ(created.status, 0) << created.screen;
    EXPECT_NE(created.screen.find("Database password of the new file"), std::string::npos) << created.screen;
    const TerminalRun added =
        onTerminal({"add-operator", path, "--username", "admin", "--userid", "1", "--groups", "all"},
                   {"typed-op-secret", "typed-op-secret", "typed-db-secret"});
    EXPECT_EQ(added.status, 0) << added.screen;
    EXPECT_NE(added.screen.find("Database password: "), std::string::npos) << added.screen;
    EXPECT_NE(added.screen.find("New password for operator 1: "), std::string::npos) << added.screen;
    for (const TerminalRun* run : {&created, &added})
        for (const char* secret : {"typed-db-secret", "typed-op-secret"})
            EXPECT_EQ(run->screen.find(secret), std::string::npos) << secret << " echoed:\n" << run->screen;
    const auto stored = db.rows("SELECT passwords FROM OperatorTable");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_TRUE(operatorPasswordMatches(stored[0][0], "typed-op-secret"));
    // Two passwords that differ store nothing.
    const TerminalRun differ = onTerminal({"passwd", path, "--userid", "1"}, {"one-pw-1", "two-pw-2"});
    EXPECT_EQ(differ.status, 2) << differ.screen;
    EXPECT_TRUE(operatorPasswordMatches(db.rows("SELECT passwords FROM OperatorTable")[0][0], "typed-op-secret"));
}

TEST(ToolTexts, HelpNamesTheGroupsAndTheVersionIsThere)
{
    const ToolRun help = runVelmoraDb({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word :
         {"5 用户管理", "6 数据备份", "passwd", "set-groups", "disable-operator", "enable-operator", "hash-passwords",
          "signons", "unlock", "grant-till", "--password-file", "--db-password-file", "VELMORA_DB_PASSWORD",
          "VELMORA_OPERATOR_PASSWORD", "--allow-weak", "--show-secrets", "--version"})
        EXPECT_NE(help.output.find(word), std::string::npos) << word;
    for (const char* wrong : {"reserved", "signs on as"})
        EXPECT_EQ(help.output.find(wrong), std::string::npos) << wrong;
    for (const char* program : {"velmora-db", "velmora"}) {
        const ToolRun version = runShell(shellQuote(std::string(VELMORA_BIN_DIR) + "/" + program) + " --version");
        EXPECT_EQ(version.status, 0) << program;
        EXPECT_EQ(version.output, std::string(program) + " " + VELMORA_VERSION + "\n");
    }
}

} // namespace
