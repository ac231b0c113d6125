// The start-up with DBConn.ini naming a PostgreSQL server: a server that cannot be reached is a failed connect
// like a missing file; a server database signs an operator on into the main window.

#include "app/StartupSequence.h"
#include "data/Rights.h"
#include "platform/ScriptedPlatform.h"
#include "tests/app/SignOnScript.h"
#include "tests/data/backend_support.h"

#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmora;

namespace {

const QString Question = QStringLiteral("联接数据库服务器失败,是否重新配置连接?");

void writeSettings(const QString& folder, const std::string& source, const std::string& user,
                   const std::string& password)
{
    QFile file(folder + QStringLiteral("/DBConn.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(("[Velmora]\nDB_Source=" + source + "\nDB_User=" + user + "\nDB_Password=" + password + "\n").c_str());
}

} // namespace

class TestStartupServer : public QObject
{
    Q_OBJECT

private slots:
    // Needs no server: nothing listens on port 1.
    void unreachableServerAsksTheQuestion()
    {
        QTemporaryDir dir;
        const std::string secret = "Till-Secret-7";
        writeSettings(dir.path(), "postgresql://127.0.0.1:1/velmora", "till", secret);
        ScriptedPlatform platform(dir.path());
        platform.queueAnswers({MsgAnswer::No});
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QCOMPARE(sequence.connectAttempts().size(), size_t(1));
        const QString attempt = sequence.connectAttempts().front();
        QVERIFY(attempt.contains(QStringLiteral(";User ID=till;Data Source=postgresql://127.0.0.1:1/velmora;")));
        QCOMPARE(platform.boxes().size(), 1);
        QCOMPARE(platform.boxes().front().text, Question);
        for (const QString& line : platform.log())
            QVERIFY2(!line.contains(QString::fromStdString(secret)), qPrintable(line));
        QVERIFY(platform.log().contains(QStringLiteral("end")));
    }

    void serverDatabaseSignsOnIntoTheMainWindow()
    {
        if (const std::string why = data::test::skipReason(data::test::TestBackend::Server); !why.empty())
            QSKIP(why.c_str());
        data::test::TestDatabase db(data::test::TestBackend::Server);
        db.run(db.schema() +
               "INSERT INTO \"OperatorTable\" (username, userid, passwords, able) VALUES ('admin', 1, "
               "'secret', " +
               std::to_string(data::rightsWordFor({0, 1, 2, 3, 4, 5, 6})) + ");");
        QTemporaryDir dir;
        writeSettings(dir.path(), db.source(), db.server()->user, db.server()->password);
        ScriptedPlatform platform(dir.path());
        QString panel;
        test::scriptSignOn(platform, QStringLiteral("1"), QStringLiteral("secret"), &panel);
        StartupSequence sequence(platform);

        QCOMPARE(sequence.run(), 0);

        QVERIFY(platform.boxes().isEmpty());
        QCOMPARE(panel, QStringLiteral("操作员:1"));
        QCOMPARE(db.number("select count(*) from oper"), 1);
    }
};

QTEST_MAIN(TestStartupServer)
#include "tst_startup_server.moc"
