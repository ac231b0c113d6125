#include "settings/ProfileFile.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/QtFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class ProfileFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("DBConn.ini"));

    QString read(const QString& section, const QString& key, const QString& fallback = QStringLiteral("<default>"))
    {
        return ProfileFile(path).readString(section, key, fallback);
    }
};

struct ReadCase
{
    const char* name;
    QByteArray file; // empty: no file at all
    const char* section;
    const char* key;
    QString expected;
};

class ProfileFileRead : public ProfileFileTest, public ::testing::WithParamInterface<ReadCase>
{
};

TEST_P(ProfileFileRead, followsTheProfileRules)
{
    const ReadCase& c = GetParam();
    if (!c.file.isNull())
        writeBytes(path, c.file);
    EXPECT_EQ(read(QString::fromUtf8(c.section), QString::fromUtf8(c.key)), c.expected);
}

const QByteArray Plain = "[Velmora]\nDB_Source=d:\\shop\\velmdb.mdb\nDB_User=admin\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileFileRead,
    ::testing::Values(
        ReadCase{"noFile", QByteArray(), "Velmora", "DB_User", "<default>"},
        ReadCase{"emptyFile", "", "Velmora", "DB_User", "<default>"},
        ReadCase{"otherSection", "[Other]\nDB_User=x\n", "Velmora", "DB_User", "<default>"},
        ReadCase{"otherKey", Plain, "Velmora", "DB_Password", "<default>"},
        ReadCase{"present", Plain, "Velmora", "DB_Source", "d:\\shop\\velmdb.mdb"},
        ReadCase{"emptyValueIsNotTheDefault", "[Velmora]\nDB_User=\n", "Velmora", "DB_User", ""},
        ReadCase{"blankValueIsEmpty", "[Velmora]\nDB_User=   \n", "Velmora", "DB_User", ""},
        ReadCase{"sectionInOtherCase", "[VELMORA]\nDB_User=x\n", "Velmora", "DB_User", "x"},
        ReadCase{"keyInOtherCase", "[velmora]\ndb_uSER=x\n", "Velmora", "DB_User", "x"},
        ReadCase{"blanksAroundEquals", "[ Velmora ]\n  DB_User  =  x y  \n", "Velmora", "DB_User", "x y"},
        ReadCase{"windowsLineEnds", "[Velmora]\r\nDB_User=x\r\nDB_Password=y\r\n", "Velmora", "DB_User", "x"},
        ReadCase{"equalsInValue", "[Velmora]\nDB_Password=a=b\n", "Velmora", "DB_Password", "a=b"},
        ReadCase{"doubleQuotesDropped", "[Velmora]\nDB_Password=\" a b \"\n", "Velmora", "DB_Password", " a b "},
        ReadCase{"singleQuotesDropped", "[Velmora]\nDB_Password='ab'\n", "Velmora", "DB_Password", "ab"},
        ReadCase{"unmatchedQuoteKept", "[Velmora]\nDB_Password=\"ab'\n", "Velmora", "DB_Password", "\"ab'"},
        ReadCase{"commentLinesIgnored", "; note\n[Velmora]\n# DB_User=no\nDB_User=yes\n", "Velmora", "DB_User", "yes"},
        ReadCase{"utf8Value", "[Velmora]\nDB_Source=数据/药店.mdb\n", "Velmora", "DB_Source",
                 QStringLiteral("数据/药店.mdb")},
        ReadCase{"byteOrderMark", "\xEF\xBB\xBF[Velmora]\nDB_User=x\n", "Velmora", "DB_User", "x"},
        // The first occurrence wins, as with the classic profile calls.
        ReadCase{"duplicateKey", "[Velmora]\nDB_User=first\nDB_User=second\n", "Velmora", "DB_User", "first"},
        ReadCase{"duplicateSection", "[Velmora]\nDB_User=a\n[Other]\nx=1\n[velmora]\nDB_Password=b\n", "Velmora",
                 "DB_Password", "b"},
        ReadCase{"textBeforeNul", QByteArray("[Velmora]\nDB_User=x\n\0DB_Password=y\n", 34), "Velmora", "DB_User", "x"},
        ReadCase{"textAfterNul", QByteArray("[Velmora]\nDB_User=x\n\0DB_Password=y\n", 34), "Velmora", "DB_Password",
                 "<default>"},
        // Not UTF-8: the Chinese code page of older systems (GBK, read as GB18030).
        ReadCase{"gbkValue", "[Velmora]\nDB_Source=D:\\\xD2\xA9\xB5\xEA\\velmdb.mdb\n", "Velmora", "DB_Source",
                 QStringLiteral("D:\\药店\\velmdb.mdb")},
        ReadCase{"neitherUtf8NorGbk", "[Velmora]\nDB_User=\xFF\xFFx\n", "Velmora", "DB_User",
                 QStringLiteral("\uFFFD\uFFFDx")},
        ReadCase{"noSectionLine", "DB_User=x\n", "Velmora", "DB_User", "<default>"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(ProfileFileTest, valuesAreCutAt2047Characters)
{
    struct Case
    {
        QString value;
        QString expected;
    };
    const QString emoji = QStringLiteral("\U0001F600");
    const Case cases[] = {
        {QString(2047, u'a'), QString(2047, u'a')},
        {QString(2048, u'b'), QString(2047, u'b')},
        {QString(100000, u'c'), QString(2047, u'c')},
        {QString(3000, u'药'), QString(2047, u'药')},
        // Characters, not UTF-16 halves: a pair at the limit stays whole.
        {QString(2046, u'd') + emoji + u'e', QString(2046, u'd') + emoji},
    };
    for (const Case& c : cases) {
        writeBytes(path, "[Velmora]\nDB_Password=" + c.value.toUtf8() + "\n");
        EXPECT_EQ(read("Velmora", "DB_Password"), c.expected) << c.value.size();
    }
    QFile::remove(path);
    EXPECT_EQ(read("Velmora", "DB_Password", QString(2100, u'f')), QString(2047, u'f'));
}

TEST_F(ProfileFileTest, damagedFilesReadAsDefaults)
{
    // Binary garbage: no crash, no hang; whatever it reads as, it is text.
    QRandomGenerator random(20240607);
    for (int round = 0; round < 50; ++round) {
        QByteArray garbage(int(random.bounded(1, 20000)), Qt::Uninitialized);
        for (char& byte : garbage)
            byte = char(random.bounded(256));
        if (round % 2 == 1)
            garbage.prepend("[Velmora]\nDB_User=");
        writeBytes(path, garbage);
        EXPECT_LE(read("Velmora", "DB_User").size(), 2 * ProfileFile::MaxValueLength);
    }

    // A directory, a FIFO and an oversized file in the file's place.
    QFile::remove(path);
    ASSERT_TRUE(QDir(dir.path()).mkdir("DBConn.ini"));
    EXPECT_EQ(read("Velmora", "DB_User"), "<default>");
    ASSERT_TRUE(QDir(dir.path()).rmdir("DBConn.ini"));

    ASSERT_TRUE(QFile::link(path, path)); // a link to itself: a loop
    EXPECT_EQ(read("Velmora", "DB_User"), "<default>");
    QFile::remove(path);

    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(read("Velmora", "DB_User"), "<default>");
    QFile::remove(path);

    // A regular file whose reading fails: tests run as root, whom permissions
    // do not stop, but the kernel refuses to read this one from its start.
    const ProfileFile unreadable(QStringLiteral("/proc/self/mem"));
    if (QFileInfo(unreadable.path()).isFile()) {
        EXPECT_EQ(unreadable.readString("Velmora", "DB_User", "<default>"), "<default>");
        EXPECT_THROW(ProfileFile(unreadable).writeString("Velmora", "DB_User", "x"), ProfileError);
    }

    QByteArray huge = "[Velmora]\nDB_User=x\n";
    huge.append(QByteArray(ProfileFile::MaxFileSize, ';'));
    writeBytes(path, huge);
    EXPECT_EQ(read("Velmora", "DB_User"), "<default>");
}

TEST_F(ProfileFileTest, writeCreatesFileAndSectionOwnerOnly)
{
    ProfileFile file(path);
    file.writeString("Velmora", "DB_User", "clerk");
    EXPECT_EQ(readBytes(path), "[Velmora]\nDB_User=clerk\n");
    EXPECT_EQ(QFileInfo(path).permissions() & 0x7777,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);

    // An existing file keeps the permissions its owner gave it.
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                                QFileDevice::WriteUser | QFileDevice::ReadGroup));
    file.writeString("Velmora", "DB_User", "admin");
    EXPECT_TRUE(QFileInfo(path).permissions() & QFileDevice::ReadGroup);
}

TEST_F(ProfileFileTest, writeReplacesKeyAndKeepsTheRest)
{
    writeBytes(path, "; shop settings, edited by hand\n"
                     "\n"
                     "[Printer]\n"
                     "; the receipt printer\n"
                     "Port=/dev/usb/lp0\n"
                     "\n"
                     "[VELMORA]\n"
                     "db_user=old\n"
                     "DB_User=older\n"
                     "Other=\"\"quoted\"\"\n");
    ProfileFile(path).writeString("Velmora", "DB_User", "new");
    const QByteArray text = readBytes(path);
    EXPECT_TRUE(text.startsWith("; shop settings, edited by hand\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("; the receipt printer\nPort=/dev/usb/lp0\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("[VELMORA]\nDB_User=new\nOther=\"\"quoted\"\"\n")) << text.toStdString();
    EXPECT_EQ(text.count("DB_User") + text.count("db_user"), 1) << text.toStdString();
    // Writing the same again changes nothing: the file does not creep.
    ProfileFile(path).writeString("Velmora", "DB_User", "new");
    EXPECT_EQ(readBytes(path), text);
    EXPECT_EQ(read("Printer", "Port"), "/dev/usb/lp0");
    EXPECT_EQ(read("Velmora", "Other"), "\"quoted\"");
}

// A save owns the lines of the keys it sets; every other line (comments,
// indented or not, lines without "=", blank lines, other sections, a last
// line without its line break) stays byte for byte where it was.
TEST_F(ProfileFileTest, saveKeepsEveryLineItDoesNotOwn)
{
    writeBytes(path, "; shop settings\r\n"
                     "   ; indented comment\r\n"
                     "a line without an equals sign\r\n"
                     "[Velmora]\r\n"
                     "  ; where the shop's data lives\r\n"
                     "DB_Source = old.mdb\r\n"
                     "stray words\r\n"
                     "\r\n"
                     "[Printer]\r\n"
                     "\tPort=lp0");
    ProfileFile(path).writeStrings("Velmora", {{"DB_Source", "new.mdb"}, {"DB_User", "u"}, {"DB_Password", "p"}});
    EXPECT_EQ(readBytes(path), QByteArray("; shop settings\r\n"
                                          "   ; indented comment\r\n"
                                          "a line without an equals sign\r\n"
                                          "[Velmora]\r\n"
                                          "  ; where the shop's data lives\r\n"
                                          "DB_Source=new.mdb\r\n"
                                          "DB_User=u\r\n"
                                          "DB_Password=p\r\n"
                                          "stray words\r\n"
                                          "\r\n"
                                          "[Printer]\r\n"
                                          "\tPort=lp0"));

    // A section the file lacks goes at its end; the last line gets its break.
    ProfileFile(path).writeString("Other", "Key", "v");
    EXPECT_TRUE(readBytes(path).endsWith("[Printer]\r\n\tPort=lp0\r\n[Other]\r\nKey=v\r\n"));
    // What follows a NUL byte is not read, and not lost either.
    const QByteArray withNul("[Velmora]\nDB_User=x\n\0junk\n", 25);
    writeBytes(path, withNul);
    ProfileFile(path).writeString("Velmora", "DB_User", "y");
    EXPECT_EQ(readBytes(path), QByteArray("[Velmora]\nDB_User=y\n\0junk\n", 25));
}

// A settings file written by an older system in the Chinese code page reads as
// its text, and a save writes it back in that code page, the lines it does not
// own unchanged.
TEST_F(ProfileFileTest, gbkFileKeepsItsEncoding)
{
    const QByteArray source = "DB_Source=D:\\\xD2\xA9\xB5\xEA\\\xCA\xFD\xBE\xDD\\velmdb.mdb\r\n"; // D:\药店\数据\...
    const QByteArray comment = "; \xB1\xB8\xD7\xA2\xA3\xBA\xBE\xC9\xCF\xB5\xCD\xB3\r\n"; // ; 备注：旧系统
    writeBytes(path, "[Velmora]\r\n" + source + comment + "DB_User=admin\r\n");
    EXPECT_EQ(read("Velmora", "DB_Source"), QStringLiteral("D:\\药店\\数据\\velmdb.mdb"));

    ProfileFile(path).writeStrings("Velmora", {{"DB_Source", QStringLiteral("D:\\药店\\数据\\velmdb.mdb")},
                                               {"DB_User", "admin"},
                                               {"DB_Password", QStringLiteral("新密码")}});
    EXPECT_EQ(readBytes(path),
              "[Velmora]\r\n" + source + comment + "DB_User=admin\r\n" + "DB_Password=\xD0\xC2\xC3\xDC\xC2\xEB\r\n");
    EXPECT_EQ(read("Velmora", "DB_Password"), QStringLiteral("新密码"));
    // A new file is UTF-8.
    QFile::remove(path);
    ProfileFile(path).writeString("Velmora", "DB_Password", QStringLiteral("新密码"));
    EXPECT_EQ(readBytes(path), QStringLiteral("[Velmora]\nDB_Password=新密码\n").toUtf8());
}

// A folder that takes no new file (the program's folder of an installed
// program) around a settings file the user may write: the save writes the
// file in place instead of replacing it.
TEST_F(ProfileFileTest, fileInAFolderThatTakesNoNewFileIsWrittenInPlace)
{
    writeBytes(path, "[Velmora]\nDB_User=old\n");
    const QByteArray folder = QFile::encodeName(dir.path());
    struct FolderLock
    {
        QByteArray folder;
        bool byAttribute = false;
        ~FolderLock()
        {
            if (byAttribute)
                std::system(("chattr -i '" + folder + "'").constData());
            else
                chmod(folder.constData(), 0700);
        }
    } lock{folder};
    // Root passes permission bits; an immutable folder stops root too.
    if (geteuid() == 0) {
        lock.byAttribute = std::system(("chattr +i '" + folder + "' 2>/dev/null").constData()) == 0;
        if (!lock.byAttribute)
            GTEST_SKIP() << "cannot make a folder that root may not write here";
    } else {
        ASSERT_EQ(chmod(folder.constData(), 0500), 0);
    }
    ASSERT_FALSE(QFile(dir.filePath("probe")).open(QIODevice::WriteOnly));

    ProfileFile(path).writeStrings("Velmora", {{"DB_User", "new"}, {"DB_Password", "p"}});
    EXPECT_EQ(readBytes(path), "[Velmora]\nDB_User=new\nDB_Password=p\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"DBConn.ini"});
}

TEST_F(ProfileFileTest, writeStringsWritesAllKeysInOrder)
{
    writeBytes(path, "[Velmora]\nDB_Password=old\n");
    ProfileFile(path).writeStrings("Velmora", {{"DB_Source", "a.mdb"}, {"DB_User", "u"}, {"DB_Password", "p"}});
    EXPECT_EQ(readBytes(path), "[Velmora]\nDB_Password=p\nDB_Source=a.mdb\nDB_User=u\n");
    QFile::remove(path);
    ProfileFile(path).writeStrings("Velmora", {{"DB_Source", "a.mdb"}, {"DB_User", "u"}, {"DB_Password", "p"}});
    EXPECT_EQ(readBytes(path), "[Velmora]\nDB_Source=a.mdb\nDB_User=u\nDB_Password=p\n");
}

TEST_F(ProfileFileTest, writtenValuesReadBackUnchanged)
{
    const QString values[] = {
        "",      " lead", "trail ", "\tboth ", "\"quoted\"", "'single'",      "\"",  "\"\"", "''", "a\"b'c", "a;b",
        "#hash", ";semi", "[x]",    "a = b",   "<<<END",     "数据/药店.mdb", "   ", "x\ty",
    };
    for (const QString& value : values) {
        ProfileFile(path).writeString("Velmora", "DB_Password", value);
        EXPECT_EQ(read("Velmora", "DB_Password"), value);
        EXPECT_EQ(read("Velmora", "Other"), "<default>");
    }
}

const QByteArray Existing = "; keep me\n[Velmora]\nDB_Source=old.mdb\nDB_User=old\nDB_Password=secret\n";
const ProfileFile::KeyValues NewValues{{"DB_Source", "new.mdb"}, {"DB_User", "new"}, {"DB_Password", "new"}};

struct FailureCase
{
    const char* name;
    // Prepares the folder and returns the path to write to.
    QString (*prepare)(const QDir&);
    ProfileFile::KeyValues values = NewValues;
    bool diskFull = false;
};

QString existingFile(const QDir& d)
{
    writeBytes(d.filePath("DBConn.ini"), Existing);
    return d.filePath("DBConn.ini");
}

class ProfileFileWriteFailure : public ::testing::TestWithParam<FailureCase>
{
};

// Either every key is written or the file stays byte for byte as it was, and
// no temporary file is left behind.
TEST_P(ProfileFileWriteFailure, raisesUnableToWriteAndLeavesTheDiskAlone)
{
    const FailureCase& c = GetParam();
    QTemporaryDir dir;
    const QString path = c.prepare(QDir(dir.path()));
    const QByteArray before = readBytes(path);
    const auto entries = [&] {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    };
    const QStringList entriesBefore = entries();
    try {
        std::optional<FileSizeLimit> full; // a full disk
        if (c.diskFull)
            full.emplace(8);
        ProfileFile(path).writeStrings("Velmora", c.values);
        ADD_FAILURE() << "no error";
    } catch (const ProfileError& error) {
        EXPECT_EQ(error.message(), "Unable to write to " + path);
    }
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(entries(), entriesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileFileWriteFailure,
    ::testing::Values(FailureCase{"folderIsARegularFile",
                                  [](const QDir& d) {
                                      writeBytes(d.filePath("bin"), "not a folder");
                                      return d.filePath("bin/DBConn.ini");
                                  }},
                      FailureCase{"pathIsADirectory",
                                  [](const QDir& d) {
                                      d.mkdir("DBConn.ini");
                                      return d.filePath("DBConn.ini");
                                  }},
                      FailureCase{"diskFull", existingFile, NewValues, true},
                      FailureCase{"fileTooLargeToBeOurs",
                                  [](const QDir& d) {
                                      writeBytes(d.filePath("DBConn.ini"),
                                                 Existing + QByteArray(ProfileFile::MaxFileSize, ';'));
                                      return d.filePath("DBConn.ini");
                                  }},
                      // A line break would plant a line of its own in the file.
                      FailureCase{"lineBreakInValue",
                                  existingFile,
                                  {{"DB_Source", "new.mdb"}, {"DB_Password", "x\n[Velmora]\nDB_User=intruder"}}},
                      FailureCase{"nulInValue", existingFile, {{"DB_User", QString("a") + QChar(u'\0') + "b"}}},
                      FailureCase{"keyWithEquals", existingFile, {{"DB=User", "x"}}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

} // namespace
