// Damaged settings and database files through the real start-up: the program
// never crashes, hangs or changes the file; a bad settings file reads as the
// profile rules say and goes on to the connection, a bad database is a failed
// connect (the question box) or the general error report naming the file.
#include "app/StartupSequence.h"
#include "data/module/Rights.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

const QString Question = QStringLiteral("联接数据库服务器失败,是否重新配置连接?");
constexpr uid_t Nobody = 65534;

QByteArray randomBytes(quint32 seed, int size)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

// A database as velmora-db makes one: the twelve tables, write-ahead log, an
// operator and a few rows. `edit` runs after the schema (to damage it).
bool makeDatabase(TestDatabase& db, const std::string& edit = {}, bool writeAheadLog = true)
{
    try {
        db.run(db.schema());
        db.addOperator("admin", 1.0, std::string("1234"), data::rightsWordFor({0, 1, 2, 3, 4, 5, 6}));
        db.run("INSERT INTO partment (\"部门名称\") VALUES ('库房');"
               "INSERT INTO oper (\"登录时间\", userid) VALUES ('2024-01-02 08:00:00', 1);" +
               edit);
        if (writeAheadLog)
            db.useWriteAheadLog();
        return true;
    } catch (const std::exception& e) {
        qWarning("%s", e.what());
        return false;
    }
}

// The bytes and modification time of a file, to show that nothing wrote to it.
struct FileState
{
    QByteArray bytes;
    qint64 mtimeNs = -1;
    bool operator==(const FileState&) const = default;
};

std::optional<FileState> stateOf(const QString& path)
{
    struct stat info
    {
    };
    if (::stat(path.toLocal8Bit().constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    FileState state;
    state.mtimeNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        state.bytes = file.readAll();
    return state;
}

// Root reads every file whatever its mode bits; with another file-system
// identity (this thread only) it is held to them like anybody else.
class FileSystemIdentity
{
public:
    explicit FileSystemIdentity(bool drop) : m_dropped(drop && ::geteuid() == 0)
    {
        if (m_dropped)
            ::setfsuid(Nobody);
    }
    ~FileSystemIdentity()
    {
        if (m_dropped)
            ::setfsuid(0);
    }
    FileSystemIdentity(const FileSystemIdentity&) = delete;
    FileSystemIdentity& operator=(const FileSystemIdentity&) = delete;

private:
    bool m_dropped;
};

bool readable(const QString& path, bool asNobody)
{
    FileSystemIdentity identity(asNobody);
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

// Another process that holds the database in an exclusive transaction until
// it is told to let go.
class LockHolder
{
public:
    bool start(const QString& path)
    {
        m_process.setProgram(QStringLiteral(VELMORA_BIN_DIR "/velmora_lock_holder"));
        m_process.setArguments({path});
        m_process.start();
        return m_process.waitForStarted() && m_process.waitForReadyRead(30'000) &&
               m_process.readLine().trimmed() == "locked";
    }
    ~LockHolder()
    {
        m_process.closeWriteChannel(); // end of input: roll back and exit
        if (!m_process.waitForFinished(30'000))
            m_process.kill();
    }

private:
    QProcess m_process;
};

} // namespace

class TestBadFiles : public QObject
{
    Q_OBJECT

private slots:
    void badSettingsFileStillReachesTheConnection_data();
    void badSettingsFileStillReachesTheConnection();
    void badDatabaseFailsCleanly_data();
    void badDatabaseFailsCleanly();
};

void TestBadFiles::badSettingsFileStillReachesTheConnection_data()
{
    QTest::addColumn<QString>("kind"); // "file", "folder" or "unreadable"
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");

    const QString defaultSource = QStringLiteral("data/velmdb.mdb");
    const QString defaultPassword = QStringLiteral("mivotelq");
    const QString admin = QStringLiteral("admin");
    const QByteArray good = "[Velmora]\nDB_Source=shop.mdb\nDB_User=Admin\nDB_Password=pw\n";

    QTest::newRow("binary garbage") << "file" << randomBytes(7, 64 * 1024) << defaultSource << admin << defaultPassword;
    QTest::newRow("garbage after the keys") << "file" << good + randomBytes(11, 4096) << "shop.mdb"
                                            << "Admin"
                                            << "pw";
    static const char withNul[] = "[Velmora]\nDB_Source=sh\0op.mdb\nDB_User=Admin\nDB_Password=pw\n";
    QTest::newRow("NUL inside a value: the rest is not read")
        << "file" << QByteArray(withNul, sizeof withNul - 1) << "sh" << admin << defaultPassword;
    QTest::newRow("NUL bytes only") << "file" << QByteArray(1000, '\0') << defaultSource << admin << defaultPassword;
    QTest::newRow("value of 100,000 characters, cut at 2047")
        << "file"
        << "[Velmora]\nDB_Source=" + QByteArray(100'000, 'x') + "\nDB_User=Admin\n"
        << QString(2047, 'x') << "Admin" << defaultPassword;
    QTest::newRow("100,000 Chinese characters, cut at 2047")
        << "file"
        << "[Velmora]\nDB_Password=" + QStringLiteral("药").repeated(100'000).toUtf8() + "\n"
        << defaultSource << admin << QStringLiteral("药").repeated(2047);
    QTest::newRow("missing section") << "file" << QByteArray("[Other]\nDB_Source=shop.mdb\nDB_User=x\n")
                                     << defaultSource << admin << defaultPassword;
    QTest::newRow("keys before any section")
        << "file" << QByteArray("DB_Source=shop.mdb\nDB_User=x\n") << defaultSource << admin << defaultPassword;
    QTest::newRow("duplicated keys: the first counts")
        << "file"
        << QByteArray("[Velmora]\nDB_Source=first.mdb\nDB_Source=second.mdb\n[velmora]\nDB_User=Admin\n"
                      "db_user=other\n")
        << "first.mdb"
        << "Admin" << defaultPassword;
    QTest::newRow("unterminated section line")
        << "file" << QByteArray("[Velmora\nDB_Source=shop.mdb\n") << defaultSource << admin << defaultPassword;
    QTest::newRow("over 4 MiB") << "file" << good + QByteArray(5 * 1024 * 1024, ' ') << defaultSource << admin
                                << defaultPassword;
    QTest::newRow("folder in place of the file")
        << "folder" << QByteArray() << defaultSource << admin << defaultPassword;
    QTest::newRow("unreadable file") << "unreadable" << good << defaultSource << admin << defaultPassword;
}

void TestBadFiles::badSettingsFileStillReachesTheConnection()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, source);
    QFETCH(QString, user);
    QFETCH(QString, password);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("DBConn.ini"));
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(ini + QStringLiteral("/sub")));
    } else {
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }
    const bool unreadable = kind == QLatin1String("unreadable");
    if (unreadable) {
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ExeGroup | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(ini, QFileDevice::Permissions()));
        if (readable(ini, true))
            QSKIP("this account reads a file without read permission");
    }
    const std::optional<FileState> before = stateOf(ini);

    ScriptedPlatform platform(dir.path());
    platform.queueAnswers({MsgAnswer::No});
    StartupSequence sequence(platform);
    int status = -1;
    {
        FileSystemIdentity identity(unreadable);
        status = sequence.run();
    }

    QCOMPARE(status, 0);
    QCOMPARE(sequence.connectAttempts().size(), size_t(1));
    const QString attempt = sequence.connectAttempts().front();
    QVERIFY2(attempt.contains(QStringLiteral(";User ID=%1;Data Source=%2;").arg(user, source)), qPrintable(attempt));
    QVERIFY2(attempt.contains(QStringLiteral(";Jet OLEDB:Database Password=%1;Jet OLEDB:Engine").arg(password)),
             qPrintable(attempt.left(300)));
    QCOMPARE(platform.boxes().size(), 1);
    QCOMPARE(platform.boxes().front().text, Question);
    QCOMPARE(stateOf(ini).has_value(), before.has_value());
    if (before)
        QVERIFY(*stateOf(ini) == *before);
}

void TestBadFiles::badDatabaseFailsCleanly_data()
{
    // kind: how the file is made; report: the cause the general error report
    // names, empty when the connect fails and the question box comes instead.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("report");

    QTest::newRow("empty file") << "empty" << QString();
    QTest::newRow("real database cut in half") << "half" << QString();
    QTest::newRow("random bytes") << "random" << QString();
    QTest::newRow("random bytes behind a database header") << "header" << QString();
    QTest::newRow("folder") << "folder" << QString();
    QTest::newRow("no read or write permission") << "noaccess" << QString();
    QTest::newRow("read permission only") << "readonly" << QString();
    QTest::newRow("held by another process") << "locked" << QString();
    QTest::newRow("table missing") << "notable"
                                   << "no such table: kc";
    QTest::newRow("column missing") << "nocolumn"
                                    << "tkc: Field '购进单价' not found";
    QTest::newRow("column of a kind the dialect does not know") << "badkind"
                                                                << "GEOMETRY";
}

void TestBadFiles::badDatabaseFailsCleanly()
{
    QFETCH(QString, kind);
    QFETCH(QString, report);

    TestDatabase db(TestBackend::Embedded, "data/velmdb.mdb"); // made below, or put in its place
    const QString folder = QString::fromStdString(db.folder());
    const QString path = QString::fromStdString(db.path());
    const auto writeFile = [&](const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };

    LockHolder holder;
    bool asNobody = false;
    if (kind == QLatin1String("empty")) {
        QVERIFY(writeFile({}));
    } else if (kind == QLatin1String("half")) {
        QVERIFY(makeDatabase(db));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        file.close();
        QVERIFY(whole.size() >= 4 * 4096);
        QVERIFY(writeFile(whole.left(whole.size() / 2)));
    } else if (kind == QLatin1String("random")) {
        QVERIFY(writeFile(randomBytes(3, 64 * 1024)));
    } else if (kind == QLatin1String("header")) {
        QVERIFY(writeFile(QByteArray("SQLite format 3", 16) + randomBytes(5, 8 * 4096)));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("noaccess") || kind == QLatin1String("readonly")) {
        QVERIFY(makeDatabase(db));
        for (const QString& place : {folder, folder + QStringLiteral("data")})
            QVERIFY(QFile::setPermissions(place, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::ExeGroup | QFile::ExeOther));
        const bool readOnly = kind == QLatin1String("readonly");
        QVERIFY(QFile::setPermissions(path, readOnly ? QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther
                                                     : QFileDevice::Permissions()));
        asNobody = true;
        if (readable(path, asNobody) != readOnly)
            QSKIP("this account is not held to the file's permissions");
    } else if (kind == QLatin1String("locked")) {
        // A rollback journal: a writer's exclusive lock keeps readers out (a
        // write-ahead log lets them read on).
        QVERIFY(makeDatabase(db, {}, /*writeAheadLog*/ false));
        QVERIFY(holder.start(path));
    } else if (kind == QLatin1String("notable")) {
        QVERIFY(makeDatabase(db, "DROP TABLE kc;"));
    } else if (kind == QLatin1String("nocolumn")) {
        QVERIFY(makeDatabase(db, "ALTER TABLE kc DROP COLUMN \"购进单价\";"));
    } else if (kind == QLatin1String("badkind")) {
        QVERIFY(makeDatabase(db, "DROP TABLE company; CREATE TABLE company (\"单位编号\" GEOMETRY);"));
    }
    const QString absolutePath = QFileInfo(path).absoluteFilePath();
    const std::optional<FileState> before = stateOf(path);

    ScriptedPlatform platform(folder);
    platform.queueAnswers({MsgAnswer::No});
    StartupSequence sequence(platform);
    int status = -1;
    {
        FileSystemIdentity identity(asNobody);
        status = sequence.run();
    }

    QCOMPARE(platform.boxes().size(), 1);
    const MessageBoxRequest& box = platform.boxes().front();
    if (report.isEmpty()) {
        QCOMPARE(status, 0);
        QCOMPARE(box.text, Question);
    } else {
        QCOMPARE(status, 1);
        QCOMPARE(box.icon, MsgIcon::Error);
        const QStringList lines = box.text.split(u'\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].contains(report), qPrintable(box.text));
        QCOMPARE(lines[1], QStringLiteral("数据库文件: ") + absolutePath);
    }
    QVERIFY(!platform.log().contains(QStringLiteral("modal Flogin")));
    QCOMPARE(stateOf(path).has_value(), before.has_value());
    if (before)
        QVERIFY2(*stateOf(path) == *before, "the database file changed");
}

QTEST_MAIN(TestBadFiles)
#include "tst_badfiles.moc"
