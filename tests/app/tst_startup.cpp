#include "app/StartupSequence.h"
#include "data/DMod.h"
#include "data/PasswordVerifier.h"
#include "data/Rights.h"
#include "data/Schema.h"
#include "login/TFlogin.h"
#include "platform/ScriptedPlatform.h"
#include "tests/app/SignOnScript.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace velmora;

namespace {

// A database file with the program's twelve tables, optionally protected by a
// password, optionally without one table.
void makeDatabase(const QString& path, const QString& password, const QString& dropTable = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, data::schemaScript().c_str(), nullptr, nullptr, &error);
    QVERIFY2(rc == SQLITE_OK, error);
    const std::string operators =
        "INSERT INTO OperatorTable (username, userid, passwords, able) VALUES ('admin', 1, 'secret', " +
        std::to_string(data::rightsWordFor({0, 1, 2, 3, 4, 5, 6})) + ")";
    QCOMPARE(sqlite3_exec(db, operators.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    if (!dropTable.isEmpty())
        QCOMPARE(sqlite3_exec(db, QStringLiteral("DROP TABLE \"%1\"").arg(dropTable).toUtf8().constData(), nullptr,
                              nullptr, nullptr),
                 SQLITE_OK);
    if (!password.isEmpty())
        data::installPasswordVerifier(db, password.toStdString());
    sqlite3_close(db);
}

int countRows(const QString& path, const char* table)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = std::string("SELECT count(*) FROM \"") + table + "\"";
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    int n = -1;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        n = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return n;
}

QStringList boxTexts(const ScriptedPlatform& platform)
{
    QStringList texts;
    for (const MessageBoxRequest& box : platform.boxes())
        texts << box.text;
    return texts;
}

const QString Question = QStringLiteral("联接数据库服务器失败,是否重新配置连接?");

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
    // start-up datasets open and the login dialog is shown.
    void successfulRetryAsksNoMore()
    {
        QTemporaryDir dir;
        makeDatabase(dir.filePath("velmdb.mdb"), QStringLiteral("739015"));
        ScriptedPlatform platform(dir.path());
        platform.queueAnswers({MsgAnswer::Yes});
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QCOMPARE(boxTexts(platform), QStringList{Question});
        QVERIFY(platform.log().contains(QStringLiteral("modal Flogin")));
        QVERIFY(!platform.log().contains(QStringLiteral("pause 500")));
        QCOMPARE(countRows(dir.filePath("velmdb.mdb"), "oper"), 0);
    }

    // A database that lacks a start-up table ends the program through the
    // general error report, with status 1 and no login.
    void missingStartupTableEndsWithStatusOne_data()
    {
        QTest::addColumn<QString>("table");
        for (const char* table : {"oper", "OperatorTable", "ypzdk", "kc", "partment", "company"})
            QTest::newRow(table) << QString::fromUtf8(table);
    }

    void missingStartupTableEndsWithStatusOne()
    {
        QFETCH(QString, table);
        QTemporaryDir dir;
        makeDatabase(dir.filePath("data/velmdb.mdb"), QStringLiteral("mivotelq"), table);
        ScriptedPlatform platform(dir.path());
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 1);

        QCOMPARE(platform.boxes().size(), 1);
        const MessageBoxRequest& report = platform.boxes().front();
        QCOMPARE(report.icon, MsgIcon::Error);
        QCOMPARE(report.caption, QStringLiteral("Velmora"));
        QVERIFY2(report.text.contains(table), qPrintable(report.text));
        QVERIFY(!platform.log().contains(QStringLiteral("modal Flogin")));
    }

    // The whole road: the first read finds the database, the operator signs
    // on in the login dialog, and the message loop runs with the main window.
    void signOnReachesTheMainWindow()
    {
        QTemporaryDir dir;
        const QString dbPath = dir.filePath("data/velmdb.mdb");
        makeDatabase(dbPath, QStringLiteral("mivotelq"));
        ScriptedPlatform platform(dir.path());
        QString panel;
        test::scriptSignOn(platform, QStringLiteral("1"), QStringLiteral("secret"), &panel);
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QVERIFY2(platform.boxes().isEmpty(), qPrintable(boxTexts(platform).join('\n')));
        QCOMPARE(panel, QStringLiteral("操作员:1"));
        QVERIFY(platform.log().contains(QStringLiteral("loop fmain")));
        QCOMPARE(countRows(dbPath, "oper"), 1);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
