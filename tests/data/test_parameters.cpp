// Statements with parameters (Backend::query, Backend::update) on both backends: values are bound, never read as
// SQL, whatever they hold; a wrong number of values is refused; they keep the command time-out. And the numbering
// of `?` for the server, as text alone.

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/engines/CommandText.h"
#include "tests/support/BackendTest.h"
#include "tests/support/ErrorOf.h"
#include "tests/support/HeldLock.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace velmora::data;
using namespace velmora::test;
using namespace std::chrono_literals;

namespace {

TEST(NumberedParameters, OnlyTheStatementsOwnQuestionMarksAreNumbered)
{
    const struct
    {
        const char* sql;
        const char* numbered;
        std::size_t count;
    } cases[] = {
        {"SELECT a FROM t WHERE b = ? AND c = ?", "SELECT a FROM t WHERE b = $1 AND c = $2", 2},
        {"SELECT '?' FROM t WHERE b=?", "SELECT '?' FROM t WHERE b=$1", 1},
        {"SELECT \"a?\" FROM t -- ?\nWHERE b = ?", "SELECT \"a?\" FROM t -- ?\nWHERE b = $1", 1},
        {"SELECT 1 /* ? */", "SELECT 1 /* ? */", 0},
        {"INSERT INTO t (a, b) VALUES (?,?)", "INSERT INTO t (a, b) VALUES ($1,$2)", 2},
    };
    for (const auto& c : cases) {
        std::size_t count = 99;
        EXPECT_EQ(numberedParameters(c.sql, count), c.numbered) << c.sql;
        EXPECT_EQ(count, c.count) << c.sql;
    }
}

class Parameters : public BackendTest
{
protected:
    void prepare() override
    {
        db->run(db->schema());
        backend = connectProvider(db->connectionString(), db->folder());
    }
    std::unique_ptr<Backend> backend;
};

VELMORA_INSTANTIATE_FOR_BACKENDS(Parameters);

// Text that would break a statement built by pasting it in arrives as the value itself.
TEST_P(Parameters, ValuesAreBoundAsTheyAre)
{
    const std::string hostile[] = {"x'); DELETE FROM OperatorTable; --", "a?b", "引号\"'", "", "$1"};
    for (const std::string& name : hostile) {
        ASSERT_EQ(backend->update("INSERT INTO OperatorTable (username, userid, able) VALUES (?, ?, ?)",
                                  {name.substr(0, 10), 7.0, std::int64_t{1073742848}}),
                  1)
            << name;
        const ResultSet found = backend->query(
            "SELECT username, userid FROM OperatorTable WHERE username = ? AND userid = ?", {name.substr(0, 10), 7.0});
        ASSERT_EQ(found.rows.size(), 1u) << name;
        EXPECT_EQ(std::get<std::string>(found.rows[0][0]), name.substr(0, 10));
        EXPECT_EQ(backend->update("DELETE FROM OperatorTable WHERE username = ?", {name.substr(0, 10)}), 1);
    }
    EXPECT_EQ(db->number("SELECT count(*) FROM \"OperatorTable\""), 0);
}

TEST_P(Parameters, NullsAndNumbersAndTheCountOfChangedRows)
{
    for (int i = 1; i <= 3; ++i)
        backend->update("INSERT INTO OperatorTable (username, userid, passwords) VALUES (?, ?, ?)",
                        {"op" + std::to_string(i), static_cast<double>(i), i == 2 ? Value() : Value(std::string("p"))});
    EXPECT_EQ(backend->update("UPDATE OperatorTable SET able = ? WHERE passwords IS NOT NULL", {std::int64_t{5}}), 2);
    const ResultSet rows =
        backend->query("SELECT username FROM OperatorTable WHERE able = ? ORDER BY userid", {std::int64_t{5}});
    ASSERT_EQ(rows.rows.size(), 2u);
    EXPECT_EQ(std::get<std::string>(rows.rows[1][0]), "op3");
    EXPECT_EQ(backend->update("UPDATE OperatorTable SET able = ? WHERE username = ?", {Value(), "nobody"}), 0);
}

TEST_P(Parameters, AWrongNumberOfValuesIsRefused)
{
    EXPECT_EQ(kindOf([&] { backend->query("SELECT username FROM OperatorTable WHERE userid = ?", {}); }),
              ErrorKind::Malformed);
    EXPECT_EQ(kindOf([&] { backend->update("UPDATE OperatorTable SET able = ? WHERE userid = ?", {std::int64_t{1}}); }),
              ErrorKind::Malformed);
    EXPECT_EQ(kindOf([&] { backend->update("UPDATE OperatorTable SET able = 1; DELETE FROM oper", {}); }),
              ErrorKind::Malformed)
        << "two statements";
}

TEST_P(Parameters, AStatementWaitingForALockEndsAtTheCommandTimeOut)
{
    const HeldLock lock(
        *db, onServer() ? "BEGIN; LOCK TABLE \"OperatorTable\" IN ACCESS EXCLUSIVE MODE" : "BEGIN EXCLUSIVE", 12s);
    ASSERT_EQ(lock.error(), "");
    backend->setCommandTimeout(1);
    EXPECT_EQ(kindOf([&] {
                  backend->update("UPDATE OperatorTable SET able = ? WHERE userid = ?", {std::int64_t{1}, 1.0});
              }),
              ErrorKind::TimedOut);
}

// The writers' lock lasts as long as its transaction, and only a transaction takes it.
TEST_P(Parameters, TheWritersLockNeedsATransaction)
{
    EXPECT_TRUE(kindOf([&] { backend->lockForWriting("velmora_operators"); }).has_value());
    backend->beginTransaction();
    EXPECT_NO_THROW(backend->lockForWriting("velmora_operators"));
    backend->commit();
}

} // namespace
