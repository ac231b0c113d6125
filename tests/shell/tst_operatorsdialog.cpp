// 用户管理 and 更换密码 on a real database (the file, and the server as test_operatorsdialog_server): what the list
// shows, each write and its effect on the next sign-on, and every refusal with its message and nothing written.
#include "data/module/DMod.h"
#include "data/module/OperatorPassword.h"
#include "data/module/Operators.h"
#include "data/module/Rights.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "shell/ChangePasswordDialog.h"
#include "shell/OperatorTexts.h"
#include "shell/OperatorsDialog.h"
#include "shell/ShellCommands.h"
#include "tests/support/SignOnFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include <functional>
#include <memory>

using namespace velmora;
using namespace velmora::test;

namespace {

// admin (1, every group), clerk (2, 销售管理 and 库存管理), boss (3, 用户管理 only).
QList<OperatorRow> shopOperators()
{
    return {
        {"admin", 1.0, "1234", rightsWord({0, 1, 2, 3, 4, 5, 6})},
        {"clerk", 2.0, "5678", rightsWord({0, 1})},
        {"boss", 3.0, "9999", rightsWord({5})},
    };
}

// Everything the operator writes could change, read outside the program: OperatorTable's rows and our table of
// disabled operators' groups when there is one.
QString storedOperators(TestDatabase& db)
{
    QStringList rows;
    for (const auto& row : db.rows("SELECT userid, username, passwords, able FROM \"OperatorTable\" ORDER BY userid"))
        rows << QString::fromStdString(row.at(0) + "|" + row.at(1) + "|" + row.at(2) + "|" + row.at(3));
    try {
        for (const auto& row : db.rows("SELECT * FROM velmora_operator_state"))
            for (const std::string& value : row)
                rows << QString::fromStdString(value);
    } catch (const std::exception&) {
        // not made yet
    }
    return rows.join(u'\n');
}

// Whether the operator signs on with the password through the login dialog, as at the start, on a connection
// of its own.
bool signsOn(const QString& userid, const QString& password, TestDatabase& db)
{
    SignOnOptions options;
    options.existing = &db;
    SignOnFixture f({}, options);
    if (!f.ok() || !f.show())
        return false;
    f.typeAndSignOn(userid, password);
    const bool signedOn = f.dialog->loggedIn();
    if (!signedOn && f.dialog->isVisible())
        f.dialog->done(QDialog::Rejected);
    return signedOn;
}

// A scripted answer to the operator form: fills it and confirms.
struct FormInput
{
    QString userid, username, password, passwordAgain;
    QList<int> groups;
};

int fillForm(QDialog& dialog, const FormInput& input)
{
    auto* form = qobject_cast<OperatorForm*>(&dialog);
    if (form == nullptr)
        return QDialog::Rejected;
    form->show();
    if (form->useridField)
        QTest::keyClicks(form->useridField, input.userid);
    if (form->usernameField)
        QTest::keyClicks(form->usernameField, input.username);
    if (form->password) {
        QTest::keyClicks(form->password, input.password);
        QTest::keyClicks(form->passwordAgain, input.passwordAgain);
    }
    for (int group = 0; group < 7; ++group) {
        if (QCheckBox* box = form->groups[std::size_t(group)])
            box->setChecked(input.groups.contains(group));
    }
    QTest::mouseClick(form->btok, Qt::LeftButton);
    if (form->isVisible()) // refused: the operator gives up
        QTest::mouseClick(form->btcancel, Qt::LeftButton);
    return form->result();
}

struct Shop
{
    Shop() : f(shopOperators()) {}
    bool ok() const { return f.ok(); }
    data::Backend& db() { return f.dmod->ADOCON().backend(); }
    std::unique_ptr<OperatorsDialog> open(const QString& acting = QStringLiteral("1"))
    {
        auto dialog = std::make_unique<OperatorsDialog>(f.platform, db(), acting);
        dialog->reload();
        return dialog;
    }
    SignOnFixture f;
};

// The listed row of the operator with this number (rows follow OperatorTable's order, which a server changes
// with each update).
QString rowText(const OperatorsDialog& dialog, const char* userid)
{
    const int row = dialog.model().rowOf(userid);
    QStringList cells;
    for (int column = 0; column < 3; ++column)
        cells << dialog.model().data(dialog.model().index(row, column), Qt::DisplayRole).toString();
    return cells.join(u'|');
}

} // namespace

class TestOperators : public QObject
{
    Q_OBJECT

private slots:
    void listShowsNumberNameAndRights();
    void listLeavesHashesUnverified();
    void addOperatorWithTwoGroupsSignsOn();
    void weaknessTexts_data();
    void weaknessTexts();
    void addRefusals_data();
    void addRefusals();
    void changeGroups();
    void setPassword();
    void disableAndEnable();
    void lockOutGuards_data();
    void lockOutGuards();
    void changeOwnPassword_data();
    void changeOwnPassword();
    void commandsOpenTheDialogsOverTheMainWindow();
};

void TestOperators::listShowsNumberNameAndRights()
{
    Shop shop;
    QVERIFY(shop.ok());
    shop.f.database().addOperator("old", std::int64_t{4}, std::string("4444"), std::int64_t{1000});
    auto dialog = shop.open();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("用户管理"));
    QCOMPARE(dialog->model().rowCount(), 4);
    QCOMPARE(dialog->model().headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("权限"));
    QCOMPARE(rowText(*dialog, "1"),
             QStringLiteral("1|admin|销售管理、库存管理、数据统计、药品管理、其它信息、用户管理、数据备份"));
    QCOMPARE(rowText(*dialog, "2"), QStringLiteral("2|clerk|销售管理、库存管理"));
    QCOMPARE(rowText(*dialog, "3"), QStringLiteral("3|boss|用户管理"));
    QCOMPARE(rowText(*dialog, "4"), QStringLiteral("4|old|权限数据被破坏"));
    // In OperatorTable's order, as the login lists them.
    for (int row = 0; row < 4; ++row)
        QCOMPARE(dialog->model().rowOf(std::to_string(row + 1)), row);
    QCOMPARE(dialog->chosen()->userid, std::string("1"));
}

// 用户管理 shows no password kinds, so it lists without verifying each stored hash (two Argon2id runs each,
// seconds for a few operators); the tool's judging listing still tells a hash of the pre-filled password.
void TestOperators::listLeavesHashesUnverified()
{
    Shop shop;
    QVERIFY(shop.ok());
    shop.f.database().addOperator("weak", std::int64_t{5}, data::hashOperatorPassword("1234"),
                                  std::int64_t{rightsWord({0})});
    const auto kindOf = [&](bool judge) {
        for (const data::OperatorRow& row : data::listOperators(shop.db(), judge))
            if (row.userid == "5")
                return row.password;
        return data::StoredPassword::Plain;
    };
    QCOMPARE(kindOf(true), data::StoredPassword::Prefill);
    QCOMPARE(kindOf(false), data::StoredPassword::Hash);
    auto dialog = shop.open();
    QCOMPARE(rowText(*dialog, "5"), QStringLiteral("5|weak|销售管理"));
}

// 新增 with two groups: listed, and it signs on through the login with exactly those groups.
void TestOperators::addOperatorWithTwoGroupsSignsOn()
{
    Shop shop;
    QVERIFY(shop.ok());
    auto dialog = shop.open();
    shop.f.platform.onModal([](QDialog& d) { return fillForm(d, {"7", "wang", "night77", "night77", {0, 6}}); });
    QTest::mouseClick(dialog->btadd, Qt::LeftButton);

    QCOMPARE(dialog->model().rowCount(), 4);
    QCOMPARE(dialog->chosen()->userid, std::string("7"));
    QCOMPARE(rowText(*dialog, "7"), QStringLiteral("7|wang|销售管理、数据备份"));
    QVERIFY(shop.f.platform.boxes().isEmpty());
    // Stored as the hash add-operator writes, with the rights word the login decodes.
    const auto stored = shop.f.database().rows("SELECT passwords, able FROM \"OperatorTable\" WHERE username = 'wang'");
    QCOMPARE(stored.size(), std::size_t(1));
    QVERIFY(QString::fromStdString(stored[0][0]).startsWith(QStringLiteral("$argon2id$")));
    QCOMPARE(QString::fromStdString(stored[0][1]).toLongLong(), rightsWord({0, 6}));
    QVERIFY(signsOn(QStringLiteral("7"), QStringLiteral("night77"), shop.f.database()));
}

void TestOperators::weaknessTexts_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("said"); // empty: not weak
    QTest::newRow("empty") << "  "
                           << "密码不能为空!";
    QTest::newRow("pre-filled") << "1234"
                                << "密码不能是登录窗口预先填好的密码 1234!";
    QTest::newRow("short") << "abc"
                           << "密码至少要有 4 个字符!";
    QTest::newRow("strong enough") << "abcd" << QString();
}

// What 用户管理 says of each weak password (更换密码 puts "新" before it), as the data layer judges it.
void TestOperators::weaknessTexts()
{
    QFETCH(QString, password);
    QFETCH(QString, said);
    QCOMPARE(weaknessMessage(data::passwordWeakness(password.toStdString())), said);
}

void TestOperators::addRefusals_data()
{
    QTest::addColumn<QString>("userid");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("again");
    QTest::addColumn<QString>("said");
    QTest::newRow("number taken") << "2"
                                  << "new"
                                  << "pass1"
                                  << "pass1"
                                  << "编号 2 已经有人用了,请换一个。";
    QTest::newRow("name taken") << "9"
                                << "clerk"
                                << "pass1"
                                << "pass1"
                                << "用户名“clerk”已经有人用了,请换一个。";
    QTest::newRow("number not a number") << "x9"
                                         << "new"
                                         << "pass1"
                                         << "pass1"
                                         << "编号要是一个数字,就是登录时输入的编号。";
    QTest::newRow("no name") << "9"
                             << " "
                             << "pass1"
                             << "pass1"
                             << "用户名不能为空!";
    QTest::newRow("passwords differ") << "9"
                                      << "new"
                                      << "pass1"
                                      << "pass2"
                                      << "两次输入的密码不一样,请重新录入!";
    // Which passwords are weak is the data layer's table (Operators tests); its texts are weaknessTexts'. One weak
    // password shows the form asks.
    QTest::newRow("pre-filled password") << "9"
                                         << "new"
                                         << "1234"
                                         << "1234"
                                         << "密码不能是登录窗口预先填好的密码 1234!";
}

void TestOperators::addRefusals()
{
    QFETCH(QString, userid);
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, again);
    QFETCH(QString, said);
    Shop shop;
    QVERIFY(shop.ok());
    const QString before = storedOperators(shop.f.database());
    auto dialog = shop.open();
    shop.f.platform.onModal([&](QDialog& d) { return fillForm(d, {userid, username, password, again, {0}}); });
    QTest::mouseClick(dialog->btadd, Qt::LeftButton);
    QCOMPARE(shop.f.platform.boxTexts(), QStringList{said});
    QCOMPARE(storedOperators(shop.f.database()), before);
    QCOMPARE(dialog->model().rowCount(), 3);
}

void TestOperators::changeGroups()
{
    Shop shop;
    QVERIFY(shop.ok());
    auto dialog = shop.open();
    dialog->choose(QStringLiteral("2"));
    QList<bool> shownChecked;
    shop.f.platform.onModal([&](QDialog& d) {
        auto* form = qobject_cast<OperatorForm*>(&d);
        for (QCheckBox* box : form->groups)
            shownChecked << box->isChecked();
        return fillForm(d, {{}, {}, {}, {}, {2, 3}});
    });
    QTest::mouseClick(dialog->btgroups, Qt::LeftButton);
    QCOMPARE(shownChecked, (QList<bool>{true, true, false, false, false, false, false}));
    QCOMPARE(rowText(*dialog, "2"), QStringLiteral("2|clerk|数据统计、药品管理"));
    QCOMPARE(shop.f.database().number("SELECT able FROM \"OperatorTable\" WHERE userid = 2"), rightsWord({2, 3}));
    QVERIFY(signsOn(QStringLiteral("2"), QStringLiteral("5678"), shop.f.database()));
}

void TestOperators::setPassword()
{
    Shop shop;
    QVERIFY(shop.ok());
    auto dialog = shop.open();
    dialog->choose(QStringLiteral("2"));
    shop.f.platform.onModal([](QDialog& d) { return fillForm(d, {{}, {}, "fresh42", "fresh42", {}}); });
    QTest::mouseClick(dialog->btpassword, Qt::LeftButton);
    QCOMPARE(shop.f.platform.boxTexts(), QStringList{QStringLiteral("操作员 2 的新密码已经保存。")});
    QVERIFY(!signsOn(QStringLiteral("2"), QStringLiteral("5678"), shop.f.database()));
    QVERIFY(signsOn(QStringLiteral("2"), QStringLiteral("fresh42"), shop.f.database()));
}

// 停用 after its question: "停用" in the list, refused at sign-on; 启用 gives the groups back.
void TestOperators::disableAndEnable()
{
    Shop shop;
    QVERIFY(shop.ok());
    auto dialog = shop.open();
    dialog->choose(QStringLiteral("2"));
    shop.f.platform.queueAnswers({MsgAnswer::No});
    QTest::mouseClick(dialog->btdisable, Qt::LeftButton);
    QCOMPARE(rowText(*dialog, "2"), QStringLiteral("2|clerk|销售管理、库存管理"));

    shop.f.platform.queueAnswers({MsgAnswer::Yes});
    QTest::mouseClick(dialog->btdisable, Qt::LeftButton);
    QCOMPARE(shop.f.platform.boxes().size(), 2);
    QCOMPARE(shop.f.platform.boxes().at(1).buttons, MsgButtons::YesNo);
    QCOMPARE(rowText(*dialog, "2"), QStringLiteral("2|clerk|停用"));
    QVERIFY(!dialog->btdisable->isEnabled());
    QVERIFY(dialog->btenable->isEnabled());
    QVERIFY(!signsOn(QStringLiteral("2"), QStringLiteral("5678"), shop.f.database()));

    QTest::mouseClick(dialog->btenable, Qt::LeftButton);
    QCOMPARE(rowText(*dialog, "2"), QStringLiteral("2|clerk|销售管理、库存管理"));
    QCOMPARE(shop.f.database().number("SELECT able FROM \"OperatorTable\" WHERE userid = 2"), rightsWord({0, 1}));
    QVERIFY(signsOn(QStringLiteral("2"), QStringLiteral("5678"), shop.f.database()));
}

void TestOperators::lockOutGuards_data()
{
    QTest::addColumn<QString>("acting");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("action"); // "groups" (all but 5) or "disable"
    QTest::addColumn<bool>("bossDisabled");
    QTest::addColumn<QString>("said");
    const QString self =
        QStringLiteral("不能取消自己的“用户管理”权限,也不能停用自己。请让另一位有“用户管理”权限的操作员来做。");
    const QString last =
        QStringLiteral("不能这样做:这样就没有一位启用的操作员有“用户管理”权限了,以后谁也不能再管理用户。");
    QTest::newRow("taking 用户管理 from oneself") << "1"
                                                  << "1"
                                                  << "groups" << false << self;
    QTest::newRow("disabling oneself") << "1"
                                       << "1"
                                       << "disable" << false << self;
    // boss disabled first: admin is the last enabled operator holding group 5; clerk acts (signed on before its
    // rights changed, or at another till).
    QTest::newRow("taking 用户管理 from the last one") << "2"
                                                       << "1"
                                                       << "groups" << true << last;
    QTest::newRow("disabling the last one") << "2"
                                            << "1"
                                            << "disable" << true << last;
}

// What would lock the shop out is refused with its message, and nothing is written.
void TestOperators::lockOutGuards()
{
    QFETCH(QString, acting);
    QFETCH(QString, target);
    QFETCH(QString, action);
    QFETCH(bool, bossDisabled);
    QFETCH(QString, said);
    Shop shop;
    QVERIFY(shop.ok());
    if (bossDisabled)
        data::setOperatorEnabled(shop.db(), "3", false, "1");
    const QString before = storedOperators(shop.f.database());
    auto dialog = shop.open(acting);
    dialog->choose(target);
    shop.f.platform.queueAnswers({MsgAnswer::Yes});
    shop.f.platform.onModal([](QDialog& d) { return fillForm(d, {{}, {}, {}, {}, {0, 1, 2, 3, 4, 6}}); });
    QTest::mouseClick(action == QLatin1String("groups") ? dialog->btgroups : dialog->btdisable, Qt::LeftButton);
    QVERIFY2(shop.f.platform.boxTexts().contains(said), qPrintable(shop.f.platform.boxTexts().join(u'\n')));
    QCOMPARE(storedOperators(shop.f.database()), before);
    QVERIFY(signsOn(QStringLiteral("1"), QStringLiteral("1234"), shop.f.database()));
}

void TestOperators::changeOwnPassword_data()
{
    QTest::addColumn<QString>("old");
    QTest::addColumn<QString>("fresh");
    QTest::addColumn<QString>("again");
    QTest::addColumn<QString>("said"); // empty: stored
    QTest::newRow("changed") << "5678"
                             << "night99"
                             << "night99"
                             << "";
    QTest::newRow("blanks around the old one") << " 5678 "
                                               << "night99"
                                               << "night99"
                                               << "";
    QTest::newRow("old one wrong") << "5679"
                                   << "night99"
                                   << "night99"
                                   << "原密码不对,请重新录入!";
    QTest::newRow("new ones differ") << "5678"
                                     << "night99"
                                     << "night98"
                                     << "两次输入的新密码不一样,请重新录入!";
    QTest::newRow("new one the pre-fill") << "5678"
                                          << "1234"
                                          << "1234"
                                          << "新密码不能是登录窗口预先填好的密码 1234!";
}

// 更换密码: the old password as the login checks it (clerk's is stored plain), the new one stored as a hash; the
// next sign-on takes only the new one. A refusal writes nothing.
void TestOperators::changeOwnPassword()
{
    QFETCH(QString, old);
    QFETCH(QString, fresh);
    QFETCH(QString, again);
    QFETCH(QString, said);
    Shop shop;
    QVERIFY(shop.ok());
    const QString before = storedOperators(shop.f.database());
    ChangePasswordDialog dialog(shop.f.platform, shop.db(), QStringLiteral("2"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("更换密码"));
    // Typed as an operator types: Enter moves on, and confirms in the last field.
    QTest::keyClicks(dialog.oldPassword, old);
    QTest::keyClick(dialog.oldPassword, Qt::Key_Return);
    QTest::keyClicks(QApplication::focusWidget(), fresh);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dialog.newPasswordAgain));
    QTest::keyClicks(dialog.newPasswordAgain, again);
    QTest::keyClick(dialog.newPasswordAgain, Qt::Key_Return);

    if (!said.isEmpty()) {
        QCOMPARE(shop.f.platform.boxTexts(), QStringList{said});
        QVERIFY(dialog.isVisible());
        QCOMPARE(storedOperators(shop.f.database()), before);
        QVERIFY(signsOn(QStringLiteral("2"), QStringLiteral("5678"), shop.f.database()));
        return;
    }
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(shop.f.platform.boxTexts(), QStringList{QStringLiteral("密码已经更换。以后登录请用新密码。")});
    QVERIFY(QString::fromStdString(
                shop.f.database().rows("SELECT passwords FROM \"OperatorTable\" WHERE userid = 2").at(0).at(0))
                .startsWith(QStringLiteral("$argon2id$")));
    QVERIFY(!signsOn(QStringLiteral("2"), QStringLiteral("5678"), shop.f.database()));
    QVERIFY(signsOn(QStringLiteral("2"), fresh, shop.f.database()));
}

// 用户管理 and 更换密码 from the main window: dialogs of it, for the signed-on operator, only while enabled.
void TestOperators::commandsOpenTheDialogsOverTheMainWindow()
{
    Shop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    QVERIFY(f.show());
    f.typeAndSignOn("2", "5678"); // clerk: no 用户管理
    QVERIFY(f.dialog->loggedIn());
    ShellCommands commands(f.platform, *f.mainWindow, *f.dmod);
    commands.install();
    QStringList shown;
    QString operatorShown;
    f.platform.onModal([&](QDialog& d) {
        shown << d.objectName();
        if (d.parentWidget() != f.mainWindow.get())
            shown << QStringLiteral("not over the main window");
        if (auto* users = qobject_cast<OperatorsDialog*>(&d))
            operatorShown = QString::number(users->model().rowCount());
        return int(QDialog::Rejected);
    });
    f.mainWindow->user1Click();
    f.mainWindow->mmClick();
    QCOMPARE(shown, QStringList{QStringLiteral("Fmm")});

    f.mainWindow->command(QStringLiteral("user1"))->setEnabled(true);
    f.mainWindow->user1Click();
    QCOMPARE(shown, (QStringList{QStringLiteral("Fmm"), QStringLiteral("Fuser")}));
    QCOMPARE(operatorShown, QStringLiteral("3"));
}

QTEST_MAIN(TestOperators)
#include "tst_operatorsdialog.moc"
