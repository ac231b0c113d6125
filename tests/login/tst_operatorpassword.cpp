// The login's password check with both stored forms: a tagged Argon2id hash
// and the plain text of older rows, through the attempt rules.
#include "data/module/DMod.h"
#include "data/module/OperatorPassword.h"
#include "data/module/Rights.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "tests/support/SignOnFixture.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>

using namespace velmora;
using namespace velmora::test;

namespace {

const qint64 Granted = data::rightsWordFor({0, 1});
const qint64 Damaged = 1'000'000'000; // not above the threshold

QString hashed(const char* password)
{
    return QString::fromStdString(data::hashOperatorPassword(password));
}

} // namespace

class TestOperatorPassword : public QObject
{
    Q_OBJECT

private slots:
    void attemptOutcome_data();
    void attemptOutcome();
    void threeFailuresWithAHashEndTheApplication();
};

// stored: the passwords column; typed: the password box; message: the box of
// the attempt, empty for a sign-on.
void TestOperatorPassword::attemptOutcome_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<qint64>("able");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");

    const QString hash = hashed("5678");
    QTest::newRow("hash, right password") << hash << Granted << "5678" << QString();
    QTest::newRow("hash, right password with blanks") << hash << Granted << " 5678  " << QString();
    QTest::newRow("hash with blanks around it") << "  " + hash + "\t" << Granted << "5678" << QString();
    QTest::newRow("hash, wrong password") << hash << Granted << "5679" << WrongPassword;
    QTest::newRow("hash, the hash itself typed") << hash << Granted << hash << WrongPassword;
    QTest::newRow("hash, right password, damaged rights") << hash << Damaged << "5678" << DamagedRights;
    QTest::newRow("hash, wrong password, damaged rights") << hash << Damaged << "0000" << WrongPassword;
    QTest::newRow("hash of a Chinese password") << hashed("药房1") << Granted << "药房1" << QString();

    QTest::newRow("plain, right password") << "5678" << Granted << "5678" << QString();
    QTest::newRow("plain, wrong password") << "5678" << Granted << "5679" << WrongPassword;
    QTest::newRow("plain, right password, damaged rights") << "5678" << Damaged << " 5678" << DamagedRights;
    QTest::newRow("plain, wrong password, damaged rights") << "5678" << Damaged << "1" << WrongPassword;

    // Text that starts like a hash but is none signs nobody on, whatever is typed.
    const QString fake = QStringLiteral("$argon2id$v=19$m=65536,t=2,p=1$notbase64$alsonot");
    QTest::newRow("broken hash typed as is") << fake << Granted << fake << WrongPassword;
    QTest::newRow("broken hash, other text") << fake << Granted << "5678" << WrongPassword;
    const QString cutHash = hash.left(40); // inside the salt
    QTest::newRow("cut hash typed as is") << cutHash << Granted << cutHash << WrongPassword;
    QTest::newRow("cut hash, its password") << cutHash << Granted << "5678" << WrongPassword;
    const QString cutBeforeSalt = hash.left(hash.indexOf(QStringLiteral("$"), 20)); // "$argon2id$v=19$m=…,p=1"
    QTest::newRow("hash cut before its salt typed as is") << cutBeforeSalt << Granted << cutBeforeSalt << WrongPassword;
    QTest::newRow("bare tag typed as is") << "$argon2id$" << Granted << "$argon2id$" << WrongPassword;
}

void TestOperatorPassword::attemptOutcome()
{
    QFETCH(QString, stored);
    QFETCH(qint64, able);
    QFETCH(QString, typed);
    QFETCH(QString, message);

    SignOnFixture f({{"tester", 5.0, stored, able}});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClicks(f.yh, QStringLiteral("5"));
    QTest::keyClick(f.yh, Qt::Key_Return);
    QTest::keyClick(f.Edit2, Qt::Key_Backspace);
    if (std::all_of(typed.cbegin(), typed.cend(), [](QChar c) { return c.unicode() < 128; })) {
        QTest::keyClicks(f.Edit2, typed);
    } else {
        QInputMethodEvent commit; // Chinese arrives through the input method
        commit.setCommitString(typed);
        QApplication::sendEvent(f.Edit2, &commit);
    }
    QCOMPARE(f.Edit2->text(), typed);
    QTest::keyClick(f.Edit2, Qt::Key_Return);

    const bool signsOn = message.isEmpty();
    QCOMPARE(f.boxTexts(), signsOn ? QStringList() : QStringList{message});
    QCOMPARE(f.dialog->loggedIn(), signsOn);
    QCOMPARE(f.dialog->isVisible(), !signsOn);
    QCOMPARE(f.loginRecords().size(), signsOn ? 1 : 0);
    QVERIFY(!f.platform.endRequested());
    if (!signsOn)
        QCOMPARE(QApplication::focusWidget()->objectName(),
                 message == WrongPassword ? QStringLiteral("Edit2") : QStringLiteral("yh"));
}

void TestOperatorPassword::threeFailuresWithAHashEndTheApplication()
{
    SignOnFixture f({{"tester", 5.0, hashed("5678"), Granted}, {"weak", 7.0, hashed("7777"), Damaged}});
    QVERIFY(f.ok());
    QVERIFY(f.show());

    f.typeAndSignOn(QStringLiteral("5"), QStringLiteral("0000"));
    QTest::keyClick(f.Edit2, Qt::Key_Tab, Qt::ShiftModifier);
    QTest::keyClick(f.yh, Qt::Key_Backspace);
    f.typeAndSignOn(QStringLiteral("7"), QStringLiteral("7777"));
    QTest::keyClick(f.yh, Qt::Key_Backspace);
    f.typeAndSignOn(QStringLiteral("5"), QStringLiteral("4321"));

    QCOMPARE(f.boxTexts(), (QStringList{WrongPassword, DamagedRights, NotAuthenticated}));
    QVERIFY(f.platform.endRequested());
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(!f.dialog->isVisible());
    QVERIFY(f.loginRecords().isEmpty());
}

QTEST_MAIN(TestOperatorPassword)
#include "tst_operatorpassword.moc"
