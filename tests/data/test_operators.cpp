// The operators' upkeep (data/module/Operators) on both backends: weak passwords refused wherever a password is
// stored, duplicates refused (also when two writers race), the rules that keep an administrator, disabling and
// enabling, hashing plain passwords without changing what signs on, and the rights word read as the login reads it.

#include "data/Backend.h"
#include "data/module/OperatorPassword.h"
#include "data/module/Operators.h"
#include "data/module/Rights.h"
#include "tests/support/BackendTest.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <thread>

using namespace velmora::data;
using namespace velmora::test;

namespace {

class Operators : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(schemaScript());
        backend = connectProvider(db->connectionString(), db->folder());
    }
    virtual std::string schemaScript() { return db->schema(); }

    std::unique_ptr<Backend> connect() const { return connectProvider(db->connectionString(), db->folder()); }

    OperatorRow operatorNumbered(const std::string& userid)
    {
        for (const OperatorRow& row : listOperators(*backend))
            if (row.userid == userid)
                return row;
        ADD_FAILURE() << "no operator " << userid;
        return {};
    }
    std::string storedPassword(const std::string& userid)
    {
        const auto rows = db->rows("SELECT passwords FROM \"OperatorTable\" WHERE userid = " + userid);
        return rows.empty() ? std::string("(no row)") : rows[0][0];
    }

    std::unique_ptr<Backend> backend;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(Operators);

std::optional<OperatorErrorKind> refusal(const std::function<void()>& call, PasswordWeakness* weakness = nullptr)
{
    try {
        call();
    } catch (const OperatorError& e) {
        if (weakness)
            *weakness = e.weakness();
        return e.kind();
    }
    return std::nullopt;
}

const struct
{
    const char* password;
    PasswordWeakness weakness;
} passwordCases[] = {
    {"", PasswordWeakness::Empty},          {" \t ", PasswordWeakness::Empty},   {"1234", PasswordWeakness::Prefill},
    {" 1234\n", PasswordWeakness::Prefill}, {"abc", PasswordWeakness::TooShort}, {"密码", PasswordWeakness::TooShort},
    {" 12 ", PasswordWeakness::TooShort},   {"abcd", PasswordWeakness::None},    {"密码密码", PasswordWeakness::None},
    {"12345", PasswordWeakness::None},
};

TEST(PasswordWeakness, JudgedAfterTheLoginsTrimming)
{
    for (const auto& c : passwordCases)
        EXPECT_EQ(passwordWeakness(c.password), c.weakness) << "'" << c.password << "'";
}

// Each way of storing a password refuses a weak one and stores nothing; allowed weak on purpose, it is stored and
// signs on.
TEST_P(Operators, WeakPasswordsAreRefusedWhereverAPasswordIsStored)
{
    addOperator(*backend, {"admin", "1", "pw-admin-77", {0, 1, 2, 3, 4, 5, 6}});
    const std::string before = storedPassword("1");
    int userid = 10;
    for (const auto& c : passwordCases) {
        SCOPED_TRACE(std::string("'") + c.password + "'");
        const std::string number = std::to_string(++userid);
        PasswordWeakness seen = PasswordWeakness::None;
        const auto refused = refusal([&] { addOperator(*backend, {"op" + number, number, c.password, {0}}); }, &seen);
        if (c.weakness == PasswordWeakness::None) {
            EXPECT_EQ(refused, std::nullopt);
            EXPECT_TRUE(operatorPasswordMatches(storedPassword(number), c.password));
            continue;
        }
        EXPECT_EQ(refused, OperatorErrorKind::WeakPassword);
        EXPECT_EQ(seen, c.weakness);
        EXPECT_EQ(storedPassword(number), "(no row)");
        EXPECT_EQ(refusal([&] { setOperatorPassword(*backend, "1", c.password); }), OperatorErrorKind::WeakPassword);
        EXPECT_EQ(refusal([&] { changeOwnPassword(*backend, "1", "pw-admin-77", c.password); }),
                  OperatorErrorKind::WeakPassword);
        EXPECT_EQ(storedPassword("1"), before);

        addOperator(*backend, {"op" + number, number, c.password, {0}}, true);
        EXPECT_TRUE(operatorPasswordMatches(storedPassword(number), c.password));
    }
    setOperatorPassword(*backend, "1", "1234", true);
    EXPECT_EQ(operatorNumbered("1").password, StoredPassword::Prefill);
}

TEST_P(Operators, AddingRefusesDuplicatesAndBadInput)
{
    addOperator(*backend, {"admin", "1", "pw-admin-77", {5}});
    const struct
    {
        NewOperator op;
        OperatorErrorKind kind;
    } cases[] = {
        {{" ADMIN ", "5", "pw-other-1", {0}}, OperatorErrorKind::DuplicateUsername},
        {{"other", "1.0", "pw-other-1", {0}}, OperatorErrorKind::DuplicateUserid},
        {{"  ", "5", "pw-other-1", {0}}, OperatorErrorKind::InvalidInput},
        {{"elevenchars", "5", "pw-other-1", {0}}, OperatorErrorKind::InvalidInput},
        {{"other", "five", "pw-other-1", {0}}, OperatorErrorKind::InvalidInput},
        {{"other", "5", "pw-other-1", {7}}, OperatorErrorKind::InvalidInput},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.op.username + " / " + c.op.userid);
        EXPECT_EQ(refusal([&] { addOperator(*backend, c.op); }), c.kind);
    }
    EXPECT_EQ(db->number("SELECT count(*) FROM \"OperatorTable\""), 1);
}

// Two writers that both find no such operator and both insert it would leave two rows; the writers' lock makes the
// second see the first's row.
TEST_P(Operators, TwoWritersAtOnceStoreOneOperator)
{
    for (int round = 0; round < 3; ++round) {
        const std::string userid = std::to_string(100 + round);
        std::optional<OperatorErrorKind> outcomes[2];
        std::string failures[2];
        {
            std::jthread writers[2];
            for (int w = 0; w < 2; ++w)
                writers[w] = std::jthread([&, w] {
                    try {
                        auto own = connect();
                        outcomes[w] = refusal([&] { addOperator(*own, {"race" + userid, userid, "pw-race-42", {0}}); });
                    } catch (const std::exception& e) {
                        failures[w] = e.what();
                    }
                });
        }
        EXPECT_EQ(failures[0] + failures[1], "");
        EXPECT_EQ(db->number("SELECT count(*) FROM \"OperatorTable\" WHERE userid = " + userid), 1);
        EXPECT_NE(outcomes[0].has_value(), outcomes[1].has_value()) << "exactly one of the two is refused";
    }
}

struct Step
{
    std::function<void(Backend&)> run;
    std::optional<OperatorErrorKind> refused;
};

struct GroupCase
{
    const char* name;
    std::vector<Step> steps;
    std::vector<int> adminGroups; // then, of operator 1 and 2
    std::vector<int> clerkGroups;
    bool clerkDisabled;
};

const std::vector<int> All{0, 1, 2, 3, 4, 5, 6};

Step groups(const char* userid, std::vector<int> g, const char* acting = "",
            std::optional<OperatorErrorKind> refused = {})
{
    return {[=](Backend& b) { setOperatorGroups(b, userid, g, acting); }, refused};
}
Step enabled(const char* userid, bool on, const char* acting = "", std::optional<OperatorErrorKind> refused = {})
{
    return {[=](Backend& b) { setOperatorEnabled(b, userid, on, acting); }, refused};
}

TEST_P(Operators, GroupsAndDisablingKeepAnAdministrator)
{
    using K = OperatorErrorKind;
    const GroupCase cases[] = {
        {"last administrator loses group 5", {groups("1", {0}, "", K::LastAdministrator)}, All, {0, 1}, false},
        {"administrator takes group 5 from themselves",
         {groups("1", {0}, "1", K::SelfAdministrator)},
         All,
         {0, 1},
         false},
        {"last administrator disabled", {enabled("1", false, "", K::LastAdministrator)}, All, {0, 1}, false},
        {"administrator disables themselves", {enabled("1", false, "1", K::SelfAdministrator)}, All, {0, 1}, false},
        {"another administrator first", {groups("2", {0, 5}), groups("1", {0}, "2")}, {0}, {0, 5}, false},
        {"disabled and enabled", {enabled("2", false, "1"), enabled("2", true)}, All, {0, 1}, false},
        {"disabled keeps its groups", {enabled("2", false)}, All, {0, 1}, true},
        {"groups of a disabled operator", {enabled("2", false), groups("2", {3}), enabled("2", true)}, All, {3}, false},
        {"disabled twice, enabled twice",
         {enabled("2", false), enabled("2", false), enabled("2", true), enabled("2", true)},
         All,
         {0, 1},
         false},
        {"a disabled administrator does not count",
         {groups("2", {5}), enabled("2", false), groups("1", {0}, "", K::LastAdministrator)},
         All,
         {5},
         true},
        {"no such operator",
         {groups("9", {0}, "", K::NotFound), enabled("9", false, "", K::NotFound)},
         All,
         {0, 1},
         false},
    };
    for (const GroupCase& c : cases) {
        SCOPED_TRACE(c.name);
        db->run("DELETE FROM \"OperatorTable\"");
        db->run("DROP TABLE IF EXISTS velmora_operator_state");
        backend = connect();
        db->addOperator("admin", 1.0, std::string("x-plain-1"), rightsWordFor(All));
        const std::int64_t clerkWord = rightsWordFor({0, 1}) + 3; // bits outside the groups come back too
        db->addOperator("clerk", 2.0, std::string("x-plain-2"), clerkWord);
        for (const Step& step : c.steps)
            EXPECT_EQ(refusal([&] { step.run(*backend); }), step.refused);
        const OperatorRow admin = operatorNumbered("1");
        const OperatorRow clerk = operatorNumbered("2");
        EXPECT_EQ(admin.groups, c.adminGroups);
        EXPECT_EQ(clerk.groups, c.clerkGroups);
        EXPECT_EQ(clerk.disabled, c.clerkDisabled);
        EXPECT_EQ(clerk.signsOn, !c.clerkDisabled);
        EXPECT_EQ(operatorDisabled(*backend, "2"), c.clerkDisabled);
        EXPECT_EQ(operatorDisabled(*backend, "1"), false);
        const long long storedWord = db->number("SELECT able FROM \"OperatorTable\" WHERE userid = 2");
        if (c.clerkDisabled) {
            EXPECT_LE(storedWord, 1'000'000'000) << "older programs refuse a disabled operator too";
        } else if (c.clerkGroups == std::vector<int>{0, 1}) {
            EXPECT_EQ(storedWord, clerkWord) << "the word it had comes back whole";
        }
    }
}

// Plain passwords become hashes, and every operator signs on with exactly what signed on before.
TEST_P(Operators, HashingPlainPasswordsKeepsWhatSignsOn)
{
    const std::string damaged = "$argon2id$v=19$m=65536,t=2,p=1$cut";
    const std::string hashed = hashOperatorPassword("pw-hashed-9");
    const struct
    {
        Value stored;
        StoredPassword before;
        StoredPassword after;
    } rows[] = {
        {std::string("pw-plain-1"), StoredPassword::Plain, StoredPassword::Hash},
        {std::string(" spaced pw "), StoredPassword::Plain, StoredPassword::Hash},
        {std::string(""), StoredPassword::Empty, StoredPassword::Empty},
        {Value(), StoredPassword::Empty, StoredPassword::Empty},
        {std::string("1234"), StoredPassword::Prefill, StoredPassword::Prefill},
        {hashed, StoredPassword::Hash, StoredPassword::Hash},
        {damaged, StoredPassword::Hash, StoredPassword::Hash},
    };
    const std::string typed[] = {"pw-plain-1", "spaced pw", "spaced  pw", "", "1234", "pw-hashed-9", damaged, "x"};
    std::vector<std::vector<bool>> signsOnBefore;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        db->addOperator("op" + std::to_string(i), static_cast<double>(i + 1), rows[i].stored, rightsWordFor({0}));
        std::vector<bool>& matches = signsOnBefore.emplace_back();
        for (const std::string& t : typed)
            matches.push_back(operatorPasswordMatches(storedPassword(std::to_string(i + 1)), t));
    }
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(operatorNumbered(std::to_string(i + 1)).password, rows[i].before) << i;

    EXPECT_EQ(hashPlainPasswords(*backend), 5);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        const std::string stored = storedPassword(std::to_string(i + 1));
        EXPECT_EQ(stored.starts_with("$argon2id$"), true);
        for (std::size_t t = 0; t < std::size(typed); ++t)
            EXPECT_EQ(operatorPasswordMatches(stored, typed[t]), signsOnBefore[i][t]) << typed[t];
        EXPECT_EQ(operatorNumbered(std::to_string(i + 1)).password, rows[i].after);
    }
    EXPECT_EQ(storedPassword("6"), hashed);
    EXPECT_EQ(storedPassword("7"), damaged);
    EXPECT_EQ(hashPlainPasswords(*backend), 0);
}

TEST_P(Operators, AnOperatorChangesTheirOwnPasswordKnowingTheOldOne)
{
    db->addOperator("clerk", 2.0, std::string("old-plain-5"), rightsWordFor({0}));
    EXPECT_EQ(refusal([&] { changeOwnPassword(*backend, "2", "old-plain-6", "new-pw-77"); }),
              OperatorErrorKind::WrongPassword);
    EXPECT_EQ(storedPassword("2"), "old-plain-5");
    EXPECT_EQ(refusal([&] { changeOwnPassword(*backend, "3", "old-plain-5", "new-pw-77"); }),
              OperatorErrorKind::NotFound);
    changeOwnPassword(*backend, "2", " old-plain-5 ", "new-pw-77");
    EXPECT_TRUE(operatorPasswordMatches(storedPassword("2"), "new-pw-77"));
    EXPECT_FALSE(operatorPasswordMatches(storedPassword("2"), "old-plain-5"));
    changeOwnPassword(*backend, "2", "new-pw-77", "newer-pw-88");
    EXPECT_TRUE(operatorPasswordMatches(storedPassword("2"), "newer-pw-88"));
}

// A rights word stored as text or as a fraction is read as the login reads it.
class OperatorWords : public Operators
{
protected:
    std::string schemaScript() override { return schemaWith(GetParam(), {{"OperatorTable", "able", "NVARCHAR(30)"}}); }
};

VELMORA_INSTANTIATE_FOR_BACKENDS(OperatorWords);

TEST_P(OperatorWords, TheRightsWordIsReadAsTheLoginReadsIt)
{
    const std::int64_t word = rightsWordFor({0, 3});
    const std::int64_t even = word % 2 == 0 ? word : word + 1; // word + 0.5 rounds to the even neighbour
    const struct
    {
        std::string able;
        std::optional<std::int64_t> read;
        bool signsOn;
    } cases[] = {
        {std::to_string(word), word, true},
        {" " + std::to_string(word) + " ", word, true},
        {std::to_string(word) + ".5", even, true},
        {std::to_string(word) + ".25", word, true},
        {"1000000000", 1'000'000'000, false},
        {"1000000000.6", 1'000'000'001, true},
        {"abc", std::nullopt, false},
        {"", std::nullopt, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        db->addOperator("op" + std::to_string(i), static_cast<double>(i + 1), std::string("pw-any-1234"),
                        cases[i].able);
    const std::vector<OperatorRow> rows = listOperators(*backend);
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("able '" + cases[i].able + "'");
        EXPECT_EQ(rows[i].rightsWord, cases[i].read);
        EXPECT_EQ(rows[i].signsOn, cases[i].signsOn);
        if (cases[i].read && cases[i].read >= word) {
            EXPECT_EQ(rows[i].groups, (std::vector<int>{0, 3}));
        } else if (!cases[i].signsOn) {
            EXPECT_TRUE(rows[i].groups.empty());
        }
    }
}

} // namespace
