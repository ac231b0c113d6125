// Database files the connect cannot use as they are: each refusal names the file and what is wrong with it
// rather than blaming the password or the file's format.
#include "data/Backend.h"
#include "data/Errors.h"
#include "data/PasswordVerifier.h"

#include "test_access_support.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <ostream>
#include <string>

using namespace velmora::data;
using velmora::data::test::TempDir;

namespace {

const std::string Password = "mivotelq";

std::string connectionString(const std::string& path, const std::string& password)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=" + path +
           ";Mode=Share Deny None;Jet OLEDB:Database Password=" + password;
}

// ---- a password verifier edited by hand ------------------------------------------------------------------------

std::string storedVerifier(const std::string& path)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string verifier;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, (std::string("SELECT verifier FROM ") + PasswordVerifierTable).c_str(), -1, &statement,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        verifier = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return verifier;
}

struct VerifierEdit
{
    const char* name;
    const char* costs;   // replaces the "$m=…,t=…,p=…$" of a real verifier; empty: keep them
    std::size_t cutAt;   // keeps this many characters of the result; 0: all
    const char* mention; // what the message says beyond the file and "damaged"
};

void PrintTo(const VerifierEdit& edit, std::ostream* out)
{
    *out << edit.name;
}

class DamagedVerifier : public ::testing::TestWithParam<VerifierEdit>
{
};

// A verifier asking for costs beyond the strongest preset would keep the connect hashing for minutes or hours;
// one that does not parse lets no password in. Either is a damaged file, whatever password is given.
TEST_P(DamagedVerifier, IsRefusedAsADamagedFileBeforeAnyHashing)
{
    const VerifierEdit& edit = GetParam();
    TempDir dir;
    const std::string path = dir.file("velmdb.mdb");
    test::makeDatabase(path, "CREATE TABLE partment (部门名称 VARCHAR(50));");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    installPasswordVerifier(db, Password);
    sqlite3_close(db);

    std::string verifier = storedVerifier(path);
    ASSERT_EQ(verifier.rfind("$argon2id$v=19$m=", 0), 0u) << verifier;
    if (*edit.costs) {
        const std::size_t from = verifier.find("$m=");
        const std::size_t to = verifier.find('$', from + 1);
        ASSERT_NE(to, std::string::npos) << verifier;
        verifier.replace(from, to - from + 1, edit.costs);
    }
    if (edit.cutAt)
        verifier.resize(edit.cutAt);
    test::makeDatabase(path, std::string("UPDATE ") + PasswordVerifierTable + " SET verifier = '" + verifier + "'");

    for (const std::string& given : {Password, std::string("other")}) {
        SCOPED_TRACE(given);
        try {
            connectProvider(connectionString(path, given), dir.folder());
            ADD_FAILURE() << "connected with " << verifier;
        } catch (const DatabaseError& e) {
            const std::string message = e.what();
            EXPECT_EQ(e.kind(), ErrorKind::Damaged) << message;
            for (const std::string& part :
                 {path, std::string("password verifier"), std::string("damaged"), std::string(edit.mention)})
                EXPECT_NE(message.find(part), std::string::npos) << message << "\nlacks: " << part;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Edits, DamagedVerifier,
                         ::testing::Values(VerifierEdit{"OnePassTooMany", "$m=65536,t=5,p=1$", 0, "costs"},
                                           VerifierEdit{"FourBillionPasses", "$m=65536,t=4294967295,p=1$", 0, "costs"},
                                           VerifierEdit{"PassesBeyondAnyNumber",
                                                        "$m=65536,t=99999999999999999999999,p=1$", 0, "parse"},
                                           VerifierEdit{"MemoryBeyondOneGiB", "$m=1048577,t=1,p=1$", 0, "costs"},
                                           VerifierEdit{"FourTiBOfMemory", "$m=4294967295,t=2,p=1$", 0, "costs"},
                                           VerifierEdit{"CutBeforeItsSalt", "", 31, "parse"},
                                           VerifierEdit{"CutInsideItsSalt", "", 45, "parse"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
