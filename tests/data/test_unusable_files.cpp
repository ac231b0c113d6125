// Database files the connect cannot use as they are: each refusal names the file and what is wrong with it
// rather than blaming the password or the file's format. A file in a folder this user may not write, or one it
// may only read, is a permission problem, told as one.
#include "data/Backend.h"
#include "data/Errors.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/SqliteBackend.h"

#include "tests/support/TempFolder.h"
#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace velmora::data;
using velmora::test::rowsOfFile;
using velmora::test::TempFolder;

namespace {

namespace fs = std::filesystem;

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
    TempFolder dir;
    const std::string path = dir.file("velmdb.mdb");
    rowsOfFile(path, "CREATE TABLE partment (部门名称 VARCHAR(50));");
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
    rowsOfFile(path, std::string("UPDATE ") + PasswordVerifierTable + " SET verifier = '" + verifier + "'");

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

// ---- files and folders this user may not change -----------------------------------------------------------------

// Makes a file or folder unchangeable for the test's duration: the immutable attribute, which holds root as
// well, or else, for an account that permission bits hold, taking write permission away.
class Unchangeable
{
public:
    explicit Unchangeable(const fs::path& path) : m_path(path)
    {
        if (std::system(("chattr +i '" + path.string() + "' 2>/dev/null").c_str()) == 0) {
            m_how = How::Attribute;
        } else if (::geteuid() != 0) {
            m_saved = fs::status(path).permissions();
            fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
            m_how = How::Permissions;
        }
        if (m_how != How::None && ::access(path.c_str(), W_OK) == 0) {
            undo();
            m_how = How::None;
        }
    }
    ~Unchangeable() { undo(); }
    Unchangeable(const Unchangeable&) = delete;
    Unchangeable& operator=(const Unchangeable&) = delete;

    bool ok() const { return m_how != How::None; }

private:
    enum class How { None, Attribute, Permissions };
    void undo()
    {
        if (m_how == How::Attribute)
            std::system(("chattr -i '" + m_path.string() + "' 2>/dev/null").c_str());
        else if (m_how == How::Permissions)
            fs::permissions(m_path, m_saved);
    }

    fs::path m_path;
    How m_how = How::None;
    fs::perms m_saved = fs::perms::none;
};

const char* const CannotChange = "neither the immutable attribute (chattr +i, needs root on a file system that has "
                                 "it) nor permission bits (they do not hold root) can make a folder unwritable here";

struct PermissionCase
{
    const char* name;
    bool writeAheadLog;
    bool readOnlyFolder;
    bool readOnlyFile;
    bool companionsLeft;               // another connection keeps the -wal and -shm beside the file meanwhile
    bool connects;                     // the connect succeeds and reads
    bool writes;                       // a row can be added
    std::vector<std::string> mentions; // of the refusal; "{path}", "{folder}" stand for them
};

void PrintTo(const PermissionCase& c, std::ostream* out)
{
    *out << c.name;
}

class MissingPermission : public ::testing::TestWithParam<PermissionCase>
{
};

TEST_P(MissingPermission, IsToldAsOneNamingTheFileOrFolder)
{
    const PermissionCase& c = GetParam();
    TempFolder dir;
    const fs::path folder = dir.path() / "data";
    fs::create_directories(folder);
    const std::string path = (folder / "velmdb.mdb").string();
    if (c.writeAheadLog)
        createDatabaseFile(path)->execute("CREATE TABLE partment (部门名称 VARCHAR(50));"
                                          "INSERT INTO partment VALUES ('药房');");
    else
        rowsOfFile(path, "CREATE TABLE partment (部门名称 VARCHAR(50)); INSERT INTO partment VALUES ('药房');");

    sqlite3* other = nullptr;
    if (c.companionsLeft) {
        ASSERT_EQ(sqlite3_open_v2(path.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "SELECT count(*) FROM partment", nullptr, nullptr, nullptr), SQLITE_OK);
        ASSERT_TRUE(fs::exists(path + "-shm"));
    }
    std::vector<std::unique_ptr<Unchangeable>> locks;
    if (c.readOnlyFile)
        locks.push_back(std::make_unique<Unchangeable>(path));
    if (c.readOnlyFolder)
        locks.push_back(std::make_unique<Unchangeable>(folder));
    for (const auto& lock : locks)
        if (!lock->ok()) {
            sqlite3_close(other);
            GTEST_SKIP() << CannotChange;
        }

    std::optional<DatabaseError> error;
    try {
        auto backend = connectProvider(connectionString(path, ""), dir.folder());
        EXPECT_TRUE(c.connects) << "connected";
        EXPECT_EQ(backend->openTable("partment").rows.size(), 1u);
        backend->insertRow("partment", {{"部门名称", std::string("库房")}});
        EXPECT_TRUE(c.writes) << "wrote";
    } catch (const DatabaseError& e) {
        error = e;
    }
    locks.clear();
    sqlite3_close(other);

    if (c.connects && c.writes) {
        EXPECT_FALSE(error) << error->what();
        return;
    }
    ASSERT_TRUE(error) << "no refusal";
    const std::string message = error->what();
    EXPECT_EQ(error->kind(), ErrorKind::Permission) << message;
    // Refused while working, the clerk reads first what became of it and whom to ask.
    if (c.connects) {
        EXPECT_EQ(message.rfind("这台电脑上的用户不能写入数据库文件", 0), 0u) << message;
    }
    for (std::string mention : c.mentions) {
        for (const auto& [mark, value] : {std::pair{std::string("{path}"), path}, {"{folder}", folder.string()}})
            if (const auto at = mention.find(mark); at != std::string::npos)
                mention.replace(at, mark.size(), value);
        EXPECT_NE(message.find(mention), std::string::npos) << message << "\nlacks: " << mention;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, MissingPermission,
    ::testing::Values(
        PermissionCase{"LogInAFolderThatCannotBeWritten",
                       true,
                       true,
                       false,
                       false,
                       false,
                       false,
                       {"Could not use '{path}': permission denied", "folder '{folder}'", "write-ahead log",
                        "'velmdb.mdb-wal' and 'velmdb.mdb-shm'"}},
        PermissionCase{"LogInAFolderThatCannotBeWrittenWithItsFilesThere", true, true, false, true, true, true, {}},
        PermissionCase{"LogWithAFileThatCannotBeWritten",
                       true,
                       false,
                       true,
                       false,
                       true,
                       false,
                       {"Could not use '{path}': permission denied", "the file cannot be written"}},
        PermissionCase{"JournalInAFolderThatCannotBeWritten",
                       false,
                       true,
                       false,
                       false,
                       true,
                       false,
                       {"Could not use '{path}': permission denied", "folder '{folder}'", "'velmdb.mdb-journal'"}},
        PermissionCase{"JournalWithAFileThatCannotBeWritten",
                       false,
                       false,
                       true,
                       false,
                       true,
                       false,
                       {"Could not use '{path}': permission denied", "the file cannot be written"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
