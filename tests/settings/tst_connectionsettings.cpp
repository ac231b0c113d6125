#include "settings/ConnectionSettings.h"

#include "data/provider/ConnectionString.h"
#include "settings/ProfileFile.h"

#include "tests/support/QtFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

// The provider's fixed text around the three values, as the settings file's
// readers have always sent it.
const QString Head = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";User ID=");
const QString AfterUser = QStringLiteral(";Data Source=");
const QString AfterSource =
    QStringLiteral(";Mode=Share Deny None;Extended Properties=\"\";Locale Identifier=1028;Jet OLEDB:System "
                   "database=\"\";Jet OLEDB:Registry Path=\"\";Jet OLEDB:Database Password=");
const QString Tail =
    QStringLiteral(";Jet OLEDB:Engine Type=5;Jet OLEDB:Database Locking Mode=1;Jet OLEDB:Global Partial Bulk Ops=2;Jet "
                   "OLEDB:Global Bulk Transactions=1;Jet OLEDB:New Database Password=\"\";Jet OLEDB:Create System "
                   "Database=False;Jet OLEDB:Encrypt Database=False;Jet OLEDB:Don't Copy Locale on Compact=False;Jet "
                   "OLEDB:Compact Without Replica Repair=False;Jet OLEDB:SFP=False;");

QString built(const QString& source, const QString& user, const QString& password)
{
    ConnectionSettings settings(QStringLiteral("/nowhere/"));
    settings.DBSource = source;
    settings.DBUser = user;
    settings.DBPassword = password;
    settings.BuildConnectionString();
    return settings.DBConnString;
}

TEST(ConnectionString, fixedPiecesAre569Characters)
{
    EXPECT_EQ(built("", "", ""), Head + AfterUser + AfterSource + Tail);
    EXPECT_EQ(built("", "", "").size(), 569);
}

TEST(ConnectionString, defaultValuesGiveTheProvidersString)
{
    EXPECT_EQ(built("data/velmdb.mdb", "admin", "mivotelq"),
              "Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";User ID=admin;Data Source=data/velmdb.mdb;Mode=Share "
              "Deny None;Extended Properties=\"\";Locale Identifier=1028;Jet OLEDB:System database=\"\";Jet "
              "OLEDB:Registry Path=\"\";Jet OLEDB:Database Password=mivotelq;Jet OLEDB:Engine Type=5;Jet "
              "OLEDB:Database Locking Mode=1;Jet OLEDB:Global Partial Bulk Ops=2;Jet OLEDB:Global Bulk "
              "Transactions=1;Jet OLEDB:New Database Password=\"\";Jet OLEDB:Create System Database=False;Jet "
              "OLEDB:Encrypt Database=False;Jet OLEDB:Don't Copy Locale on Compact=False;Jet OLEDB:Compact "
              "Without Replica Repair=False;Jet OLEDB:SFP=False;");
}

struct ValueCase
{
    const char* name;
    QString source, user, password;
    // As they appear in the string.
    QString sourceText, userText, passwordText;
};

class ConnectionStringValues : public ::testing::TestWithParam<ValueCase>
{
};

TEST_P(ConnectionStringValues, areInsertedAsTheProviderReadsThem)
{
    const ValueCase& c = GetParam();
    const QString text = built(c.source, c.user, c.password);
    EXPECT_EQ(text, Head + c.userText + AfterUser + c.sourceText + AfterSource + c.passwordText + Tail);

    // The data layer reads back exactly the values that were set.
    const auto parsed = data::ConnectionString::parse(text.toStdString());
    EXPECT_EQ(QString::fromStdString(parsed.valueOr("User ID")), c.user);
    EXPECT_EQ(QString::fromStdString(parsed.valueOr("Data Source")), c.source);
    EXPECT_EQ(QString::fromStdString(parsed.valueOr("Jet OLEDB:Database Password")), c.password);
    EXPECT_EQ(parsed.valueOr("Password", "<none>"), "");
    EXPECT_EQ(parsed.valueOr("Provider"), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(parsed.valueOr("Jet OLEDB:Don't Copy Locale on Compact"), "False");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionStringValues,
    ::testing::Values(
        // Ordinary values go in unchanged, relative paths unresolved.
        ValueCase{"ordinary", "velmdb.mdb", "admin", "739015", "velmdb.mdb", "admin", "739015"},
        ValueCase{"absoluteAndChinese", "/srv/药店/velm db.mdb", "管理员", "口令1", "/srv/药店/velm db.mdb", "管理员",
                  "口令1"},
        ValueCase{"windowsPath", "d:\\shop\\velmdb.mdb", "Admin", "p=w", "d:\\shop\\velmdb.mdb", "Admin", "p=w"},
        ValueCase{"emptyValues", "", "", "", "", "", ""},
        // Values the string would misread are quoted, inner double quotes doubled.
        ValueCase{"semicolon", "a;b.mdb", "admin", "pa;ss", "\"a;b.mdb\"", "admin", "\"pa;ss\""},
        ValueCase{"doubleQuote", "velmdb.mdb", "ad\"min", "\"x\"", "velmdb.mdb", "\"ad\"\"min\"", "\"\"\"x\"\"\""},
        ValueCase{"singleQuote", "o'neil.mdb", "admin", "'", "\"o'neil.mdb\"", "admin", "\"'\""},
        ValueCase{"blanksAtEnds", " lead.mdb", "admin ", "\tpw", "\" lead.mdb\"", "\"admin \"", "\"\tpw\""},
        ValueCase{"leadingEquals", "velmdb.mdb", "admin", "=pw", "velmdb.mdb", "admin", "\"=pw\""},
        ValueCase{"injection", "velmdb.mdb", "admin", "x;Data Source=/tmp/other.mdb", "velmdb.mdb", "admin",
                  "\"x;Data Source=/tmp/other.mdb\""}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

class ConnectionSettingsRead : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString folder = dir.path() + u'/';
    ConnectionSettings settings{folder};

    void expectValues(const QString& source, const QString& user, const QString& password)
    {
        EXPECT_EQ(settings.DBSource, source);
        EXPECT_EQ(settings.DBUser, user);
        EXPECT_EQ(settings.DBPassword, password);
    }
};

TEST_F(ConnectionSettingsRead, fileBesideTheExecutable)
{
    EXPECT_EQ(settings.iniPath(), folder + "DBConn.ini");
}

TEST_F(ConnectionSettingsRead, withoutFileEachSetGivesItsDefaults)
{
    settings.ReadConnectionSettings(FirstReadDefaults);
    expectValues("data/velmdb.mdb", "admin", "mivotelq");
    settings.BuildConnectionString();
    EXPECT_TRUE(settings.DBConnString.contains(";Data Source=data/velmdb.mdb;"));

    settings.ReadConnectionSettings(ReReadDefaults);
    expectValues("velmdb.mdb", "admin", "739015");
}

TEST_F(ConnectionSettingsRead, keysPresentWinOverBothSets)
{
    writeBytes(settings.iniPath(), "[Velmora]\nDB_Source=shop.mdb\nDB_User=boss\nDB_Password=s3cret\n");
    for (const SettingsDefaults& defaults : {FirstReadDefaults, ReReadDefaults}) {
        settings.ReadConnectionSettings(defaults);
        expectValues("shop.mdb", "boss", "s3cret");
    }
}

TEST_F(ConnectionSettingsRead, missingKeysTakeTheDefaultEmptyKeysStayEmpty)
{
    writeBytes(settings.iniPath(), "[VELMORA]\ndb_source=\nDB_USER=boss\n");
    settings.ReadConnectionSettings(ReReadDefaults);
    expectValues("", "boss", "739015");
    settings.BuildConnectionString();
    EXPECT_TRUE(settings.DBConnString.contains(";Data Source=;"));
}

TEST_F(ConnectionSettingsRead, fileIsLookedUpAtEachRead)
{
    settings.ReadConnectionSettings(FirstReadDefaults);
    ProfileFile(settings.iniPath()).writeString("Velmora", "DB_Source", "later.mdb");
    settings.ReadConnectionSettings(FirstReadDefaults);
    expectValues("later.mdb", "admin", "mivotelq");
}

TEST_F(ConnectionSettingsRead, damagedFileReadsAsDefaults)
{
    QByteArray garbage(5000, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) % 256);
    writeBytes(settings.iniPath(), garbage);
    settings.ReadConnectionSettings(FirstReadDefaults);
    expectValues("data/velmdb.mdb", "admin", "mivotelq");
}

// The lock-out's keys of ours beside the connection settings: 0 turns it off, anything unreadable is the default.
TEST(LockoutSettings, ReadFromTheKeysOfOurs)
{
    const struct
    {
        const char* lines;
        int attempts;
        int minutes;
    } cases[] = {
        {"", 5, 15},
        {"LockoutAttempts=3\nLockoutMinutes=60\n", 3, 60},
        {"lockoutattempts = 0\n", 0, 15},
        {"LockoutMinutes=0\n", 5, 0},
        {"LockoutAttempts=-2\nLockoutMinutes=lots\n", 5, 15},
        {"LockoutAttempts= 7 \n", 7, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        const QString path = folder.path() + "/";
        writeBytes(settingsFilePath(path),
                   QByteArray("[Velmora]\nDB_Source=x.mdb\n") + c.lines + "[Other]\nLockoutAttempts=99\n");
        const data::LockoutPolicy policy = readLockoutPolicy(path);
        EXPECT_EQ(policy.attempts, c.attempts);
        EXPECT_EQ(policy.minutes, c.minutes);
        EXPECT_EQ(policy.active(), c.attempts > 0 && c.minutes > 0);
    }
    EXPECT_EQ(readLockoutPolicy(QStringLiteral("/nowhere/")).attempts, 5);
}

} // namespace
