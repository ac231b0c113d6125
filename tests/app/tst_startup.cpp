// The whole start-up through the scripted platform: the connection's settings, the question and the settings
// dialog while the connect fails, the start-up datasets and the sign-on into the main window. The cases that
// reach a database run on a file and on the test server (VELMORA_TEST_PG; those rows are skipped without it).

#include "app/StartupSequence.h"
#include "data/Backend.h"
#include "data/module/Rights.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/SignOnFixture.h"
#include "tests/support/TestDatabase.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace velmora;
using namespace velmora::test;

Q_DECLARE_METATYPE(velmora::test::TestBackend)

namespace {

const QString Question = QStringLiteral("联接数据库服务器失败,是否重新配置连接?");

// A shop's database where the start-up finds it at the first try: the file data/velmdb.mdb beside the
// executable, protected by the default database password, or a database on the test server that DBConn.ini
// names. One operator, admin (1) with the password "secret" and every group; without `dropTable` if given.
std::unique_ptr<TestDatabase> shopDatabase(TestBackend backend, const std::string& dropTable = {})
{
    auto db = std::make_unique<TestDatabase>(backend, "data/velmdb.mdb");
    db->run(db->schema());
    db->addOperator("admin", 1.0, std::string("secret"), data::rightsWordFor({0, 1, 2, 3, 4, 5, 6}));
    if (!dropTable.empty())
        db->run("DROP TABLE \"" + dropTable + "\"");
    if (db->isServer()) {
        if (!db->writeSettings(db->folder()))
            QTest::qFail("cannot write DBConn.ini", __FILE__, __LINE__);
    } else
        db->protectWithPassword("mivotelq");
    return db;
}

void addBackendRows(const char* name)
{
    for (TestBackend backend : {TestBackend::Embedded, TestBackend::Server})
        QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(name), QLatin1String(backendName(backend)))))
            << backend;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    // With no settings file and no database, the first attempt uses the
    // first-read defaults; No ends the program in order.
    void noToFirstQuestionEndsWithStatusZero()
    {
        QTemporaryDir dir;
        ScriptedPlatform platform(dir.path());
        platform.queueAnswers({MsgAnswer::No});
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QCOMPARE(sequence.connectAttempts().size(), size_t(1));
        const QString first = sequence.connectAttempts().front();
        QVERIFY(first.contains(QStringLiteral(";User ID=admin;Data Source=data/velmdb.mdb;")));
        QVERIFY(first.contains(QStringLiteral(";Jet OLEDB:Database Password=mivotelq;")));
        QCOMPARE(platform.log(), (QStringList{QStringLiteral("repaint fac"), QStringLiteral("pause 1000"),
                                              QStringLiteral("title Velmora"), QStringLiteral("box 提示|") + Question,
                                              QStringLiteral("end")}));
        const MessageBoxRequest& box = platform.boxes().front();
        QCOMPARE(box.buttons, MsgButtons::YesNo);
        QCOMPARE(box.defaultButton, MsgAnswer::Yes);
        QCOMPARE(box.icon, MsgIcon::Information);
        QVERIFY(!QFile::exists(dir.filePath("data/velmdb.mdb")));
        QVERIFY(!QFile::exists(dir.filePath("DBConn.ini")));
    }

    // A server that cannot be reached is a failed connect like a missing file; no line names the role's
    // password. Needs no server: nothing listens on port 1.
    void unreachableServerAsksTheQuestion()
    {
        QTemporaryDir dir;
        const std::string secret = "Till-Secret-7";
        QVERIFY(writeSettingsFile(dir.path().toStdString(), "postgresql://127.0.0.1:1/velmora", "till", secret));
        ScriptedPlatform platform(dir.path());
        platform.queueAnswers({MsgAnswer::No});
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QCOMPARE(sequence.connectAttempts().size(), size_t(1));
        const QString attempt = sequence.connectAttempts().front();
        QVERIFY(attempt.contains(QStringLiteral(";User ID=till;Data Source=postgresql://127.0.0.1:1/velmora;")));
        QCOMPARE(platform.boxTexts(), QStringList{Question});
        for (const QString& line : platform.log())
            QVERIFY2(!line.contains(QString::fromStdString(secret)), qPrintable(line));
        QVERIFY(platform.log().contains(QStringLiteral("end")));
    }

    // Yes, then a dialog closed without saving: the retry reads the re-read
    // defaults; each failed retry shows the failure line, repaints, pauses
    // 500 ms and asks again.
    void failedRetriesUseReReadDefaultsAndAskAgain()
    {
        QTemporaryDir dir;
        ScriptedPlatform platform(dir.path());
        platform.queueAnswers({MsgAnswer::Yes, MsgAnswer::Yes, MsgAnswer::No});
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QCOMPARE(sequence.connectAttempts().size(), size_t(3));
        for (size_t i = 1; i < 3; ++i) {
            const QString retry = sequence.connectAttempts()[i];
            QVERIFY(retry.contains(QStringLiteral(";User ID=admin;Data Source=velmdb.mdb;")));
            QVERIFY(retry.contains(QStringLiteral(";Jet OLEDB:Database Password=739015;")));
        }
        const QString box = QStringLiteral("box 提示|") + Question;
        const QStringList retry{QStringLiteral("modal frm_DBini"), QStringLiteral("repaint fac"),
                                QStringLiteral("pause 500"), box};
        QCOMPARE(platform.log(), QStringList({QStringLiteral("repaint fac"), QStringLiteral("pause 1000"),
                                              QStringLiteral("title Velmora"), box}) +
                                     retry + retry + QStringList{QStringLiteral("end")});
        QVERIFY(!QFile::exists(dir.filePath("DBConn.ini")));
    }

    // A retry that succeeds goes straight on: no further question, the
    // start-up datasets open and the login dialog is shown. The re-read
    // defaults name a file beside the executable with its own password.
    void successfulRetryAsksNoMore()
    {
        TestDatabase db(TestBackend::Embedded, "velmdb.mdb");
        db.run(db.schema());
        db.addOperator("admin", 1.0, std::string("secret"), data::rightsWordFor({0, 1, 2, 3, 4, 5, 6}));
        db.protectWithPassword("739015");
        ScriptedPlatform platform(QString::fromStdString(db.folder()));
        platform.queueAnswers({MsgAnswer::Yes});
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QCOMPARE(platform.boxTexts(), QStringList{Question});
        QVERIFY(platform.log().contains(QStringLiteral("modal Flogin")));
        QVERIFY(!platform.log().contains(QStringLiteral("pause 500")));
        QCOMPARE(db.number("SELECT count(*) FROM oper"), 0);
    }

    // A database that lacks a start-up table ends the program through the
    // general error report, with status 1 and no login.
    void missingStartupTableEndsWithStatusOne_data()
    {
        QTest::addColumn<TestBackend>("backend");
        QTest::addColumn<QString>("table");
        for (TestBackend backend : {TestBackend::Embedded, TestBackend::Server})
            for (const char* table : {"oper", "OperatorTable", "ypzdk", "kc", "partment", "company"})
                QTest::newRow(
                    qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(table), QLatin1String(backendName(backend)))))
                    << backend << QString::fromUtf8(table);
    }

    void missingStartupTableEndsWithStatusOne()
    {
        QFETCH(TestBackend, backend);
        QFETCH(QString, table);
        if (const std::string why = skipReason(backend); !why.empty())
            QSKIP(why.c_str());
        const auto db = shopDatabase(backend, table.toStdString());
        ScriptedPlatform platform(QString::fromStdString(db->folder()));
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 1);

        QCOMPARE(platform.boxes().size(), 1);
        const MessageBoxRequest& report = platform.boxes().front();
        QCOMPARE(report.icon, MsgIcon::Error);
        QCOMPARE(report.caption, QStringLiteral("Velmora"));
        QVERIFY2(report.text.contains(table), qPrintable(report.text));
        QVERIFY(!platform.log().contains(QStringLiteral("modal Flogin")));
    }

    // A database stamped with a schema newer than the program knows ends the program through the general error
    // report, with status 1, the message naming both versions, no login, and nothing written to the database.
    void newerSchemaEndsBeforeTheLoginWritingNothing_data()
    {
        QTest::addColumn<TestBackend>("backend");
        addBackendRows("newer schema");
    }

    void newerSchemaEndsBeforeTheLoginWritingNothing()
    {
        QFETCH(TestBackend, backend);
        if (const std::string why = skipReason(backend); !why.empty())
            QSKIP(why.c_str());
        const auto db = shopDatabase(backend);
        const int newer = data::CurrentSchemaVersion + 1;
        db->stampSchemaVersion(newer);
        QFile file(QString::fromStdString(db->path()));
        const QByteArray before = !db->isServer() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
        ScriptedPlatform platform(QString::fromStdString(db->folder()));
        LoopState atLoop;
        scriptSignOn(platform, QStringLiteral("1"), QStringLiteral("secret"), &atLoop);
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 1);

        QCOMPARE(platform.boxes().size(), 1);
        const MessageBoxRequest& report = platform.boxes().front();
        QCOMPARE(report.icon, MsgIcon::Error);
        for (const QString& part : {QStringLiteral("数据库的结构版本是 %1").arg(newer),
                                    QStringLiteral("本程序所知的版本 %1").arg(data::CurrentSchemaVersion)})
            QVERIFY2(report.text.contains(part), qPrintable(report.text));
        QVERIFY(!platform.log().contains(QStringLiteral("modal Flogin")));
        QCOMPARE(db->number("SELECT count(*) FROM oper"), 0);
        QCOMPARE(db->schemaVersion(), newer);
        if (db->isServer()) {
            QCOMPARE(db->number("SELECT count(*) FROM pg_tables WHERE tablename LIKE 'velmora\\_%' AND tablename <> "
                                "'velmora_schema_version'"),
                     0);
        } else {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(file.readAll() == before, "the file changed");
        }
    }

    // The whole road: the first read finds the database, the operator signs
    // on in the login dialog, and the message loop runs with the main window;
    // the splash is gone by then, not merely closed.
    void signOnReachesTheMainWindow_data()
    {
        QTest::addColumn<TestBackend>("backend");
        addBackendRows("sign-on");
    }

    void signOnReachesTheMainWindow()
    {
        QFETCH(TestBackend, backend);
        if (const std::string why = skipReason(backend); !why.empty())
            QSKIP(why.c_str());
        const auto db = shopDatabase(backend);
        ScriptedPlatform platform(QString::fromStdString(db->folder()));
        LoopState atLoop;
        scriptSignOn(platform, QStringLiteral("1"), QStringLiteral("secret"), &atLoop);
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QVERIFY2(platform.boxes().isEmpty(), qPrintable(platform.boxTexts().join('\n')));
        QCOMPARE(atLoop.operatorPanel, QStringLiteral("操作员:1"));
        QVERIFY(platform.log().contains(QStringLiteral("loop fmain")));
        QVERIFY2(atLoop.windows.contains(QStringLiteral("fmain")), qPrintable(atLoop.windows.join(',')));
        QVERIFY2(!atLoop.windows.contains(QStringLiteral("fac")), qPrintable(atLoop.windows.join(',')));
        QCOMPARE(db->number("SELECT count(*) FROM oper"), 1);
        // Whatever the splash left to be deleted later does no harm now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The daily backup failed: its line, beside the database in the program's data folder, is told at sign-on to
    // an operator of group 6 (with when the newest good copy was made), to no one else, and to no one without it.
    void aFailedBackupIsToldToAnAdministratorAtSignOn_data()
    {
        QTest::addColumn<QString>("operatorId");
        QTest::addColumn<QString>("line"); // empty: no failed run
        QTest::addColumn<QStringList>("told");
        const QString line = QStringLiteral("2024-03-05 02:17\t2024-03-03 02:09\tthe second destination "
                                            "/media/backup cannot be written (is the disk there?)");
        QTest::newRow("administrator") << QStringLiteral("1") << line
                                       << QStringList{QStringLiteral("最近一次数据备份失败（2024-03-05 02:17）"),
                                                      QStringLiteral("最近一次成功的备份是 2024-03-03 02:09 做的"),
                                                      QStringLiteral("/media/backup")};
        QTest::newRow("no good copy at all")
            << QStringLiteral("1") << QStringLiteral("2024-03-05 02:17\t\tpg_dump: could not connect")
            << QStringList{QStringLiteral("没有任何成功的备份"), QStringLiteral("pg_dump: could not connect")};
        QTest::newRow("clerk") << QStringLiteral("2") << line << QStringList{};
        QTest::newRow("backup good") << QStringLiteral("1") << QString() << QStringList{};
    }

    void aFailedBackupIsToldToAnAdministratorAtSignOn()
    {
        QFETCH(QString, operatorId);
        QFETCH(QString, line);
        QFETCH(QStringList, told);
        const auto db = shopDatabase(TestBackend::Embedded);
        db->addOperator("clerk", 2.0, std::string("secret"), data::rightsWordFor({0, 1, 2, 3, 4, 5}));
        if (!line.isEmpty()) {
            QFile file(QString::fromStdString(db->folder()) + QStringLiteral("data/velmora-backup.failed"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write((line + QLatin1Char('\n')).toUtf8());
        }
        ScriptedPlatform platform(QString::fromStdString(db->folder()));
        LoopState atLoop;
        scriptSignOn(platform, operatorId, QStringLiteral("secret"), &atLoop);
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QCOMPARE(atLoop.operatorPanel, QStringLiteral("操作员:") + operatorId);
        if (told.isEmpty()) {
            QVERIFY2(platform.boxes().isEmpty(), qPrintable(platform.boxTexts().join('\n')));
            return;
        }
        QCOMPARE(platform.boxes().size(), 1);
        const MessageBoxRequest& box = platform.boxes().front();
        QCOMPARE(box.caption, QStringLiteral("提示"));
        QCOMPARE(box.icon, MsgIcon::Warning);
        for (const QString& part : told)
            QVERIFY2(box.text.contains(part), qPrintable(box.text + QStringLiteral("\nlacks: ") + part));
        // Told after the sign-on, before the main window's loop.
        const qsizetype boxAt = platform.log().indexOf(QStringLiteral("box 提示|") + box.text);
        QVERIFY(boxAt > platform.log().indexOf(QStringLiteral("modal Flogin")));
        QVERIFY(boxAt < platform.log().indexOf(QStringLiteral("loop fmain")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
