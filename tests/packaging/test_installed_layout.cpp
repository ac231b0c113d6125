// The installed layout: the program's folder holds links DBConn.ini and data into a folder shared by the
// operators' group (set-group-ID), as the package makes /usr/lib/velmora and /var/lib/velmora. Saving the
// settings replaces the link's target, never the link, and keeps the target's mode and group; the database is
// reached through the link, and the journals SQLite makes beside it are as usable by the group as the file.
#include "data/Schema.h"
#include "data/dataset/Dataset.h"
#include "data/dataset/Field.h"
#include "data/engines/SqliteBackend.h"
#include "data/module/DMod.h"
#include "data/provider/ConnectionString.h"
#include "settings/ConnectionSettings.h"
#include "settings/ProfileFile.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using velmora::test::TempFolder;

namespace {

namespace fs = std::filesystem;

std::set<std::string> names(const fs::path& folder)
{
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder))
        out.insert(entry.path().filename().string());
    return out;
}

struct stat statusOf(const fs::path& path)
{
    struct stat status = {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class InstalledLayout : public ::testing::Test
{
protected:
    InstalledLayout() : m_root(m_folder.path())
    {
        fs::create_directories(m_root / "usr-lib-velmora");
        fs::create_directories(m_root / "var-lib-velmora" / "data");
        // A group of its own when the test may give one (root), so that "kept its group" means something.
        m_group = ::getegid();
        if (::geteuid() == 0)
            m_group = 4242;
        for (const fs::path& folder : {shared(), shared() / "data"}) {
            EXPECT_EQ(::chown(folder.c_str(), ::geteuid(), m_group), 0);
            EXPECT_EQ(::chmod(folder.c_str(), 02770), 0);
        }
        fs::create_symlink(shared() / "DBConn.ini", program() / "DBConn.ini");
        fs::create_symlink(shared() / "data", program() / "data");
        m_umask = ::umask(022); // an operator's usual one: it must not take the group's write permission away
    }
    ~InstalledLayout() override { ::umask(m_umask); }

    fs::path program() const { return m_root / "usr-lib-velmora"; }
    fs::path shared() const { return m_root / "var-lib-velmora"; }
    QString programFolder() const { return QString::fromStdString(program().string() + "/"); }

    // What the package's postinst makes: an empty settings file that the group may write.
    void makeSettingsFile()
    {
        std::ofstream(shared() / "DBConn.ini").flush();
        ASSERT_EQ(::chown((shared() / "DBConn.ini").c_str(), ::geteuid(), m_group), 0);
        ASSERT_EQ(::chmod((shared() / "DBConn.ini").c_str(), 0660), 0);
    }

    void expectLinksInPlace()
    {
        EXPECT_EQ(names(program()), (std::set<std::string>{"DBConn.ini", "data"}));
        for (const char* name : {"DBConn.ini", "data"}) {
            EXPECT_TRUE(fs::is_symlink(program() / name)) << name;
            EXPECT_EQ(fs::read_symlink(program() / name), shared() / name) << name;
        }
    }

    TempFolder m_folder;
    fs::path m_root;
    gid_t m_group;
    mode_t m_umask;
};

TEST_F(InstalledLayout, SavingTheSettingsReplacesTheLinksTargetAndKeepsItsModeAndGroup)
{
    makeSettingsFile();
    // A reader that has the file open while it is saved.
    const int reader = ::open((shared() / "DBConn.ini").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    for (const char* source : {"data/velmdb.mdb", "d:\\shop\\velmdb.mdb"}) {
        SCOPED_TRACE(source);
        ProfileFile(settingsFilePath(programFolder()))
            .writeStrings(QStringLiteral("Velmora"), {{QStringLiteral("DB_Source"), source},
                                                      {QStringLiteral("DB_User"), "admin"},
                                                      {QStringLiteral("DB_Password"), "s3cret"}});
        expectLinksInPlace();
        EXPECT_EQ(names(shared()), (std::set<std::string>{"DBConn.ini", "data"})) << "no temporary file is left";
        EXPECT_NE(readFile(shared() / "DBConn.ini").find(std::string("DB_Source=") + source), std::string::npos);
        const struct stat status = statusOf(shared() / "DBConn.ini");
        EXPECT_EQ(status.st_mode & 07777, 0660u);
        EXPECT_EQ(status.st_gid, m_group);
    }
    // Replaced, not written in place: the reader still has the whole file it opened, never half a new one.
    struct stat opened = {};
    ASSERT_EQ(::fstat(reader, &opened), 0);
    EXPECT_NE(statusOf(shared() / "DBConn.ini").st_ino, opened.st_ino);
    EXPECT_EQ(opened.st_size, 0);
    ::close(reader);

    ConnectionSettings settings(programFolder());
    settings.ReadConnectionSettings(FirstReadDefaults);
    EXPECT_EQ(settings.DBPassword, "s3cret");
}

TEST_F(InstalledLayout, SettingsSavedThroughALinkWithoutTargetLandInTheSharedFolder)
{
    ProfileFile(settingsFilePath(programFolder()))
        .writeString(QStringLiteral("Velmora"), QStringLiteral("DB_Source"), "data/velmdb.mdb");
    expectLinksInPlace();
    EXPECT_NE(readFile(shared() / "DBConn.ini").find("DB_Source=data/velmdb.mdb"), std::string::npos);
    EXPECT_EQ(statusOf(shared() / "DBConn.ini").st_gid, m_group);
}

// An administrator deleted the settings file; the operator who saves next makes it anew, and every other operator
// of the group must still read and write it.
TEST_F(InstalledLayout, ASettingsFileMadeAnewInTheSharedFolderIsTheGroupsToReadAndWrite)
{
    makeSettingsFile();
    fs::remove(shared() / "DBConn.ini");
    ProfileFile(settingsFilePath(programFolder()))
        .writeStrings(QStringLiteral("Velmora"),
                      {{QStringLiteral("DB_Source"), "data/velmdb.mdb"}, {QStringLiteral("DB_Password"), "s3cret"}});
    expectLinksInPlace();
    const struct stat status = statusOf(shared() / "DBConn.ini");
    EXPECT_EQ(status.st_mode & 07777, 0660u);
    EXPECT_EQ(status.st_gid, m_group);
}

TEST_F(InstalledLayout, SignOnReachesTheSharedDatabaseAndItsJournalsKeepTheFilesMode)
{
    makeSettingsFile();
    const fs::path database = shared() / "data" / "velmdb.mdb";
    {
        auto backend = data::createDatabaseFile(database.string());
        backend->execute("BEGIN;\n" + data::schemaScript() + "COMMIT;\n");
    }
    // Made in the group's folder, the database is the group's to write and no one else's.
    EXPECT_EQ(statusOf(database).st_mode & 0777, 0660u);
    EXPECT_EQ(statusOf(database).st_gid, m_group);

    ProfileFile(settingsFilePath(programFolder()))
        .writeString(QStringLiteral("Velmora"), QStringLiteral("DB_Source"), "data/velmdb.mdb");
    ConnectionSettings settings(programFolder());
    settings.ReadConnectionSettings(FirstReadDefaults);
    settings.BuildConnectionString();
    data::TDMod dmod(programFolder().toStdString());
    dmod.ADOCON().setConnectionString(settings.DBConnString.toStdString());
    dmod.ADOCON().open();
    data::Dataset& records = dmod.toper();
    records.open();
    records.append();
    records.fieldByName("登录时间").setAsDateTime(data::DateTime::nowLocal());
    records.fieldByName("userid").setAsLargeInt(1);
    records.post();

    // While the till is signed on its journals exist; another operator of the group must be able to use them.
    for (const char* suffix : {"-wal", "-shm"}) {
        SCOPED_TRACE(suffix);
        const struct stat status = statusOf(database.string() + suffix);
        EXPECT_EQ(status.st_mode & 0777, 0660u);
        EXPECT_EQ(status.st_gid, m_group);
    }
    expectLinksInPlace();
}

TEST(SharedDatabaseFile, OnlyAFolderSharedByItsGroupMakesTheFileGroupWritable)
{
    std::string pattern = (fs::temp_directory_path() / "velmora-create-XXXXXX").string();
    const fs::path root = ::mkdtemp(pattern.data()) ? pattern : std::string();
    const mode_t saved = ::umask(022);
    fs::create_directories(root / "own");
    fs::create_directories(root / "shared");
    ASSERT_EQ(::chmod((root / "shared").c_str(), 02770), 0);
    data::createDatabaseFile((root / "own" / "velmdb.mdb").string());
    data::createDatabaseFile((root / "shared" / "velmdb.mdb").string());
    // velmora-db create's way: made under another name, then named.
    for (const char* folder : {"own", "shared"}) {
        data::PendingDatabaseFile pending((root / folder / "pending.mdb").string());
        pending.publish("refused");
    }
    ::umask(saved);
    EXPECT_EQ(statusOf(root / "own" / "velmdb.mdb").st_mode & 0777, 0644u);
    EXPECT_EQ(statusOf(root / "shared" / "velmdb.mdb").st_mode & 0777, 0660u);
    EXPECT_EQ(statusOf(root / "own" / "pending.mdb").st_mode & 0777, 0644u);
    EXPECT_EQ(statusOf(root / "shared" / "pending.mdb").st_mode & 0777, 0660u);
    std::error_code ec;
    fs::remove_all(root, ec);
}

} // namespace
