#include "data/module/DMod.h"
#include "data/module/Rights.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "tests/support/SignOnFixture.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <limits>

using namespace velmora;
using namespace velmora::test;

namespace {

// admin (1), clerk (12), boss (2): a number column, as the schema has it.
QList<OperatorRow> numberOperators()
{
    return {
        {"admin", 1.0, "1234", rightsWord({0, 1, 2, 3, 4, 5, 6})},
        {"clerk", 12.0, "5678", rightsWord({0, 1})},
        {"boss", 2.0, "9999", rightsWord({})},
    };
}

// Operators identified by text, to show completion of a longer name.
QList<OperatorRow> textOperators()
{
    return {
        {"wang", "Wang", "1111", rightsWord({0})},
        {"wei", "wei", "2222", rightsWord({1})},
        {"li", "Li", "3333", rightsWord({2})},
    };
}

// The commands of each rights group and the always-available ones, as the
// main window's command set defines them.
const QMap<int, QStringList>& commandGroups()
{
    static const QMap<int, QStringList> groups{
        {0, {"ls1", "pf1", "crlist1"}},
        {1, {"rk1", "ty1", "bs1", "xl1", "pd1", "kclist1"}},
        {2, {"xstj", "kctj", "djsearch", "support"}},
        {3, {"yplist1", "ypadd", "ypedit", "ypprice"}},
        {4, {"yg1", "bm1", "company1"}},
        {5, {"user1"}},
        {6, {"back1"}},
        {-1, {"mm", "systemhelp", "about", "relogin", "quit"}},
    };
    return groups;
}

const QStringList Separators{"N12", "N18", "N14", "N24", "N29", "N37", "N1", "N41", "N36"};

} // namespace

class TestLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dialogLayout();
    void firstShowChoosesNothing();

    void typingChooses_data();
    void typingChooses();
    void dropDownChoosesByKeys_data();
    void dropDownChoosesByKeys();
    void dropDownChoosesByMouse();
    void dropDownClosedWithoutAcceptingKeepsChoice();
    void upDownStepsThroughOperators();
    void escapeRestoresFocusInChoiceOnce();

    void correctPasswordSignsOn_data();
    void correctPasswordSignsOn();
    void failedAttemptKeepsDialogOpen_data();
    void failedAttemptKeepsDialogOpen();
    void thirdFailureEndsApplication();
    void twoFailuresThenSuccessSignsOn();
    void emptyOperatorTextIsIgnored();
    void passwordComparison_data();
    void passwordComparison();
    void rightsThreshold_data();
    void rightsThreshold();
    void unreadableRightsAreReported_data();
    void unreadableRightsAreReported();
    void nameOfNoOperatorNeverSignsOn();
    void noOperatorsAtAll();
    void leavingBeforeSignOnEndsApplication_data();
    void leavingBeforeSignOnEndsApplication();
    void signOnFailureKeepsDialogOpen_data();
    void signOnFailureKeepsDialogOpen();

    void modalShowingEndsWithTheDialog_data();
    void modalShowingEndsWithTheDialog();

    void commandStateAfterSignOn_data();
    void commandStateAfterSignOn();
    void secondSignOnRecomputesFromScratch();
    void toolButtonOfDisabledCommandDoesNothing_data();
    void toolButtonOfDisabledCommandDoesNothing();
};

void TestLogin::initTestCase()
{
    if (const std::string why = skipReason(fixtureBackend()); !why.empty())
        QSKIP(why.c_str());
}

void TestLogin::dialogLayout()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    TFlogin& d = *f.dialog;
    QCOMPARE(d.objectName(), QStringLiteral("Flogin"));
    QCOMPARE(d.windowTitle(), QStringLiteral("登录"));
    QCOMPARE(d.size(), QSize(321, 138));
    QCOMPARE(d.minimumSize(), d.maximumSize());
    QVERIFY(d.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

    struct Control
    {
        const char* name;
        QRect geometry;
        QString text;
    };
    const Control controls[] = {
        {"Label1", {48, 24, 89, 13}, "请选择用户名:"},
        {"Label2", {48, 64, 89, 13}, "请录入密码"},
        {"yh", {144, 16, 121, 22}, {}},
        {"Edit2", {144, 56, 121, 22}, {}},
        {"btok", {72, 96, 81, 25}, "登录(&P)"},
        {"btno", {184, 96, 89, 25}, "退出(Esc)"},
    };
    for (const Control& c : controls) {
        auto* w = d.findChild<QWidget*>(QLatin1String(c.name));
        QVERIFY2(w, c.name);
        QCOMPARE(w->geometry(), c.geometry);
        QCOMPARE(w->font().pixelSize(), 13);
        if (auto* label = qobject_cast<QLabel*>(w))
            QCOMPARE(label->text(), c.text);
        if (auto* button = qobject_cast<QPushButton*>(w))
            QCOMPARE(button->text(), c.text);
    }
    QCOMPARE(d.font().pixelSize(), 11);
    QCOMPARE(f.yh->maxVisibleItems(), 7);
    QVERIFY(f.yh->isEditable());

    // Tab order yh, Edit2, btok, btno.
    QVERIFY(f.show());
    const QPoint offCentre = d.frameGeometry().center() - d.screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 2, "centred on the screen");
    QTest::keyClick(f.yh, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.Edit2);
    QTest::keyClick(f.Edit2, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.btok);
    QTest::keyClick(f.btok, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.btno);

    // The default password shows as four stars.
    QCOMPARE(f.Edit2->displayText(), QStringLiteral("****"));
}

void TestLogin::firstShowChoosesNothing()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QCOMPARE(f.yh->currentText(), QString());
    QVERIFY(!f.yh->hasChoice());
    QCOMPARE(f.dialog->attemptCount(), 0);
    QVERIFY(!f.dialog->loggedIn());
    QCOMPARE(f.Edit2->text(), TFlogin::defaultPassword());
    QCOMPARE(f.Edit2->text().size(), 4);
    QCOMPARE(f.currentUser(), QStringLiteral("admin")); // listing moved nothing

    QStringList entries;
    for (int i = 0; i < f.yh->count(); ++i)
        entries << f.yh->itemText(i);
    QCOMPARE(entries, (QStringList{"1", "12", "2"}));
}

void TestLogin::typingChooses_data()
{
    QTest::addColumn<bool>("textIds");
    QTest::addColumn<QList<QVariant>>("keys"); // strings are typed, numbers are key codes
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("chosen"); // empty: nothing chosen
    QTest::addColumn<QString>("row");    // username of tuser's row

    using V = QList<QVariant>;
    QTest::newRow("number: whole value") << false << V{"12"} << "12"
                                         << ""
                                         << "clerk"
                                         << "clerk";
    QTest::newRow("number: no prefix match") << false << V{"1"} << "1"
                                             << ""
                                             << "admin"
                                             << "admin";
    QTest::newRow("number: names no row") << false << V{"3"} << "3"
                                          << ""
                                          << ""
                                          << "admin";
    QTest::newRow("number: after a choice, no row") << false << V{"2", "7"} << "27"
                                                    << ""
                                                    << ""
                                                    << "boss";
    QTest::newRow("number: backspace to a row") << false << V{"12", int(Qt::Key_Backspace)} << "1"
                                                << ""
                                                << "admin"
                                                << "admin";
    QTest::newRow("text: completion selects the rest") << true << V{"w"} << "Wang"
                                                       << "ang"
                                                       << "wang"
                                                       << "wang";
    QTest::newRow("text: next character searches again") << true << V{"we"} << "wei"
                                                         << "i"
                                                         << "wei"
                                                         << "wei";
    QTest::newRow("text: letter case ignored") << true << V{"LI"} << "Li"
                                               << ""
                                               << "li"
                                               << "li";
    QTest::newRow("text: backspace needs the whole text") << true << V{"wa", int(Qt::Key_Backspace)} << "Wa"
                                                          << ""
                                                          << ""
                                                          << "wang";
    QTest::newRow("text: edit inside the text") << true << V{"xLi", int(Qt::Key_Home), int(Qt::Key_Delete)} << "Li"
                                                << ""
                                                << "li"
                                                << "li";
    QTest::newRow("text: names no row") << true << V{"z"} << "z"
                                        << ""
                                        << ""
                                        << "wang";
}

void TestLogin::typingChooses()
{
    QFETCH(bool, textIds);
    QFETCH(QList<QVariant>, keys);
    QFETCH(QString, text);
    QFETCH(QString, selected);
    QFETCH(QString, chosen);
    QFETCH(QString, row);

    SignOnFixture f(textIds ? textOperators() : numberOperators(), {.textUserIds = textIds});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    for (const QVariant& key : keys) {
        if (key.typeId() == QMetaType::QString)
            QTest::keyClicks(f.yh, key.toString());
        else
            QTest::keyClick(f.yh, Qt::Key(key.toInt()));
    }
    QCOMPARE(f.yh->currentText(), text);
    QCOMPARE(f.yh->lineEdit()->selectedText(), selected);
    QCOMPARE(f.yh->chosenKey(), chosen);
    QCOMPARE(f.currentUser(), row);
}

void TestLogin::dropDownChoosesByKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("F4") << int(Qt::Key_F4) << int(Qt::NoModifier);
    QTest::newRow("Alt+Down") << int(Qt::Key_Down) << int(Qt::AltModifier);
}

void TestLogin::dropDownChoosesByKeys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());

    QTest::keyClick(f.yh, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QAbstractItemView* list = f.yh->view();
    QTRY_VERIFY(list->isVisible());
    QCOMPARE(list->window()->width(), f.yh->width());

    QTest::keyClick(list, Qt::Key_Down);                // first entry
    QTest::keyClick(list, Qt::Key_Down);                // second
    QCOMPARE(f.currentUser(), QStringLiteral("clerk")); // tuser follows the highlight
    QCOMPARE(f.yh->currentText(), QString());           // nothing accepted yet

    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
    QVERIFY(f.dialog->isVisible());
    QCOMPARE(f.yh->currentText(), QStringLiteral("12"));
    QCOMPARE(f.yh->chosenKey(), QStringLiteral("clerk"));
    QCOMPARE(f.currentUser(), QStringLiteral("clerk"));
    QCOMPARE(f.dialog->attemptCount(), 0); // Enter in the drop-down is no login
    QCOMPARE(QApplication::focusWidget(), f.yh);
}

void TestLogin::dropDownChoosesByMouse()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClick(f.yh, Qt::Key_F4);
    QAbstractItemView* list = f.yh->view();
    QTRY_VERIFY(list->isVisible());

    const QRect third = list->visualRect(list->model()->index(2, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(f.yh->currentText(), QStringLiteral("2"));
    QCOMPARE(f.yh->chosenKey(), QStringLiteral("boss"));
    QCOMPARE(f.currentUser(), QStringLiteral("boss"));
}

void TestLogin::dropDownClosedWithoutAcceptingKeepsChoice()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClicks(f.yh, "1");
    QCOMPARE(f.currentUser(), QStringLiteral("admin"));

    QTest::keyClick(f.yh, Qt::Key_F4);
    QAbstractItemView* list = f.yh->view();
    QTRY_VERIFY(list->isVisible());
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(f.currentUser(), QStringLiteral("boss"));

    // Esc closes only the drop-down.
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(!list->isVisible());
    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.yh->currentText(), QStringLiteral("1"));
    QCOMPARE(f.yh->chosenKey(), QStringLiteral("admin"));
    // tuser stays on the highlighted row until the list loses the focus.
    QCOMPARE(f.currentUser(), QStringLiteral("boss"));
    QTest::keyClick(f.yh, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.Edit2);
    QCOMPARE(f.currentUser(), QStringLiteral("admin"));
}

void TestLogin::upDownStepsThroughOperators()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    struct Step
    {
        Qt::Key key;
        const char* text;
        const char* row;
    };
    const Step steps[] = {
        {Qt::Key_Up, "1", "admin"}, // nothing chosen: the first row
        {Qt::Key_Up, "1", "admin"}, // stays at the top
        {Qt::Key_Down, "12", "clerk"}, {Qt::Key_Down, "2", "boss"}, {Qt::Key_Down, "2", "boss"}, // stays at the bottom
        {Qt::Key_Up, "12", "clerk"},
    };
    for (const Step& step : steps) {
        QTest::keyClick(f.yh, step.key);
        QCOMPARE(f.yh->currentText(), QString::fromLatin1(step.text));
        QCOMPARE(f.currentUser(), QString::fromLatin1(step.row));
        QVERIFY(!f.yh->view()->isVisible());
    }
    // From a typed choice, Down moves one row on.
    QTest::keyClicks(f.yh, "1");
    QTest::keyClick(f.yh, Qt::Key_Down);
    QCOMPARE(f.currentUser(), QStringLiteral("clerk"));
}

void TestLogin::escapeRestoresFocusInChoiceOnce()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClick(f.yh, Qt::Key_Down); // admin
    QTest::keyClick(f.yh, Qt::Key_Tab);
    QTest::keyClick(f.Edit2, Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), f.yh);

    QTest::keyClick(f.yh, Qt::Key_Down); // clerk
    QTest::keyClicks(f.yh, "9");         // text names no row
    QTest::keyClick(f.yh, Qt::Key_Escape);
    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.yh->currentText(), QStringLiteral("1"));
    QCOMPARE(f.yh->lineEdit()->selectedText(), QStringLiteral("1"));
    QCOMPARE(f.yh->chosenKey(), QStringLiteral("admin"));
    QCOMPARE(f.currentUser(), QStringLiteral("admin"));

    // Nothing changed since: Esc is the exit button's.
    QTest::keyClick(f.yh, Qt::Key_Escape);
    QVERIFY(f.platform.endRequested());
    QVERIFY(!f.dialog->isVisible());
}

void TestLogin::correctPasswordSignsOn_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Enter in the password box") << "enter";
    QTest::newRow("click on the button") << "click";
    QTest::newRow("Alt+P") << "alt+p";
}

void TestLogin::correctPasswordSignsOn()
{
    QFETCH(QString, how);
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    const int before = f.loginRecords().size();
    QVERIFY(f.show());

    QTest::keyClicks(f.yh, "12");
    QTest::keyClick(f.yh, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), f.Edit2); // Enter moved on
    QTest::keyClicks(f.Edit2, "5678");
    if (how == "enter") {
        QTest::keyClick(f.Edit2, Qt::Key_Return);
    } else if (how == "click") {
        QTest::mouseClick(f.btok, Qt::LeftButton);
    } else {
        QTest::keyClick(f.Edit2, Qt::Key_P, Qt::AltModifier);
    }
    QTRY_VERIFY(!f.dialog->isVisible());

    QCOMPARE(f.dialog->result(), int(QDialog::Accepted));
    QVERIFY(f.dialog->loggedIn());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.platform.boxes().size(), 0);
    QCOMPARE(f.dialog->attemptCount(), 1);

    const QList<LoginRecord> records = f.loginRecords();
    QCOMPARE(records.size(), before + 1);
    QCOMPARE(records.last().userid, QStringLiteral("1"));
    QVERIFY(!records.last().signedOnAt.isEmpty());

    const Session& session = f.mainWindow->session();
    QCOMPARE(session.operatorId, QStringLiteral("12"));
    QCOMPARE(session.rightsWord, rightsWord({0, 1}));
    QCOMPARE(session.sessionNo, qint64(1));
    QCOMPARE(session.loginRecordId, records.last().operid);
    QCOMPARE(f.mainWindow->panelText(1), QStringLiteral("操作员:12"));
    QCOMPARE(f.mainWindow->panelText(2), TFlogin::contactLine());
    QVERIFY(TFlogin::contactLine().contains(QLatin1Char('@')));
}

void TestLogin::failedAttemptKeepsDialogOpen_data()
{
    QTest::addColumn<QString>("operatorKeys");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("wrong password") << "12"
                                    << "5679" << WrongPassword << "Edit2";
    QTest::newRow("rights not above the threshold") << "7"
                                                    << "7777" << DamagedRights << "yh";
}

void TestLogin::failedAttemptKeepsDialogOpen()
{
    QFETCH(QString, operatorKeys);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(QString, focus);

    QList<OperatorRow> operators = numberOperators();
    operators << OperatorRow{"weak", 7.0, "7777", qint64(1'000'000'000)};
    SignOnFixture f(operators);
    QVERIFY(f.ok());
    QVERIFY(f.show());
    f.typeAndSignOn(operatorKeys, password);

    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.boxTexts(), QStringList{message});
    const MessageBoxRequest& box = f.platform.boxes().constFirst();
    QCOMPARE(box.caption, AppTitle);
    QCOMPARE(box.icon, MsgIcon::None);
    QCOMPARE(box.buttons, MsgButtons::Ok);
    QCOMPARE(box.owner, f.dialog.get());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QCOMPARE(f.Edit2->text(), password); // kept for the next try
    QCOMPARE(f.dialog->attemptCount(), 1);
    QVERIFY(f.loginRecords().isEmpty());
    QCOMPARE(f.mainWindow->panelText(1), QString());
}

void TestLogin::thirdFailureEndsApplication()
{
    QList<OperatorRow> operators = numberOperators();
    operators << OperatorRow{"weak", 7.0, "7777", qint64(1'000'000'000)};
    SignOnFixture f(operators);
    QVERIFY(f.ok());
    QVERIFY(f.show());

    // Three attempts, different operators and causes.
    f.typeAndSignOn("12", "0000");
    QVERIFY(f.dialog->isVisible());
    QTest::keyClick(f.Edit2, Qt::Key_Tab, Qt::ShiftModifier);
    QTest::keyClick(f.yh, Qt::Key_Backspace);
    f.typeAndSignOn("7", "7777");
    QVERIFY(f.dialog->isVisible());
    QCOMPARE(QApplication::focusWidget(), f.yh);
    QTest::keyClick(f.yh, Qt::Key_Backspace);
    f.typeAndSignOn("1", "4321");

    QVERIFY(!f.dialog->isVisible());
    QVERIFY(f.platform.endRequested());
    QCOMPARE(f.boxTexts(), (QStringList{WrongPassword, DamagedRights, NotAuthenticated}));
    const QStringList log = f.platform.log();
    QVERIFY(log.indexOf(QStringLiteral("end")) > log.indexOf(QRegularExpression(".*对不起.*")));
    QCOMPARE(f.dialog->attemptCount(), 3);
    QVERIFY(f.loginRecords().isEmpty());
}

void TestLogin::twoFailuresThenSuccessSignsOn()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    f.typeAndSignOn("2", "1");
    QTest::keyClick(f.Edit2, Qt::Key_Backspace);
    QTest::keyClicks(f.Edit2, "2");
    QTest::keyClick(f.Edit2, Qt::Key_Return);
    QCOMPARE(f.dialog->attemptCount(), 2);
    QTest::keyClicks(f.Edit2, "9999");
    QTest::keyClick(f.Edit2, Qt::Key_Return);

    QVERIFY(!f.dialog->isVisible());
    QVERIFY(f.dialog->loggedIn());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.boxTexts(), (QStringList{WrongPassword, WrongPassword}));
    QCOMPARE(f.mainWindow->panelText(1), QStringLiteral("操作员:2"));
}

void TestLogin::emptyOperatorTextIsIgnored()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(f.btok, Qt::LeftButton);
    QTest::keyClick(f.Edit2, Qt::Key_Return);
    QCOMPARE(f.dialog->attemptCount(), 0);
    QVERIFY(f.platform.log().filter(QStringLiteral("box")).isEmpty());
    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.platform.endRequested());
}

void TestLogin::passwordComparison_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("passes");
    // The comparison's whole table is in the data layer's tests (OperatorPassword.MatchesEitherForm); these rows
    // show the login reading the stored text (or its absence) and the box through it.
    QTest::newRow("blanks around the stored one") << "  abc "
                                                  << "abc" << true;
    QTest::newRow("letter case counts") << "abc"
                                        << "ABC" << false;
    QTest::newRow("no stored value, blank box") << QString() << "  " << true;
    QTest::newRow("Chinese") << "药房"
                             << " 药房" << true;
}

void TestLogin::passwordComparison()
{
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QFETCH(bool, passes);

    const QVariant password = stored.isNull() ? QVariant() : QVariant(stored);
    SignOnFixture f({{"tester", 5.0, password, rightsWord({0})}});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClicks(f.yh, "5");
    QTest::keyClick(f.yh, Qt::Key_Return);
    QTest::keyClick(f.Edit2, Qt::Key_Backspace);
    if (std::all_of(typed.cbegin(), typed.cend(), [](QChar c) { return c.unicode() < 128; })) {
        QTest::keyClicks(f.Edit2, typed);
    } else {
        // Chinese arrives through the input method.
        QInputMethodEvent commit;
        commit.setCommitString(typed);
        QApplication::sendEvent(f.Edit2, &commit);
    }
    QCOMPARE(f.Edit2->text(), typed);
    QTest::keyClick(f.Edit2, Qt::Key_Return);

    QCOMPARE(f.dialog->loggedIn(), passes);
    QCOMPARE(f.dialog->isVisible(), !passes);
    QCOMPARE(f.boxTexts(), passes ? QStringList() : QStringList{WrongPassword});
}

void TestLogin::rightsThreshold_data()
{
    QTest::addColumn<qint64>("able");
    QTest::addColumn<bool>("passes");
    QTest::newRow("1,000,000,000") << qint64(1'000'000'000) << false;
    QTest::newRow("1,000,000,001") << qint64(1'000'000'001) << true;
    QTest::newRow("negative") << qint64(-5'000'000'000) << false;
    QTest::newRow("smallest") << std::numeric_limits<qint64>::min() << false;
    QTest::newRow("2^32") << (qint64(1) << 32) << true;
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << true;
}

void TestLogin::rightsThreshold()
{
    QFETCH(qint64, able);
    QFETCH(bool, passes);
    SignOnFixture f({{"tester", 5.0, "1234", able}});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    // The default password is the operator's.
    QTest::keyClicks(f.yh, "5");
    QTest::mouseClick(f.btok, Qt::LeftButton);

    QCOMPARE(f.dialog->loggedIn(), passes);
    QCOMPARE(f.boxTexts(), passes ? QStringList() : QStringList{DamagedRights});
    if (passes)
        QCOMPARE(f.mainWindow->session().rightsWord, able);
    else
        QCOMPARE(QApplication::focusWidget(), f.yh);
}

void TestLogin::unreadableRightsAreReported_data()
{
    QTest::addColumn<QVariant>("able");
    QTest::newRow("no value") << QVariant();
    QTest::newRow("empty text") << QVariant(QString(""));
    QTest::newRow("not a number") << QVariant(QStringLiteral("abc"));
}

void TestLogin::unreadableRightsAreReported()
{
    QFETCH(QVariant, able);
    if (fixtureBackend() == TestBackend::Server && able.typeId() == QMetaType::QString)
        QSKIP("the server's bigint column cannot hold text");
    SignOnFixture f({{"tester", 5.0, "1234", able}});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClicks(f.yh, "5");
    for (int attempt = 1; attempt <= 4; ++attempt) {
        QTest::mouseClick(f.btok, Qt::LeftButton);
        QCOMPARE(f.dialog->attemptCount(), attempt); // counted, and never the third-failure end
    }
    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.platform.boxes().size(), 4);
    const MessageBoxRequest& box = f.platform.boxes().constFirst();
    QCOMPARE(box.icon, MsgIcon::Error);
    QCOMPARE(box.caption, AppTitle);
    QVERIFY(!box.text.isEmpty());
    QVERIFY(f.loginRecords().isEmpty());
}

// A name that names no operator must not sign on the row tuser happens to
// stand on: here the first row, whose password is the default one.
void TestLogin::nameOfNoOperatorNeverSignsOn()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClicks(f.yh, "99");
    QCOMPARE(f.currentUser(), QStringLiteral("admin"));
    QCOMPARE(f.Edit2->text(), QStringLiteral("1234"));

    QTest::keyClick(f.yh, Qt::Key_P, Qt::AltModifier);
    QTRY_COMPARE(f.dialog->attemptCount(), 1);
    QTest::mouseClick(f.btok, Qt::LeftButton);
    QCOMPARE(f.dialog->attemptCount(), 2);
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(f.dialog->isVisible());
    QCOMPARE(f.boxTexts(), (QStringList{WrongPassword, WrongPassword}));
    QVERIFY(f.loginRecords().isEmpty());
    QCOMPARE(f.mainWindow->session().operatorId, QString());

    // The third such attempt ends, like any third failure.
    QTest::keyClick(f.Edit2, Qt::Key_Return);
    QVERIFY(f.platform.endRequested());
    QCOMPARE(f.boxTexts().last(), NotAuthenticated);
}

void TestLogin::noOperatorsAtAll()
{
    SignOnFixture f({});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QCOMPARE(f.yh->count(), 0);
    QTest::keyClick(f.yh, Qt::Key_Down);
    QTest::keyClicks(f.yh, "1");
    QCOMPARE(f.yh->currentText(), QStringLiteral("1"));
    QVERIFY(!f.yh->hasChoice());
    QTest::mouseClick(f.btok, Qt::LeftButton);

    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.dialog->loggedIn());
    QCOMPARE(f.dialog->attemptCount(), 1);
    QCOMPARE(f.platform.boxes().size(), 1);
    QCOMPARE(f.platform.boxes().constFirst().icon, MsgIcon::Error); // no row: no rights to read
    QVERIFY(f.loginRecords().isEmpty());
}

void TestLogin::leavingBeforeSignOnEndsApplication_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Esc in the operator list") << "esc-yh";
    QTest::newRow("Esc in the password box") << "esc-edit2";
    QTest::newRow("exit button") << "btno";
    QTest::newRow("close box") << "close";
}

void TestLogin::leavingBeforeSignOnEndsApplication()
{
    QFETCH(QString, how);
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    if (how == "esc-yh") {
        QTest::keyClick(f.yh, Qt::Key_Escape);
    } else if (how == "esc-edit2") {
        QTest::keyClick(f.yh, Qt::Key_Tab);
        QTest::keyClick(f.Edit2, Qt::Key_Escape);
    } else if (how == "btno") {
        QTest::mouseClick(f.btno, Qt::LeftButton);
    } else {
        QVERIFY(f.dialog->close());
    }
    QVERIFY(!f.dialog->isVisible());
    QCOMPARE(f.dialog->result(), int(QDialog::Rejected));
    QVERIFY(f.platform.endRequested());
    QCOMPARE(f.platform.log().filter(QStringLiteral("end")).size(), 1);
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(f.loginRecords().isEmpty());
}

void TestLogin::signOnFailureKeepsDialogOpen_data()
{
    QTest::addColumn<bool>("dropOper");
    QTest::addColumn<QVariant>("userid");
    QTest::addColumn<bool>("errorReport");
    QTest::newRow("no login-record table") << true << QVariant(5.0) << true;
    // Its text can never equal an empty identifier, so the check already fails.
    QTest::newRow("operator without identifier") << false << QVariant() << false;
}

void TestLogin::signOnFailureKeepsDialogOpen()
{
    QFETCH(bool, dropOper);
    QFETCH(QVariant, userid);
    QFETCH(bool, errorReport);
    SignOnFixture f({{"tester", userid, "1234", rightsWord({})}}, {.openToper = !dropOper, .dropOperTable = dropOper});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClick(f.yh, Qt::Key_Down);
    QCOMPARE(f.currentUser(), QStringLiteral("tester"));
    if (userid.isNull())
        QTest::keyClicks(f.yh, "x"); // an operator text at all
    QTest::mouseClick(f.btok, Qt::LeftButton);

    QVERIFY(f.dialog->isVisible());
    QVERIFY(!f.dialog->loggedIn());
    QVERIFY(!f.platform.endRequested());
    QCOMPARE(f.dialog->attemptCount(), 1);
    QCOMPARE(f.platform.boxes().size(), 1);
    const MessageBoxRequest& box = f.platform.boxes().constFirst();
    if (errorReport) {
        QCOMPARE(box.icon, MsgIcon::Error);
        QVERIFY2(box.text.contains(QStringLiteral("oper")), qPrintable(box.text));
    } else {
        QCOMPARE(box.text, WrongPassword);
    }
    // applyRights did not run.
    QVERIFY(f.mainWindow->command(QStringLiteral("ls1"))->isEnabled());
    QCOMPARE(f.mainWindow->panelText(1), QString());
}

void TestLogin::modalShowingEndsWithTheDialog_data()
{
    QTest::addColumn<bool>("signOn");
    QTest::addColumn<int>("result");
    QTest::newRow("signed on") << true << int(QDialog::Accepted);
    QTest::newRow("Esc") << false << int(QDialog::Rejected);
}

// Shown modally as the start-up shows it, the dialog's own loop ends with it.
void TestLogin::modalShowingEndsWithTheDialog()
{
    QFETCH(bool, signOn);
    QFETCH(int, result);
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    f.platform.onModal([](QDialog& dialog) { return execWithin(dialog); });

    bool acted = false;
    auto act = [&] {
        QTRY_COMPARE(QApplication::activeModalWidget(), f.dialog.get());
        QTRY_COMPARE(QApplication::focusWidget(), f.yh);
        acted = true;
        if (signOn)
            f.typeAndSignOn("12", "5678");
        else
            QTest::keyClick(f.yh, Qt::Key_Escape);
    };
    QTimer::singleShot(0, [&] {
        act();
        if (f.dialog->isVisible()) // a failed check must not leave the loop running
            f.dialog->done(QDialog::Rejected);
    });
    QCOMPARE(f.platform.showModal(*f.dialog), result);
    QVERIFY(acted);
    QCOMPARE(f.dialog->loggedIn(), signOn);
    QCOMPARE(f.platform.endRequested(), !signOn);
}

void TestLogin::commandStateAfterSignOn_data()
{
    QTest::addColumn<qint64>("able");
    QTest::addColumn<QList<int>>("granted");

    const QList<int> all{0, 1, 2, 3, 4, 5, 6};
    QTest::newRow("no group") << rightsWord({}) << QList<int>{};
    QTest::newRow("all groups") << rightsWord({0, 1, 2, 3, 4, 5, 6}) << all;
    for (int g = 0; g <= 6; ++g)
        QTest::addRow("group %d", g) << rightsWord({g}) << QList<int>{g};
    // Bits 0-9 and 17 upwards take no part.
    QTest::newRow("groups 1, 4 with low bits changed") << (rightsWord({1, 4}) ^ 0x3FF) << QList<int>{1, 4};
    QTest::newRow("groups 1, 4 with high bits changed")
        << (rightsWord({1, 4}) ^ (qint64(1) << 17) ^ (qint64(1) << 40)) << QList<int>{1, 4};
    QTest::newRow("no group with high bits changed") << (rightsWord({}) ^ (qint64(0x7F) << 20)) << QList<int>{};
}

void TestLogin::commandStateAfterSignOn()
{
    QFETCH(qint64, able);
    QFETCH(QList<int>, granted);
    QVERIFY(able > 1'000'000'000);

    SignOnFixture f({{"tester", 5.0, "1234", able}});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClicks(f.yh, "5");
    QTest::keyClick(f.yh, Qt::Key_P, Qt::AltModifier);
    QTRY_VERIFY(f.dialog->loggedIn());

    for (auto it = commandGroups().cbegin(); it != commandGroups().cend(); ++it) {
        const bool enabled = it.key() == -1 || granted.contains(it.key());
        for (const QString& name : it.value()) {
            QAction* command = f.mainWindow->command(name);
            QVERIFY2(command, qPrintable(name));
            // Qt keeps a hidden action disabled; support is never visible.
            if (name != QLatin1String("support"))
                QVERIFY2(command->isEnabled() == enabled, qPrintable(name));
        }
    }
    for (const QString& name : Separators) {
        QAction* separator = f.mainWindow->command(name);
        QVERIFY2(separator && !separator->isEnabled(), qPrintable(name));
    }
    QVERIFY(!f.mainWindow->command(QStringLiteral("support"))->isVisible());
    const QList<QAction*> entries = f.mainWindow->topLevelEntries();
    QCOMPARE(entries.size(), 9);
    for (QAction* entry : entries)
        QVERIFY2(entry->isEnabled(), qPrintable(entry->objectName()));
}

void TestLogin::secondSignOnRecomputesFromScratch()
{
    SignOnFixture f(numberOperators());
    QVERIFY(f.ok());
    QVERIFY(f.show());
    f.typeAndSignOn("1", "1234");
    QVERIFY(f.dialog->loggedIn());
    QVERIFY(f.mainWindow->command(QStringLiteral("user1"))->isEnabled());
    const qint64 firstRecord = f.mainWindow->session().loginRecordId;

    // Shown again, the dialog starts afresh.
    QVERIFY(f.show());
    QVERIFY(!f.dialog->loggedIn());
    QCOMPARE(f.dialog->attemptCount(), 0);
    QCOMPARE(f.yh->currentText(), QString());
    f.typeAndSignOn("2", "9999");
    QVERIFY(f.dialog->loggedIn());

    for (auto it = commandGroups().cbegin(); it != commandGroups().cend(); ++it)
        for (const QString& name : it.value())
            QVERIFY2(f.mainWindow->command(name)->isEnabled() == (it.key() == -1), qPrintable(name));

    const QList<LoginRecord> records = f.loginRecords();
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0).userid, QStringLiteral("1"));
    QCOMPARE(records.at(1).userid, QStringLiteral("1"));
    QCOMPARE(records.at(0).operid, firstRecord);
    QCOMPARE(f.mainWindow->session().loginRecordId, records.at(1).operid);
    QCOMPARE(f.mainWindow->session().operatorId, QStringLiteral("2"));
    QCOMPARE(f.mainWindow->panelText(1), QStringLiteral("操作员:2"));
}

void TestLogin::toolButtonOfDisabledCommandDoesNothing_data()
{
    QTest::addColumn<QList<int>>("granted");
    QTest::addColumn<int>("triggered");
    QTest::newRow("without group 5") << QList<int>{0, 1, 2, 3, 4, 6} << 0;
    QTest::newRow("with group 5") << QList<int>{5} << 1;
}

void TestLogin::toolButtonOfDisabledCommandDoesNothing()
{
    QFETCH(QList<int>, granted);
    QFETCH(int, triggered);
    const qint64 able = data::rightsWordFor(std::vector<int>(granted.cbegin(), granted.cend()));
    SignOnFixture f({{"tester", 5.0, "1234", able}});
    QVERIFY(f.ok());
    QVERIFY(f.show());
    QTest::keyClicks(f.yh, "5");
    QTest::mouseClick(f.btok, Qt::LeftButton);
    QVERIFY(f.dialog->loggedIn());

    f.mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.mainWindow.get()));
    auto* button = f.mainWindow->findChild<QToolButton*>(QStringLiteral("ToolButton15"));
    QVERIFY(button);
    QSignalSpy spy(f.mainWindow->command(QStringLiteral("user1")), &QAction::triggered);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(spy.size(), triggered);
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
