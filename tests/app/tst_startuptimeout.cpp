// The start-up with a database that does not answer in time: a start-up dataset that runs past the command
// time-out ends in the general error report (status 1) naming the time-out and the database; a stopped server
// is a failed connect after the connect time-out, and the retry question follows.

#include "app/StartupSequence.h"
#include "data/module/Rights.h"
#include "tests/support/HeldLock.h"
#include "tests/support/PrivateServer.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/TestDatabase.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <memory>

using namespace velmora;
using namespace velmora::test;
using namespace std::chrono_literals;

namespace {

const QString Question = QStringLiteral("联接数据库服务器失败,是否重新配置连接?");

// Longer than the time-out and the file's 5 s wait for a lock: a start-up that does not apply its time-out
// waits for the holder and then goes on to the login.
constexpr auto Holding = 12s;

void makeDatabase(test::TestDatabase& db, const std::string& edit = {})
{
    db.run(db.schema() +
           "INSERT INTO \"OperatorTable\" (username, userid, passwords, able) VALUES ('admin', 1, '1234', " +
           std::to_string(data::rightsWordFor({0, 1, 2, 3, 4, 5, 6})) + ");" + edit);
}

} // namespace

class TestStartupTimeout : public QObject
{
    Q_OBJECT

private slots:
    void startupDatasetPastItsTimeOutEndsInTheErrorReport_data();
    void startupDatasetPastItsTimeOutEndsInTheErrorReport();
    void stoppedServerIsAFailedConnect();
};

void TestStartupTimeout::startupDatasetPastItsTimeOutEndsInTheErrorReport_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("file") << false;
    QTest::newRow("server") << true;
}

// On the server another session holds the login table (toper, the first start-up dataset); on the file the
// department table tbm reads is a view that takes seconds to compute (another session's lock would keep the
// connect itself out).
void TestStartupTimeout::startupDatasetPastItsTimeOutEndsInTheErrorReport()
{
    QFETCH(bool, server);
    const auto backend = server ? test::TestBackend::Server : test::TestBackend::Embedded;
    if (const std::string why = test::skipReason(backend); !why.empty())
        QSKIP(why.c_str());
    test::TestDatabase db(backend);
    makeDatabase(db, server ? std::string()
                            : "INSERT INTO partment (\"部门名称\") VALUES ('库房');"
                              "ALTER TABLE partment RENAME TO partment_rows; CREATE VIEW partment AS WITH RECURSIVE "
                              "c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 20000000) "
                              "SELECT * FROM partment_rows WHERE (SELECT count(*) FROM c) > 0;");
    std::unique_ptr<test::HeldLock> lock;
    if (server) {
        lock = std::make_unique<test::HeldLock>(db, "BEGIN; LOCK TABLE oper IN ACCESS EXCLUSIVE MODE", Holding);
        QCOMPARE(QString::fromStdString(lock->error()), QString());
    }
    QTemporaryDir dir;
    QVERIFY(db.writeSettings(dir.path().toStdString()));
    ScriptedPlatform platform(dir.path());
    StartupSequence sequence(platform);
    sequence.setCommandTimeout(1);

    const int status = sequence.run();
    lock.reset();

    QCOMPARE(status, 1);
    QCOMPARE(platform.boxes().size(), 1);
    const MessageBoxRequest& box = platform.boxes().front();
    QCOMPARE(box.icon, MsgIcon::Error);
    // What the clerk reads in Chinese, the technical line, and the database.
    const QStringList lines = box.text.split(u'\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].startsWith(QStringLiteral("操作超时：数据库在 1 秒内没有完成这个操作。")), qPrintable(box.text));
    QVERIFY2(lines[1].startsWith(QStringLiteral("Query timeout expired: the command on '")), qPrintable(box.text));
    QVERIFY2(lines[1].contains(QStringLiteral("within 1 second")), qPrintable(box.text));
    const QString where = QString::fromStdString(server ? db.source() : db.path());
    QCOMPARE(lines[2], (server ? QStringLiteral("数据库服务器: ") : QStringLiteral("数据库文件: ")) + where);
    QVERIFY(!platform.log().contains(QStringLiteral("modal Flogin")));
}

// The connect to a stopped server ends after the connect time-out as a failed connect: the question comes,
// and No ends the program as for any failed connect.
void TestStartupTimeout::stoppedServerIsAFailedConnect()
{
    test::PrivateServer server;
    if (!server.whyNot().empty())
        QSKIP(server.whyNot().c_str());
    test::TestDatabase db(server.server());
    makeDatabase(db);
    QTemporaryDir dir;
    QVERIFY(db.writeSettings(dir.path().toStdString()));
    ScriptedPlatform platform(dir.path());
    platform.queueAnswers({MsgAnswer::No});
    StartupSequence sequence(platform);

    server.pause(60s);
    const int status = sequence.run();
    server.resume();

    QCOMPARE(status, 0);
    QCOMPARE(sequence.connectAttempts().size(), size_t(1));
    QCOMPARE(platform.boxes().size(), 1);
    QCOMPARE(platform.boxes().front().text, Question);
    QVERIFY(platform.log().contains(QStringLiteral("end")));
}

QTEST_MAIN(TestStartupTimeout)
#include "tst_startuptimeout.moc"
