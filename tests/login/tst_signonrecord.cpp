// What the login makes of the record of sign-on attempts and of the operators' upkeep, through the sign-on
// itself: every counted attempt recorded, the lock-out across runs of the program until the time passes or
// velmora-db unlock, a disabled operator refused, a record that cannot be written never keeping anybody out,
// and the effect of each velmora-db operator command on the next sign-on. CTest runs it over the file and, with
// VELMORA_TEST_BACKEND=server, over the server.

#include "data/Errors.h"
#include "data/module/DMod.h"
#include "data/module/Operators.h"
#include "data/module/Rights.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "tests/support/PrivateServer.h"
#include "tests/support/SignOnFixture.h"
#include "tests/support/VelmoraDb.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {

// admin (1) and clerk (12), plain passwords as rows made by hand have them.
QList<OperatorRow> operators()
{
    return {
        {"admin", 1.0, "pw-admin-1", rightsWord({0, 1, 2, 3, 4, 5, 6})},
        {"clerk", 12.0, "pw-clerk-12", rightsWord({0, 1})},
    };
}

// The record, one "typed|userid|username|outcome" per attempt, in order.
QStringList recorded(SignOnFixture& f)
{
    QStringList out;
    try {
        for (const auto& row : f.database().rows("SELECT typed_operator, matched_userid, matched_username, outcome "
                                                 "FROM velmora_signon_attempts ORDER BY attempt"))
            out << QString::fromStdString(row.at(0) + "|" + row.at(1) + "|" + row.at(2) + "|" + row.at(3));
    } catch (const std::exception& e) {
        out << QStringLiteral("(unreadable: %1)").arg(e.what());
    }
    return out;
}

// Types the operator anew (clearing what the list holds) and signs on with the password.
void attempt(SignOnFixture& f, const QString& operatorText, const QString& password)
{
    f.yh->setFocus();
    f.yh->lineEdit()->selectAll();
    QTest::keyClick(f.yh, Qt::Key_Backspace);
    f.typeAndSignOn(operatorText, password);
}

// velmora-db on the fixture's database.
ToolRun tool(SignOnFixture& f, const std::string& command, std::vector<std::string> arguments)
{
    std::vector<std::string> words{command};
    for (const std::string& word : f.database().toolTarget())
        words.push_back(word);
    words.insert(words.end(), arguments.begin(), arguments.end());
    return runVelmoraDb(words);
}

const QString LockedFor15 = TFlogin::lockedOutMessage(15);

} // namespace

class TestSignOnRecord : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void everyAttemptIsRecorded();
    void lockOutSurvivesARestart_data();
    void lockOutSurvivesARestart();
    void aDisabledOperatorIsRefused();
    void aRecordThatCannotBeWrittenKeepsNobodyOut();
    void leavingIsRecorded();
    void toolCommandsCountAtTheNextSignOn_data();
    void toolCommandsCountAtTheNextSignOn();
    void aTillsRoleSignsOnAndCannotChangeOperators();
};

void TestSignOnRecord::init()
{
    if (const std::string why = skipReason(fixtureBackend()); !why.empty())
        QSKIP(why.c_str());
}

void TestSignOnRecord::everyAttemptIsRecorded()
{
    SignOnFixture f(operators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    attempt(f, "1", "wrong-1");
    attempt(f, "99", "pw-admin-1"); // names no operator
    attempt(f, "1", "pw-admin-1");
    QVERIFY(f.dialog->loggedIn());
    QCOMPARE(f.boxTexts(), (QStringList{WrongPassword, WrongPassword}));
    QCOMPARE(recorded(f), (QStringList{"1|1|admin|wrong password", "99|||wrong password", "1|1|admin|signed on"}));
    const auto hosts = f.database().rows("SELECT DISTINCT host FROM velmora_signon_attempts");
    QCOMPARE(hosts.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(hosts[0][0]), QSysInfo::machineHostName());
}

void TestSignOnRecord::lockOutSurvivesARestart_data()
{
    QTest::addColumn<int>("attempts");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("refusal"); // empty: the right password signs on
    QTest::newRow("the defaults, 5 in 15 minutes") << 5 << 15 << LockedFor15;
    QTest::newRow("4 in 90 minutes") << 4 << 90 << TFlogin::lockedOutMessage(90);
    QTest::newRow("off by count") << 0 << 15 << QString();
    QTest::newRow("off by minutes") << 5 << 0 << QString();
    QTest::newRow("more allowed than tried") << 6 << 15 << QString();
}

// Five wrong passwords in two runs (the three-attempt rule ends the first), then, in a third run, the right one.
void TestSignOnRecord::lockOutSurvivesARestart()
{
    QFETCH(int, attempts);
    QFETCH(int, minutes);
    QFETCH(QString, refusal);
    SignOnFixture f(operators());
    QVERIFY(f.ok());
    const data::LockoutPolicy policy{attempts, minutes};
    for (int wrong : {3, 2}) {
        f.dialog->setLockoutPolicy(policy);
        QVERIFY(f.show());
        for (int i = 0; i < wrong; ++i)
            attempt(f, "1", "wrong-" + QString::number(i));
        if (wrong == 2)
            QTest::keyClick(f.Edit2, Qt::Key_Escape);
        QVERIFY(!f.dialog->isVisible());
        QVERIFY(!f.dialog->loggedIn());
        f.restart();
    }
    f.dialog->setLockoutPolicy(policy);
    QVERIFY(f.show());
    attempt(f, "1", "pw-admin-1");
    if (refusal.isEmpty()) {
        QVERIFY2(f.dialog->loggedIn(), qPrintable(f.boxTexts().join('\n')));
        return;
    }
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(f.dialog->isVisible());
    QCOMPARE(f.boxTexts(), QStringList{refusal});
    QCOMPARE(f.platform.boxes().constFirst().caption, AppTitle);
    QCOMPARE(f.platform.boxes().constFirst().icon, MsgIcon::None);
    QCOMPARE(recorded(f).constLast(), QStringLiteral("1|1|admin|locked out"));
    // Only that operator.
    attempt(f, "12", "pw-clerk-12");
    QVERIFY2(f.dialog->loggedIn(), qPrintable(f.boxTexts().join('\n')));

    // Unlocked by the administrator, the locked operator signs on at once.
    f.restart();
    f.dialog->setLockoutPolicy(policy);
    const ToolRun unlock = tool(f, "unlock", {"--userid", "1"});
    QVERIFY2(unlock.status == 0, unlock.output.c_str());
    QVERIFY(f.show());
    attempt(f, "1", "pw-admin-1");
    QVERIFY2(f.dialog->loggedIn(), qPrintable(f.boxTexts().join('\n')));
}

void TestSignOnRecord::aDisabledOperatorIsRefused()
{
    SignOnFixture f(operators());
    QVERIFY(f.ok());
    {
        auto backend = data::connectProvider(f.database().connectionString(), f.database().folder());
        data::setOperatorEnabled(*backend, "12", false);
    }
    f.restart();
    QVERIFY(f.show());
    attempt(f, "12", "wrong-12");
    attempt(f, "12", "pw-clerk-12");
    QVERIFY(!f.dialog->loggedIn());
    QCOMPARE(f.boxTexts(), (QStringList{WrongPassword, TFlogin::disabledMessage()}));
    QCOMPARE(QApplication::focusWidget(), f.yh);
    QCOMPARE(recorded(f), (QStringList{"12|12|clerk|wrong password", "12|12|clerk|disabled"}));
    QTest::mouseClick(f.btno, Qt::LeftButton);

    {
        auto backend = data::connectProvider(f.database().connectionString(), f.database().folder());
        data::setOperatorEnabled(*backend, "12", true);
    }
    f.restart();
    QVERIFY(f.show());
    attempt(f, "12", "pw-clerk-12");
    QVERIFY2(f.dialog->loggedIn(), qPrintable(f.boxTexts().join('\n')));
    QCOMPARE(f.mainWindow->panelText(1), QStringLiteral("操作员:12"));
}

// A record table that refuses every row: the failure is told once, and signing on goes on as ever.
void TestSignOnRecord::aRecordThatCannotBeWrittenKeepsNobodyOut()
{
    const bool server = fixtureBackend() == TestBackend::Server;
    SignOnOptions options;
    options.moreSql =
        std::string("CREATE TABLE velmora_signon_attempts (attempt ") +
        (server ? "integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT") +
        ", attempted_at " + (server ? "timestamp(0)" : "DATETIME") +
        ", host varchar(255), typed_operator varchar(50), matched_userid varchar(40), "
        "matched_username varchar(50), outcome varchar(20) CHECK (outcome = 'never'));";
    SignOnFixture f(operators(), options);
    QVERIFY(f.ok());
    QVERIFY(f.show());
    attempt(f, "1", "wrong-1");
    attempt(f, "1", "wrong-2");
    attempt(f, "1", "pw-admin-1");
    QVERIFY2(f.dialog->loggedIn(), qPrintable(f.boxTexts().join('\n')));
    const QStringList texts = f.boxTexts();
    QCOMPARE(texts.size(), 3);
    QVERIFY2(texts[0].startsWith(QStringLiteral("登录尝试记录无法读写")), qPrintable(texts[0]));
    QCOMPARE(texts.mid(1), (QStringList{WrongPassword, WrongPassword}));
    QCOMPARE(f.loginRecords().size(), 1);
}

void TestSignOnRecord::leavingIsRecorded()
{
    SignOnFixture f(operators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClicks(f.yh, "12");
    QTest::mouseClick(f.btno, Qt::LeftButton);
    QVERIFY(f.platform.endRequested());
    QCOMPARE(recorded(f), QStringList{"12|12|clerk|cancelled"});
    QCOMPARE(f.boxTexts(), QStringList());
}

struct ToolStep
{
    std::string command;
    std::vector<std::string> arguments;
};
Q_DECLARE_METATYPE(std::vector<ToolStep>)

void TestSignOnRecord::toolCommandsCountAtTheNextSignOn_data()
{
    QTest::addColumn<std::vector<ToolStep>>("steps");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QList<int>>("groups"); // enabled, when signed on
    const QList<int> clerkGroups{0, 1};
    QTest::newRow("passwd: the old password fails")
        << std::vector<ToolStep>{{"passwd", {"--userid", "12", "--password", "new-clerk-77"}}} << "pw-clerk-12"
        << QStringList{WrongPassword} << QList<int>{};
    QTest::newRow("passwd: the new one signs on")
        << std::vector<ToolStep>{{"passwd", {"--userid", "12", "--password", "new-clerk-77"}}} << "new-clerk-77"
        << QStringList{} << clerkGroups;
    QTest::newRow("set-groups") << std::vector<ToolStep>{{"set-groups", {"--userid", "12", "--groups", "2,6"}}}
                                << "pw-clerk-12" << QStringList{} << QList<int>{2, 6};
    QTest::newRow("disable-operator") << std::vector<ToolStep>{{"disable-operator", {"--userid", "12"}}}
                                      << "pw-clerk-12" << QStringList{TFlogin::disabledMessage()} << QList<int>{};
    QTest::newRow("disable-operator, enable-operator")
        << std::vector<ToolStep>{{"disable-operator", {"--userid", "12"}}, {"enable-operator", {"--userid", "12"}}}
        << "pw-clerk-12" << QStringList{} << clerkGroups;
    QTest::newRow("hash-passwords") << std::vector<ToolStep>{{"hash-passwords", {}}} << "pw-clerk-12" << QStringList{}
                                    << clerkGroups;
    QTest::newRow("add-operator, then it signs on")
        << std::vector<ToolStep>{{"add-operator",
                                  {"--username", "new", "--userid", "12.5", "--password", "pw-new-5", "--groups", "4"}},
                                 {"passwd", {"--userid", "12", "--password", "x"}}}
        << "pw-clerk-12" << QStringList{} << clerkGroups;
}

void TestSignOnRecord::toolCommandsCountAtTheNextSignOn()
{
    QFETCH(std::vector<ToolStep>, steps);
    QFETCH(QString, password);
    QFETCH(QStringList, boxes);
    QFETCH(QList<int>, groups);
    SignOnFixture f(operators());
    QVERIFY(f.ok());
    for (const ToolStep& step : steps) {
        const ToolRun run = tool(f, step.command, step.arguments);
        // A weak password is refused and changes nothing.
        const bool weak = step.command == "passwd" && step.arguments.back() == "x";
        QVERIFY2(run.status == (weak ? 1 : 0), run.output.c_str());
    }
    f.restart();
    QVERIFY(f.show());
    attempt(f, "12", password);
    QCOMPARE(f.boxTexts(), boxes);
    QCOMPARE(f.dialog->loggedIn(), !groups.isEmpty());
    for (int g = 0; g < 7 && f.dialog->loggedIn(); ++g)
        for (const QString& command : Tfmain::commandsOfGroup(g))
            if (f.mainWindow->command(command)->isVisible()) // Qt keeps a hidden action (support) disabled
                QVERIFY2(f.mainWindow->command(command)->isEnabled() == groups.contains(g), qPrintable(command));
}

// velmora-db grant-till on a server of the test's own (its role may make roles): signed on as the till's role,
// the sign-on writes its records, and the server refuses every change of OperatorTable.
void TestSignOnRecord::aTillsRoleSignsOnAndCannotChangeOperators()
{
    if (fixtureBackend() != TestBackend::Server)
        QSKIP("the server's case runs with VELMORA_TEST_BACKEND=server");
    PrivateServer server;
    if (!server.whyNot().empty())
        QSKIP(server.whyNot().c_str());
    SignOnOptions options;
    options.server = &server.server();
    SignOnFixture f(operators(), options);
    QVERIFY(f.ok());
    const std::string role = "till_role";
    const std::string password = "till-secret-31";
    const ToolRun grant = runVelmoraDb({"grant-till", f.database().toolTarget()[0], role, "--db-user",
                                        server.server().user, "--db-password-file", "/dev/stdin"},
                                       "printf '%s\\n' " + shellQuote(server.server().password) +
                                           " | VELMORA_ROLE_PASSWORD=" + shellQuote(password));
    QVERIFY2(grant.status == 0, grant.output.c_str());
    QVERIFY2(grant.output.find(password) == std::string::npos, grant.output.c_str());

    f.restartAs(role, password);
    QVERIFY(f.show());
    attempt(f, "1", "wrong-1");
    attempt(f, "1", "pw-admin-1");
    QVERIFY2(f.dialog->loggedIn(), qPrintable(f.boxTexts().join('\n')));
    QCOMPARE(f.boxTexts(), QStringList{WrongPassword});
    QCOMPARE(f.loginRecords().size(), 1);
    QCOMPARE(recorded(f), (QStringList{"1|1|admin|wrong password", "1|1|admin|signed on"}));

    auto asTill = data::connectProvider(f.database().connectionStringAs(role, password), f.database().folder());
    const char* const changes[] = {
        "INSERT INTO OperatorTable (username, userid, passwords, able) VALUES ('evil', 9, 'x', 2147483647)",
        "UPDATE OperatorTable SET able = 2147483647",
        "UPDATE OperatorTable SET passwords = 'x'",
        "DELETE FROM OperatorTable",
        "INSERT INTO velmora_operator_state (userid, disabled) VALUES ('1', 1)",
        "DELETE FROM velmora_signon_attempts",
        "DELETE FROM oper",
        "CREATE TABLE mine (x integer)",
    };
    for (const char* change : changes) {
        try {
            asTill->update(change, {});
            QFAIL(change);
        } catch (const data::DatabaseError& e) {
            QVERIFY2(e.kind() == data::ErrorKind::Permission, qPrintable(QString(change) + ": " + e.what()));
            // What a clerk would read: in Chinese first, the server's words after it.
            QVERIFY2(QString::fromUtf8(e.what()).startsWith(QStringLiteral("没有权限做这次操作")), e.what());
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("permission denied")), e.what());
        }
    }
    try {
        data::setOperatorPassword(*asTill, "1", "taken-over-1");
        QFAIL("an operator's password changed by the till's role");
    } catch (const data::DatabaseError& e) {
        QCOMPARE(e.kind(), data::ErrorKind::Permission);
    }
    QCOMPARE(f.database().number("SELECT count(*) FROM \"OperatorTable\""), 2LL);

    // Run again, it fixes what was given meanwhile and keeps the role's password.
    f.database().run("GRANT UPDATE ON \"OperatorTable\" TO till_role");
    const ToolRun again =
        runVelmoraDb({"grant-till", f.database().toolTarget()[0], role, "--db-user", server.server().user},
                     "PGPASSWORD=" + shellQuote(server.server().password));
    QVERIFY2(again.status == 0, again.output.c_str());
    auto fixed = data::connectProvider(f.database().connectionStringAs(role, password), f.database().folder());
    try {
        fixed->update("UPDATE OperatorTable SET able = 2147483647", {});
        QFAIL("the update granted meanwhile is still there");
    } catch (const data::DatabaseError& e) {
        QCOMPARE(e.kind(), data::ErrorKind::Permission);
    }
}

QTEST_MAIN(TestSignOnRecord)
#include "tst_signonrecord.moc"
