#include "data/Backend.h"
#include "data/Errors.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/SqliteBackend.h"

#include "tests/support/SampleBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <iterator>

using namespace velmora::data;
using velmora::test::bytesOfFile;
using velmora::test::rowsOfFile;
using velmora::test::startupConnectionString;
using velmora::test::TempFolder;

namespace {

namespace fs = std::filesystem;

const std::string Secret = "S3cret-pw";

const char* const Schema = "CREATE TABLE partment (部门名称 VARCHAR(50));"
                           "INSERT INTO partment VALUES ('药房');";

// Open descriptors of this process on the file (or its journal files).
int openDescriptors(const std::string& path)
{
    int n = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(entry.path(), linkError).string();
        if (!linkError && target.rfind(path, 0) == 0)
            ++n;
    }
    return n;
}

void installVerifier(const std::string& path, const std::string& password)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    installPasswordVerifier(db, password);
    sqlite3_close(db);
}

struct FailureCase
{
    const char* name;
    std::function<void(const TempFolder&)> prepare;
    std::function<std::string(const TempFolder&)> connectionString;
    std::vector<std::string> mentions; // "{path}" stands for the file's full path
    ErrorKind kind;
};

TEST(ProviderTest, EachFailureNamesItsCauseAndLeavesNothingOpen)
{
    const auto withDb = [](const TempFolder& d) { rowsOfFile(d.file("velmdb.mdb"), Schema); };
    const auto plain = [](const std::string& user, const std::string& source, const std::string& password) {
        return [=](const TempFolder&) { return startupConnectionString(user, source, password); };
    };
    const std::vector<FailureCase> cases = {
        {"missing file",
         [](const TempFolder&) {},
         plain("admin", "velmdb.mdb", Secret),
         {"Could not find file '{path}'."},
         ErrorKind::NotFound},
        {"missing folder",
         [](const TempFolder&) {},
         plain("admin", "data/velmdb.mdb", Secret),
         {"Could not find file '", "/data/velmdb.mdb'"},
         ErrorKind::NotFound},
        {"folder",
         [](const TempFolder& d) { fs::create_directory(d.file("velmdb.mdb")); },
         plain("admin", "velmdb.mdb", Secret),
         {"Unrecognized database format '{path}'", "folder"},
         ErrorKind::Damaged},
        {"empty file",
         [](const TempFolder& d) { std::ofstream(d.file("velmdb.mdb")); },
         plain("admin", "velmdb.mdb", Secret),
         {"Unrecognized database format '{path}'", "empty"},
         ErrorKind::Damaged},
        {"not a database",
         [](const TempFolder& d) {
             std::ofstream out(d.file("velmdb.mdb"));
             out << "[Velmora]\nDB_Source=velmdb.mdb\n" << std::string(5000, 'x');
         },
         plain("admin", "velmdb.mdb", Secret),
         {"Unrecognized database format '{path}'"},
         ErrorKind::Damaged},
        {"wrong user",
         withDb,
         plain("guest", "velmdb.mdb", Secret),
         {"Not a valid account name or password.", "guest", "{path}"},
         ErrorKind::Permission},
        {"empty user",
         withDb,
         plain("", "velmdb.mdb", Secret),
         {"Not a valid account name or password."},
         ErrorKind::Permission},
        {"wrong provider",
         withDb,
         [](const TempFolder&) { return startupConnectionString("admin", "velmdb.mdb", Secret, "SQLOLEDB"); },
         {"Provider cannot be found.", "SQLOLEDB", "{path}"},
         ErrorKind::Unsupported},
        {"no provider",
         withDb,
         [](const TempFolder&) { return "User ID=admin;Data Source=velmdb.mdb;Jet OLEDB:Database Password=" + Secret; },
         {"Provider cannot be found."},
         ErrorKind::Unsupported},
        {"no data source",
         withDb,
         plain("admin", "", Secret),
         {"Could not find file ''", "Data Source"},
         ErrorKind::NotFound},
        {"malformed string",
         withDb,
         [](const TempFolder&) { return startupConnectionString("admin", "velmdb.mdb;x", Secret); },
         {"does not conform to the OLE DB rules"},
         ErrorKind::Malformed},
        {"wrong password",
         [&](const TempFolder& d) {
             withDb(d);
             installVerifier(d.file("velmdb.mdb"), "right one");
         },
         plain("admin", "velmdb.mdb", Secret),
         {"Not a valid password.", "{path}"},
         ErrorKind::Permission},
        {"damaged verifier",
         [&](const TempFolder& d) {
             withDb(d);
             rowsOfFile(d.file("velmdb.mdb"), "CREATE TABLE velmora_security (verifier TEXT)");
         },
         plain("admin", "velmdb.mdb", Secret),
         {"{path}", "password verifier", "damaged"},
         ErrorKind::Damaged},
        {"foreign verifier",
         [&](const TempFolder& d) {
             withDb(d);
             rowsOfFile(d.file("velmdb.mdb"), "CREATE TABLE velmora_security (verifier TEXT);"
                                              "INSERT INTO velmora_security VALUES ('" +
                                                  Secret + "')");
         },
         plain("admin", "velmdb.mdb", Secret),
         {"Not a valid password."},
         ErrorKind::Permission},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        c.prepare(dir);
        const std::string path = dir.file("velmdb.mdb");
        const bool existed = fs::exists(path);
        const std::string before = existed && fs::is_regular_file(path) ? bytesOfFile(path) : std::string();
        const std::string text = c.connectionString(dir);
        try {
            connectProvider(text, dir.folder());
            ADD_FAILURE() << "connected";
        } catch (const DatabaseError& e) {
            const std::string message = e.what();
            for (std::string mention : c.mentions) {
                if (const auto at = mention.find("{path}"); at != std::string::npos)
                    mention.replace(at, 6, path);
                EXPECT_NE(message.find(mention), std::string::npos) << message << "\nlacks: " << mention;
            }
            EXPECT_EQ(message.find(Secret), std::string::npos) << message;
            EXPECT_EQ(e.kind(), c.kind) << message;
        }
        EXPECT_EQ(openDescriptors(dir.path().string()), 0);
        EXPECT_EQ(fs::exists(path), existed);
        if (existed && fs::is_regular_file(path)) {
            EXPECT_EQ(bytesOfFile(path), before);
        }
        EXPECT_FALSE(fs::exists(path + "-journal"));
    }
}

TEST(ProviderTest, OpensAsAdminInAnyLetterCase)
{
    TempFolder dir;
    rowsOfFile(dir.file("velmdb.mdb"), Schema);
    for (const auto& [user, provider] :
         std::vector<std::pair<std::string, std::string>>{{"admin", "Microsoft.Jet.OLEDB.4.0"},
                                                          {"ADMIN", "microsoft.jet.oledb.4.0"},
                                                          {"Admin", "MICROSOFT.JET.OLEDB.4.0"}}) {
        SCOPED_TRACE(user + " " + provider);
        auto backend = connectProvider(startupConnectionString(user, "velmdb.mdb", "", provider), dir.folder());
        EXPECT_EQ(backend->openTable("partment").rows.size(), 1u);
    }
}

TEST(ProviderTest, RelativeSourceResolvesAgainstTheExecutableFolder)
{
    TempFolder exe;
    TempFolder elsewhere;
    fs::create_directories(exe.path() / "data");
    rowsOfFile(exe.file("data/velmdb.mdb"), Schema);
    // The working folder has no say.
    const fs::path previous = fs::current_path();
    fs::current_path(elsewhere.path());
    std::unique_ptr<Backend> backend;
    EXPECT_NO_THROW(backend = connectProvider(startupConnectionString("admin", "data/velmdb.mdb", "x"), exe.folder()));
    fs::current_path(previous);
    ASSERT_TRUE(backend);
    EXPECT_EQ(backend->openTable("partment").rows.size(), 1u);
    EXPECT_FALSE(fs::exists(elsewhere.path() / "data"));

    // An absolute source ignores the folder.
    auto absolute =
        connectProvider(startupConnectionString("admin", exe.file("data/velmdb.mdb"), "x"), elsewhere.folder());
    EXPECT_EQ(absolute->openTable("partment").rows.size(), 1u);
}

TEST(ProviderTest, AFileWithAVerifierOpensOnlyWithItsPassword)
{
    TempFolder dir;
    rowsOfFile(dir.file("velmdb.mdb"), Schema);
    installVerifier(dir.file("velmdb.mdb"), "mivotelq");

    auto backend = connectProvider(startupConnectionString("admin", "velmdb.mdb", "mivotelq"), dir.folder());
    EXPECT_EQ(backend->openTable("partment").rows.size(), 1u);
    backend.reset();
    for (const std::string wrong : {"", "739015", "MIVOTELQ", "mivotelq2", "\"\"", "\" mivotelq\""}) {
        SCOPED_TRACE(wrong);
        EXPECT_THROW(connectProvider(startupConnectionString("admin", "velmdb.mdb", wrong), dir.folder()),
                     DatabaseError);
    }
    // A quoted value is the password without its quotes; an unquoted one without its outer blanks.
    EXPECT_NO_THROW(connectProvider(startupConnectionString("admin", "velmdb.mdb", "\"mivotelq\""), dir.folder()));
    EXPECT_NO_THROW(connectProvider(startupConnectionString("admin", "velmdb.mdb", " mivotelq "), dir.folder()));
}

TEST(ProviderTest, AFileWithoutVerifierOpensWithAnyPassword)
{
    TempFolder dir;
    rowsOfFile(dir.file("velmdb.mdb"), Schema);
    for (const std::string password : {"", "mivotelq", "739015", "'any; thing'"}) {
        SCOPED_TRACE(password);
        EXPECT_NO_THROW(connectProvider(startupConnectionString("admin", "velmdb.mdb", password), dir.folder()));
    }
}

TEST(ProviderTest, TheVerifierCanBeReplacedAndRemoved)
{
    TempFolder dir;
    const std::string path = dir.file("velmdb.mdb");
    rowsOfFile(path, Schema);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    EXPECT_FALSE(hasPasswordVerifier(db));
    EXPECT_TRUE(passwordAccepted(db, "anything"));
    installPasswordVerifier(db, "first");
    installPasswordVerifier(db, "second");
    EXPECT_TRUE(hasPasswordVerifier(db));
    EXPECT_FALSE(passwordAccepted(db, "first"));
    EXPECT_TRUE(passwordAccepted(db, "second"));
    removePasswordVerifier(db);
    EXPECT_TRUE(passwordAccepted(db, "first"));
    sqlite3_close(db);
}

// A file made with the plain sqlite3 tool keeps a rollback journal, under which a backup or a long read keeps every
// till from writing: the connect switches it to the write-ahead log, its rows as they were.
TEST(ProviderTest, ConnectingSwitchesARollbackJournalFileToTheWriteAheadLog)
{
    TempFolder dir;
    const std::string path = dir.file("velmdb.mdb");
    rowsOfFile(path, std::string(Schema) + "INSERT INTO partment (部门名称) VALUES ('库房');");
    const auto rows = rowsOfFile(path, "SELECT * FROM partment");
    {
        auto backend = connectProvider(startupConnectionString("admin", "velmdb.mdb", ""), dir.folder());
        EXPECT_EQ(backend->openCommand("PRAGMA journal_mode").rows.at(0).at(0), Value(std::string("wal")));
    }
    EXPECT_EQ(rowsOfFile(path, "PRAGMA journal_mode").at(0).at(0), "wal");
    EXPECT_EQ(rowsOfFile(path, "SELECT * FROM partment"), rows);
    EXPECT_EQ(openDescriptors(dir.path().string()), 0);
}

// While another program writes to the file, the switch waits for no one: the connect goes on in the journal the file
// has, and changes nothing.
TEST(ProviderTest, AFileThatCannotSwitchNowIsLeftAsItWas)
{
    TempFolder dir;
    const std::string path = dir.file("velmdb.mdb");
    rowsOfFile(path, Schema);
    const std::string before = bytesOfFile(path);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    {
        auto backend = connectProvider(startupConnectionString("admin", "velmdb.mdb", ""), dir.folder());
        EXPECT_EQ(backend->openCommand("PRAGMA journal_mode").rows.at(0).at(0), Value(std::string("delete")));
    }
    sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    EXPECT_EQ(bytesOfFile(path), before);
}

TEST(ProviderTest, ADatabaseMadeByTheToolIsSharedThroughItsWriteAheadLog)
{
    TempFolder dir;
    const std::string path = dir.file("velmdb.mdb");
    createDatabaseFile(path)->execute(Schema);
    EXPECT_THROW(createDatabaseFile(path), DatabaseError);

    auto first = connectProvider(startupConnectionString("admin", path, ""), dir.folder());
    auto second = connectProvider(startupConnectionString("admin", path, ""), dir.folder());
    EXPECT_EQ(first->openCommand("PRAGMA journal_mode").rows.at(0).at(0), Value(std::string("wal")));
    // A reader is not kept out by another connection's open write.
    first->beginTransaction();
    first->insertRow("partment", {{"部门名称", std::string("库房")}});
    EXPECT_EQ(second->openTable("partment").rows.size(), 1u);
    first->commit();
    EXPECT_EQ(second->openTable("partment").rows.size(), 2u);
}

TEST(ProviderTest, AFileLockedByAnotherProcessIsReportedInUse)
{
    TempFolder dir;
    const std::string path = dir.file("velmdb.mdb");
    rowsOfFile(path, Schema); // rollback journal: a writer's exclusive lock keeps readers out
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    try {
        connectProvider(startupConnectionString("admin", "velmdb.mdb", ""), dir.folder());
        ADD_FAILURE() << "connected";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "Could not use '" + path + "'; file already in use.");
        EXPECT_EQ(e.kind(), ErrorKind::Locked);
        EXPECT_EQ(e.cause().engineCode & 0xFF, SQLITE_BUSY);
    }
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_NO_THROW(connectProvider(startupConnectionString("admin", "velmdb.mdb", ""), dir.folder()));
}

// A till whose write waits in vain for another's lock is told in Chinese that the database is busy and what to do.
TEST(ProviderTest, AWriteKeptOutByAnotherUsersLockIsToldInChinese)
{
    TempFolder dir;
    const std::string path = dir.file("velmdb.mdb");
    rowsOfFile(path, Schema);
    auto till = connectProvider(startupConnectionString("admin", "velmdb.mdb", ""), dir.folder());
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    try {
        till->insertRow("partment", {{"部门名称", std::string("库房")}});
        ADD_FAILURE() << "written past the lock";
    } catch (const DatabaseError& e) {
        const std::string text = e.what();
        EXPECT_EQ(e.kind(), ErrorKind::Locked) << text;
        EXPECT_EQ(text.rfind("数据库正被另一个用户（另一台收款机或一次备份）占用，等了 5 秒仍没有让出。", 0), 0u)
            << text;
        EXPECT_NE(text.find("database is locked"), std::string::npos) << text;
    }
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
}

} // namespace
