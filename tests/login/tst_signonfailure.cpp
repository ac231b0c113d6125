// A sign-on that cannot write its login record (a full database, a full
// disk, a read-only database): the error reaches the general error report,
// the dialog stays open, nobody is signed on, the database keeps what it had,
// and once the cause is gone the next attempt signs on.
#include "data/DMod.h"
#include "data/Rights.h"
#include "data/Schema.h"
#include "data/SqliteBackend.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/ScriptedPlatform.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <csignal>
#include <memory>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace velmora;

namespace {

const QString AppTitle = QStringLiteral("Tarvin医药管理系统");

// A database made as velmora-db makes one (write-ahead log), with one
// operator, the data module connected to it, and the login dialog.
class SignOnFixture
{
public:
    SignOnFixture()
    {
        m_ok = m_dir.isValid() && makeDatabase();
        if (!m_ok)
            return;
        platform.setApplicationTitle(AppTitle);
        dmod = std::make_unique<data::TDMod>(m_dir.path().toStdString() + "/");
        dmod->ADOCON().setConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;User ID=admin;Data Source=" + path());
        dmod->ADOCON().open();
        dmod->toper().open();
        dmod->tuser().open();
        mainWindow = std::make_unique<Tfmain>();
        dialog = std::make_unique<TFlogin>(platform, *mainWindow, *dmod);
        yh = dialog->findChild<LookupCombo*>(QStringLiteral("yh"));
        Edit2 = dialog->findChild<QLineEdit*>(QStringLiteral("Edit2"));
        btok = dialog->findChild<QPushButton*>(QStringLiteral("btok"));
    }
    ~SignOnFixture()
    {
        dialog.reset();
        mainWindow.reset();
        dmod.reset();
    }

    bool ok() const { return m_ok && yh && Edit2 && btok; }
    std::string path() const { return m_dir.filePath(QStringLiteral("velmdb.mdb")).toStdString(); }

    // The program's own connection, to put it in the state under test.
    sqlite3* connection() const
    {
        auto* backend = dynamic_cast<data::SqliteBackend*>(&dmod->ADOCON().backend());
        return backend ? backend->handle() : nullptr;
    }

    bool show()
    {
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
        return QTest::qWaitForWindowActive(dialog.get());
    }

    // Every login record as text, read through a connection of its own.
    QStringList loginRecords() const
    {
        QStringList rows;
        sqlite3* db = nullptr;
        sqlite3_open_v2(path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT operid, \"登录时间\", userid FROM oper ORDER BY operid", -1, &statement,
                               nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                QStringList cells;
                for (int c = 0; c < 3; ++c)
                    cells << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, c)));
                rows << cells.join(u'|');
            }
        } else {
            rows << QStringLiteral("unreadable: ") + QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return rows;
    }

    ScriptedPlatform platform;
    std::unique_ptr<data::TDMod> dmod;
    std::unique_ptr<Tfmain> mainWindow;
    std::unique_ptr<TFlogin> dialog;
    LookupCombo* yh = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* btok = nullptr;

private:
    bool makeDatabase()
    {
        try {
            auto backend = data::createDatabaseFile(path());
            backend->execute("BEGIN;" + data::schemaScript() +
                             "INSERT INTO OperatorTable (username, userid, passwords, able) VALUES ('admin', 1, "
                             "'1234', " +
                             std::to_string(data::rightsWordFor({0, 1})) +
                             ");"
                             "INSERT INTO oper (\"登录时间\", userid) VALUES ('2024-01-02 08:00:00', 1);"
                             "COMMIT;");
            return true;
        } catch (const std::exception& e) {
            qWarning("%s", e.what());
            return false;
        }
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
};

bool exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The database may not grow by a page: rows that need a new page fail with
// SQLITE_FULL. The smallest possible records fill the last page first, so
// the login's own record cannot fit either.
bool fillDatabase(sqlite3* db)
{
    sqlite3_stmt* pageCount = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &pageCount, nullptr) != SQLITE_OK ||
        sqlite3_step(pageCount) != SQLITE_ROW) {
        sqlite3_finalize(pageCount);
        return false;
    }
    const std::string limit = "PRAGMA max_page_count=" + std::to_string(sqlite3_column_int64(pageCount, 0));
    sqlite3_finalize(pageCount);
    if (!exec(db, limit.c_str()))
        return false;
    for (int i = 0; i < 10'000; ++i) {
        if (!exec(db, "INSERT INTO oper DEFAULT VALUES"))
            return (sqlite3_errcode(db) & 0xFF) == SQLITE_FULL;
    }
    return false;
}

// A file-size limit at the current size of the write-ahead log: the next
// write to it is refused, as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(const std::string& walPath)
    {
        struct stat info
        {
        };
        m_ok = ::getrlimit(RLIMIT_FSIZE, &m_saved) == 0 && ::stat(walPath.c_str(), &info) == 0;
        if (!m_ok)
            return;
        m_handler = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of killing us
        rlimit limited = m_saved;
        limited.rlim_cur = rlim_t(info.st_size);
        m_ok = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool ok() const { return m_ok; }
    void lift()
    {
        if (!m_ok)
            return;
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
        m_ok = false;
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = SIG_DFL;
    bool m_ok = false;
};

} // namespace

class TestSignOnFailure : public QObject
{
    Q_OBJECT

private slots:
    void writeFailureKeepsTheDialogOpen_data();
    void writeFailureKeepsTheDialogOpen();
};

void TestSignOnFailure::writeFailureKeepsTheDialogOpen_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("message"); // part of SQLite's text the report carries
    QTest::newRow("database full") << "full"
                                   << "database or disk is full";
    QTest::newRow("disk refuses the write") << "fsize"
                                            << "disk I/O error";
    QTest::newRow("read-only database") << "readonly"
                                        << "attempt to write a readonly database";
}

void TestSignOnFailure::writeFailureKeepsTheDialogOpen()
{
    QFETCH(QString, cause);
    QFETCH(QString, message);

    SignOnFixture f;
    QVERIFY(f.ok());
    sqlite3* db = f.connection();
    QVERIFY(db);
    if (cause == QLatin1String("full"))
        QVERIFY(fillDatabase(db));
    std::unique_ptr<FileSizeLimit> sizeLimit;
    if (cause == QLatin1String("fsize")) {
        sizeLimit = std::make_unique<FileSizeLimit>(f.path() + "-wal");
        QVERIFY(sizeLimit->ok());
    }
    if (cause == QLatin1String("readonly"))
        QVERIFY(exec(db, "PRAGMA query_only=1"));
    const QStringList before = f.loginRecords();
    QVERIFY(!before.isEmpty());

    QVERIFY(f.show());
    QTest::keyClicks(f.yh, QStringLiteral("1"));
    QTest::keyClick(f.yh, Qt::Key_Return);
    QTest::keyClick(f.Edit2, Qt::Key_Return); // the default password is admin's
    if (sizeLimit)
        sizeLimit->lift();

    QCOMPARE(f.platform.boxes().size(), 1);
    const MessageBoxRequest& report = f.platform.boxes().front();
    QCOMPARE(report.icon, MsgIcon::Error);
    QCOMPARE(report.caption, AppTitle);
    QVERIFY2(report.text.contains(message), qPrintable(report.text));
    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.mainWindow->panelText(1), QString());
    QCOMPARE(f.loginRecords(), before);

    // The cause gone, the next attempt signs on with one new record.
    if (cause == QLatin1String("full"))
        QVERIFY(exec(db, "PRAGMA max_page_count=1073741823"));
    if (cause == QLatin1String("readonly"))
        QVERIFY(exec(db, "PRAGMA query_only=0"));
    QTest::mouseClick(f.btok, Qt::LeftButton);
    QVERIFY2(f.dialog->loggedIn(), qPrintable(f.platform.boxes().last().text));
    QCOMPARE(f.platform.boxes().size(), 1);
    const QStringList after = f.loginRecords();
    QCOMPARE(after.size(), before.size() + 1);
    QCOMPARE(after.mid(0, before.size()), before);
    QCOMPARE(f.mainWindow->session().loginRecordId, after.last().section(u'|', 0, 0).toLongLong());
}

QTEST_MAIN(TestSignOnFailure)
#include "tst_signonfailure.moc"
