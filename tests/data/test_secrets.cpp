// The database password never appears in what a failed connect says: every
// refusal names the file and the cause, and nothing else the caller gave.
#include "data/Backend.h"
#include "data/Errors.h"
#include "data/Schema.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/SqliteBackend.h"
#include "data/provider/ConnectionString.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace velmora::data;

namespace {

const std::string RightPassword = "Right-Pw-4711";
const std::string GivenPassword = "Given-Pw-0815";

struct Case
{
    const char* name;
    std::string connectionString; // FOLDER stands for the temporary folder
    const char* cause;            // part of the message
};

TEST(Secrets, FailedConnectNamesNoPassword)
{
    const velmora::test::TempFolder dir;
    const std::string folder = dir.folder();
    {
        auto backend = createDatabaseFile(folder + "locked.mdb");
        backend->execute("BEGIN;" + schemaScript() + "COMMIT;");
        installPasswordVerifier(backend->handle(), RightPassword);
    }
    {
        auto backend = createDatabaseFile(folder + "damaged.mdb");
        backend->execute(std::string("CREATE TABLE ") + PasswordVerifierTable + " (x); INSERT INTO " +
                         PasswordVerifierTable + " VALUES ('" + RightPassword + "');");
    }
    std::ofstream(folder + "text.mdb") << "not a database, password " << RightPassword << "\n";

    const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;";
    const std::string password = ";Jet OLEDB:Database Password=" + GivenPassword;
    const Case cases[] = {
        {"wrong password", jet + "User ID=Admin;Data Source=locked.mdb" + password, "password"},
        {"no password", jet + "User ID=Admin;Data Source=locked.mdb", "password"},
        {"password quoted",
         jet + "Data Source=locked.mdb;Jet OLEDB:Database Password=" + quoteValue(GivenPassword + ";x"), "password"},
        {"wrong user", jet + "User ID=clerk;Data Source=locked.mdb" + password, "clerk"},
        {"missing file", jet + "Data Source=none.mdb" + password, "none.mdb"},
        {"not a database", jet + "Data Source=text.mdb" + password, "text.mdb"},
        {"damaged verifier", jet + "Data Source=damaged.mdb" + password, "damaged.mdb"},
        {"other provider", "Provider=SQLOLEDB;Data Source=locked.mdb" + password, "SQLOLEDB"},
        {"malformed text", jet + "Data Source=locked.mdb" + password + ";Mode=\"open", "character"},
    };
    for (const Case& c : cases) {
        try {
            connectProvider(c.connectionString, folder);
            ADD_FAILURE() << c.name << ": connected";
        } catch (const DatabaseError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.cause), std::string::npos) << c.name << ": " << message;
            for (const std::string& secret : {RightPassword, GivenPassword})
                EXPECT_EQ(message.find(secret), std::string::npos) << c.name << ": " << message;
        }
    }
}

} // namespace
