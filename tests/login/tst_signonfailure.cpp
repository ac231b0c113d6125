// A sign-on that cannot write its login record (a full database, a full
// disk, a read-only database): the error reaches the general error report,
// the dialog stays open, nobody is signed on, the database keeps what it had,
// and once the cause is gone the next attempt signs on.
#include "data/engines/SqliteBackend.h"
#include "data/module/DMod.h"
#include "data/module/Rights.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "tests/support/SignOnFixture.h"
#include "tests/support/WriteFault.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace velmora;
using namespace velmora::test;

namespace {

// A file made as velmora-db makes one (write-ahead log), with one operator and one earlier login record.
std::unique_ptr<SignOnFixture> makeFixture()
{
    return std::make_unique<SignOnFixture>(
        QList<OperatorRow>{{"admin", 1.0, "1234", qint64(data::rightsWordFor({0, 1}))}},
        SignOnOptions{.writeAheadLog = true,
                      .moreSql = "INSERT INTO oper (\"登录时间\", userid) VALUES ('2024-01-02 08:00:00', 1);"},
        TestBackend::Embedded);
}

// The program's own connection, to put it in the state under test.
sqlite3* connectionOf(const SignOnFixture& f)
{
    auto* backend = dynamic_cast<data::SqliteBackend*>(&f.dmod->ADOCON().backend());
    return backend ? backend->handle() : nullptr;
}

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
    QTest::addColumn<int>("cause");
    QTest::addColumn<QString>("message"); // part of SQLite's text the report carries
    QTest::newRow("database full") << int(WriteFault::DatabaseFull) << "database or disk is full";
    QTest::newRow("disk refuses the write") << int(WriteFault::DiskRefuses) << "disk I/O error";
    QTest::newRow("read-only database") << int(WriteFault::ReadOnly) << "attempt to write a readonly database";
}

void TestSignOnFailure::writeFailureKeepsTheDialogOpen()
{
    QFETCH(int, cause);
    QFETCH(QString, message);

    const std::unique_ptr<SignOnFixture> fixture = makeFixture();
    SignOnFixture& f = *fixture;
    QVERIFY(f.ok());
    sqlite3* db = connectionOf(f);
    QVERIFY(db);
    WriteFault fault(db, f.database().path(), WriteFault::Kind(cause));
    QVERIFY(fault.ok());
    const QList<LoginRecord> before = f.loginRecords();
    QVERIFY(!before.isEmpty());

    QVERIFY(f.show());
    QTest::keyClicks(f.yh, QStringLiteral("1"));
    QTest::keyClick(f.yh, Qt::Key_Return);
    QTest::keyClick(f.Edit2, Qt::Key_Return); // the default password is admin's
    if (cause == WriteFault::DiskRefuses)
        fault.lift();

    QCOMPARE(f.platform.boxes().size(), 1);
    const MessageBoxRequest& report = f.platform.boxes().front();
    QCOMPARE(report.icon, MsgIcon::Error);
    QCOMPARE(report.caption, AppTitle);
    QVERIFY2(report.text.contains(message), qPrintable(report.text));
    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.mainWindow->panelText(1), QString());
    QVERIFY(f.loginRecords() == before);

    // The cause gone, the next attempt signs on with one new record.
    fault.lift();
    QTest::mouseClick(f.btok, Qt::LeftButton);
    QVERIFY2(f.dialog->loggedIn(), qPrintable(f.platform.boxes().last().text));
    QCOMPARE(f.platform.boxes().size(), 1);
    const QList<LoginRecord> after = f.loginRecords();
    QCOMPARE(after.size(), before.size() + 1);
    QVERIFY(after.mid(0, before.size()) == before);
    QCOMPARE(f.mainWindow->session().loginRecordId, after.last().operid);
}

QTEST_MAIN(TestSignOnFailure)
#include "tst_signonfailure.moc"
