// A server's URI read as written: what it asks of the session (options=, client_encoding=) never takes away the
// program's own settings (ISO dates, its command time-out, UTF-8), an encoding the program cannot read is refused
// by name, and a role and password written in the URI count over the settings' defaults.

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/provider/ConnectionString.h"
#include "tests/support/BackendTest.h"
#include "tests/support/ErrorOf.h"

#include <gtest/gtest.h>

using namespace velmora::data;
using namespace velmora::test;

namespace {

class ServerUri : public ServerTest
{
protected:
    // The connection string the start-up builds when DBConn.ini names only the source: the settings' defaults
    // for the role and its password.
    std::string withDefaults(const std::string& uri) const { return startupConnectionString("admin", uri, "mivotelq"); }
    std::string withTestRole(const std::string& uri) const
    {
        return startupConnectionString(db->server()->user, uri, db->server()->password);
    }
    // The URI with the test role and its password written in it.
    std::string uriWithRole(const std::string& query = {}) const
    {
        const TestServer& s = *db->server();
        const std::string uri = db->source();
        return "postgresql://" + s.user + ":" + s.password + "@" + uri.substr(std::string("postgresql://").size()) +
               query;
    }
};

struct SessionCase
{
    const char* name;
    std::string query; // appended to the URI
};

TEST_F(ServerUri, TheProgramsOwnSessionSettingsStayWhateverTheUriAsks)
{
    const SessionCase cases[] = {
        {"nothing asked", ""},
        {"another date style", "?options=-c%20DateStyle%3DGerman"},
        {"no statement time-out", "?options=-c%20statement_timeout%3D0"},
        {"both, and a setting of its own", "?options=-c%20DateStyle%3DSQL,DMY%20-c%20statement_timeout%3D0%20-c%20"
                                           "lock_timeout%3D4500"},
        {"UTF-8 asked for", "?client_encoding=UTF8"},
        {"the encoding left to the program", "?client_encoding=auto"},
    };
    for (const SessionCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Backend> backend;
        ASSERT_NO_THROW(backend = connectProvider(withTestRole(db->source() + c.query), db->folder()));
        const ResultSet settings =
            backend->query("SELECT current_setting('DateStyle'), current_setting('statement_timeout'), "
                           "current_setting('client_encoding'), CAST(? AS timestamp)",
                           {std::string("2026-11-12 08:30:00")});
        ASSERT_EQ(settings.rows.size(), 1u);
        EXPECT_EQ(std::get<std::string>(settings.rows[0][0]), "ISO, YMD");
        EXPECT_EQ(std::get<std::string>(settings.rows[0][1]), "30s");
        EXPECT_EQ(std::get<std::string>(settings.rows[0][2]), "UTF8");
        EXPECT_EQ(std::get<std::string>(settings.rows[0][3]), "2026-11-12 08:30:00");
    }
    // What the URI asks besides stays asked.
    auto backend = connectProvider(withTestRole(db->source() + cases[3].query), db->folder());
    EXPECT_EQ(std::get<std::string>(backend->query("SELECT current_setting('lock_timeout')", {}).rows.at(0).at(0)),
              "4500ms");
}

TEST_F(ServerUri, AnEncodingTheProgramCannotReadIsRefusedByName)
{
    for (const char* encoding : {"GBK", "LATIN1", "SQL_ASCII"}) {
        SCOPED_TRACE(encoding);
        const std::string connection = withTestRole(db->source() + "?client_encoding=" + encoding);
        std::string message = errorOf([&] { connectProvider(connection, db->folder()); });
        // Named in the reason, not only in the URI the message shows.
        const std::string uri = db->source() + "?client_encoding=" + encoding;
        if (const auto at = message.find(uri); at != std::string::npos)
            message.erase(at, uri.size());
        EXPECT_NE(message.find(encoding), std::string::npos) << message;
        EXPECT_NE(message.find("UTF-8"), std::string::npos) << message;
        EXPECT_EQ(kindOf([&] { connectProvider(connection, db->folder()); }), ErrorKind::Unsupported);
    }
}

// DBConn.ini that names only the source reads as the defaults admin / mivotelq; the URI's own role and password
// are the ones that count.
TEST_F(ServerUri, ARoleAndPasswordWrittenInTheUriWin)
{
    const TestServer& s = *db->server();
    const struct
    {
        const char* name;
        std::string connection;
    } cases[] = {
        {"role and password in the URI, the settings' defaults", withDefaults(uriWithRole())},
        {"role and password in the URI and others in the settings",
         startupConnectionString("someone_else", uriWithRole(), "wrong-secret-9")},
        {"role in the URI, its password in the settings",
         startupConnectionString("admin",
                                 "postgresql://" + s.user + "@" + s.host + ":" + s.port + "/" +
                                     db->source().substr(db->source().rfind('/') + 1),
                                 s.password)},
        {"role in the query", withDefaults(db->source() + "?user=" + s.user + "&password=" + s.password)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Backend> backend;
        ASSERT_NO_THROW(backend = connectProvider(c.connection, db->folder()));
        EXPECT_EQ(std::get<std::string>(backend->query("SELECT current_user", {}).rows.at(0).at(0)), s.user);
    }
    // Without a role in the URI the settings' role counts, as before.
    EXPECT_NE(errorOf([&] { connectProvider(withDefaults(db->source()), db->folder()); }).find("admin"),
              std::string::npos);
}

} // namespace
