// The main window's own commands on a real database (the file, and the server as test_shellcommands_server):
// 更换用户, 备份数据, 关于程序 and 系统帮助, each through the platform's boxes and modal showing.
#include "data/engines/PgBackend.h"
#include "data/module/DMod.h"
#include "data/module/Rights.h"
#include "login/LookupCombo.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "settings/ConnectionSettings.h"
#include "settings/ProfileFile.h"
#include "shell/AboutDialog.h"
#include "shell/BackupDialog.h"
#include "shell/HelpWindow.h"
#include "shell/ShellCommands.h"
#include "splash/Tfac.h"
#include "tests/support/HeldLock.h"
#include "tests/support/SignOnFixture.h"
#include "tests/support/TempFolder.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <memory>

using namespace velmora;
using namespace velmora::test;

namespace {

namespace fs = std::filesystem;

// admin (1) with every group, clerk (2) with 销售管理 and 库存管理.
QList<OperatorRow> shopOperators()
{
    return {
        {"admin", 1.0, "1234", rightsWord({0, 1, 2, 3, 4, 5, 6})},
        {"clerk", 2.0, "5678", rightsWord({0, 1})},
    };
}

// Which commands are enabled, by name.
QMap<QString, bool> commandState(const Tfmain& window)
{
    QMap<QString, bool> state;
    for (const MenuItemDefinition& item : Tfmain::menuCatalogue())
        state.insert(QLatin1String(item.name), window.command(QLatin1String(item.name))->isEnabled());
    return state;
}

bool sameSession(const Session& a, const Session& b)
{
    return a.operatorId == b.operatorId && a.rightsWord == b.rightsWord && a.sessionNo == b.sessionNo &&
           a.loginRecordId == b.loginRecordId;
}

// Backup copies in a folder, by name.
QStringList copiesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// The operator picks `folder` in 备份数据's folder dialog and confirms it.
int chooseFolder(QFileDialog& chooser, const QString& folder)
{
    chooser.selectFile(folder);
    static_cast<QDialog&>(chooser).accept();
    return chooser.result();
}

// The main window with admin signed on, and the shell's commands installed on it.
struct SignedOnShop
{
    explicit SignedOnShop(SignOnOptions options = {}) : f(shopOperators(), options)
    {
        if (!f.ok() || !f.show())
            return;
        f.typeAndSignOn("1", "1234");
        if (!f.dialog->loggedIn())
            return;
        commands = std::make_unique<ShellCommands>(f.platform, *f.mainWindow, *f.dmod);
        commands->install();
    }
    bool ok() const { return commands != nullptr; }

    SignOnFixture f;
    std::unique_ptr<ShellCommands> commands;
};

// How 更换用户's dialog is left.
enum class Leave { CancelButton, Escape, CloseBox, ThreeFailures, SignOnClerk };

} // namespace

Q_DECLARE_METATYPE(Leave)

class TestShellCommands : public QObject
{
    Q_OBJECT

private slots:
    void relogin_data();
    void relogin();
    void reloginListsOperatorsAddedSince();
    void reloginFailingPartWayKeepsThePreviousOperator();

    void backupWritesACheckedCopyAndRemembersTheFolder();
    void backupCancelledLeavesNothing();
    void backupFailureLeavesNothing();
    void backupOfAServerDatabaseExplains();

    void about();
    void helpShowsTheManual();
    void helpReadsTheInstalledManual();
};

void TestShellCommands::relogin_data()
{
    QTest::addColumn<Leave>("leave");
    QTest::newRow("退出 button") << Leave::CancelButton;
    QTest::newRow("Escape") << Leave::Escape;
    QTest::newRow("close box") << Leave::CloseBox;
    QTest::newRow("three failed attempts") << Leave::ThreeFailures;
    QTest::newRow("clerk signs on") << Leave::SignOnClerk;
}

// 更换用户 is the login dialog again, over the main window, with three fresh attempts. A sign-on goes the
// start-up's way; every other way out keeps admin signed on as before and never ends the program.
// The record of attempts, one "typed|outcome" per attempt, in order.
static QStringList attemptOutcomes(SignOnFixture& f)
{
    QStringList out;
    for (const auto& row :
         f.database().rows("SELECT typed_operator, outcome FROM velmora_signon_attempts ORDER BY attempt"))
        out << QString::fromStdString(row.at(0) + "|" + row.at(1));
    return out;
}

void TestShellCommands::relogin()
{
    QFETCH(Leave, leave);
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    const Session before = f.mainWindow->session();
    const QMap<QString, bool> commandsBefore = commandState(*f.mainWindow);
    const int recordsBefore = f.loginRecords().size();
    const int boxesBefore = f.platform.boxes().size();
    const QStringList attemptsBefore = attemptOutcomes(f);

    QWidget* parent = nullptr;
    int attemptsAtShow = -1;
    f.platform.onModal([&](QDialog& dialog) {
        if (dialog.objectName() != QLatin1String("Flogin"))
            return int(QDialog::Rejected);
        auto& login = static_cast<TFlogin&>(dialog);
        parent = dialog.parentWidget();
        dialog.show();
        attemptsAtShow = login.attemptCount();
        auto* yh = dialog.findChild<LookupCombo*>(QStringLiteral("yh"));
        auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("Edit2"));
        switch (leave) {
        case Leave::CancelButton:
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btno")), Qt::LeftButton);
            break;
        case Leave::Escape:
            QTest::keyClick(yh, Qt::Key_Escape);
            break;
        case Leave::CloseBox:
            dialog.close();
            break;
        case Leave::ThreeFailures:
            QTest::keyClicks(yh, "2");
            QTest::keyClick(yh, Qt::Key_Return);
            for (int attempt = 0; attempt < 3 && dialog.isVisible(); ++attempt) {
                password->selectAll();
                QTest::keyClicks(password, "0000");
                QTest::keyClick(password, Qt::Key_Return);
            }
            break;
        case Leave::SignOnClerk:
            QTest::keyClicks(yh, "2");
            QTest::keyClick(yh, Qt::Key_Return);
            password->selectAll();
            QTest::keyClicks(password, "5678");
            QTest::keyClick(password, Qt::Key_Return);
            break;
        }
        return dialog.result();
    });
    f.mainWindow->command(QStringLiteral("relogin"))->trigger();

    QCOMPARE(parent, static_cast<QWidget*>(f.mainWindow.get()));
    QCOMPARE(attemptsAtShow, 0);
    QVERIFY(!f.platform.endRequested());
    QVERIFY(!f.platform.log().contains(QStringLiteral("end")));
    // The record of attempts sees a change of operator as it sees the start's sign-on.
    const QStringList expectedAttempts = leave == Leave::SignOnClerk ? QStringList{"2|signed on"}
                                         : leave == Leave::ThreeFailures
                                             ? QStringList{"2|wrong password", "2|wrong password", "2|wrong password"}
                                             : QStringList{};
    QCOMPARE(attemptOutcomes(f).mid(attemptsBefore.size()), expectedAttempts);
    if (leave == Leave::SignOnClerk) {
        const Session& now = f.mainWindow->session();
        QCOMPARE(now.operatorId, QStringLiteral("2"));
        QCOMPARE(now.rightsWord, rightsWord({0, 1}));
        QCOMPARE(f.mainWindow->panelText(1), QStringLiteral("操作员:2"));
        const QList<LoginRecord> records = f.loginRecords();
        QCOMPARE(records.size(), recordsBefore + 1);
        QCOMPARE(now.loginRecordId, records.last().operid);
        // Recomputed from scratch: admin's other groups are gone.
        for (const MenuItemDefinition& item : Tfmain::menuCatalogue()) {
            if (item.hidden)
                continue;
            const bool expected =
                item.group == MenuItemDefinition::AlwaysAvailable || item.group == 0 || item.group == 1;
            QVERIFY2(f.mainWindow->command(QLatin1String(item.name))->isEnabled() == expected, item.name);
        }
        QCOMPARE(f.platform.boxes().size(), boxesBefore);
        return;
    }
    QVERIFY(sameSession(f.mainWindow->session(), before));
    QCOMPARE(f.mainWindow->panelText(1), QStringLiteral("操作员:1"));
    QCOMPARE(commandState(*f.mainWindow), commandsBefore);
    QCOMPARE(f.loginRecords().size(), recordsBefore);
    if (leave == Leave::ThreeFailures) {
        QCOMPARE(f.platform.boxTexts().mid(boxesBefore), (QStringList{WrongPassword, WrongPassword, NotAuthenticated}));
    } else {
        QCOMPARE(f.platform.boxes().size(), boxesBefore);
    }
}

// The list is read again for 更换用户: an operator added after the start signs on.
void TestShellCommands::reloginListsOperatorsAddedSince()
{
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    f.database().addOperator("night", std::int64_t{7}, std::string("7777"), std::int64_t{rightsWord({6})});
    scriptSignOn(f.platform, QStringLiteral("7"), QStringLiteral("7777"), nullptr);
    f.mainWindow->reloginClick();
    QCOMPARE(f.mainWindow->session().operatorId, QStringLiteral("7"));
    QCOMPARE(f.mainWindow->panelText(1), QStringLiteral("操作员:7"));
    QVERIFY(f.mainWindow->command(QStringLiteral("back1"))->isEnabled());
    QVERIFY(!f.mainWindow->command(QStringLiteral("user1"))->isEnabled());
}

// A sign-on whose login record cannot be written is reported and leaves the dialog open; leaving it then gives
// the Session back as it was, although the failed sign-on had begun to write it.
void TestShellCommands::reloginFailingPartWayKeepsThePreviousOperator()
{
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    const Session before = f.mainWindow->session();
    f.database().run("DROP TABLE oper");

    bool stayedOpen = false;
    f.platform.onModal([&](QDialog& dialog) {
        dialog.show();
        auto* yh = dialog.findChild<LookupCombo*>(QStringLiteral("yh"));
        auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("Edit2"));
        QTest::keyClicks(yh, "2");
        QTest::keyClick(yh, Qt::Key_Return);
        password->selectAll();
        QTest::keyClicks(password, "5678");
        QTest::keyClick(password, Qt::Key_Return);
        stayedOpen = dialog.isVisible();
        QTest::keyClick(password, Qt::Key_Escape);
        return dialog.result();
    });
    const int boxesBefore = f.platform.boxes().size();
    f.mainWindow->reloginClick();

    QVERIFY(stayedOpen);
    QCOMPARE(f.platform.boxes().size(), boxesBefore + 1); // the error report
    QVERIFY(!f.platform.endRequested());
    QVERIFY(sameSession(f.mainWindow->session(), before));
    QCOMPARE(f.mainWindow->panelText(1), QStringLiteral("操作员:1"));
    QVERIFY(f.mainWindow->command(QStringLiteral("user1"))->isEnabled());
}

void TestShellCommands::backupWritesACheckedCopyAndRemembersTheFolder()
{
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    if (f.database().isServer())
        QSKIP("a server's database is backed up by the server's own tool");
    TempFolder target;
    const QString folder = QString::fromStdString(target.folder()).chopped(1);

    QString startedIn;
    QWidget* progressParent = nullptr;
    f.platform.onModal([&](QDialog& dialog) {
        if (auto* chooser = qobject_cast<QFileDialog*>(&dialog)) {
            startedIn = chooser->directory().absolutePath();
            return chooseFolder(*chooser, folder);
        }
        progressParent = dialog.parentWidget();
        return execWithin(dialog);
    });
    f.mainWindow->command(QStringLiteral("back1"))->trigger();

    QCOMPARE(progressParent, static_cast<QWidget*>(f.mainWindow.get()));
    const QStringList copies = copiesIn(folder);
    QCOMPARE(copies.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^velmdb-\\d{8}-\\d{6}\\.mdb$")).match(copies.first()).hasMatch(),
             qPrintable(copies.first()));
    const std::string copy = (folder + u'/' + copies.first()).toStdString();
    QCOMPARE(rowsOfFile(copy, "PRAGMA integrity_check").at(0).at(0), std::string("ok"));
    QCOMPARE(rowsOfFile(copy, "SELECT count(*) FROM OperatorTable").at(0).at(0), std::string("2"));
    QCOMPARE(f.platform.boxes().size(), 1);
    QVERIFY2(
        f.platform.boxTexts().first().startsWith(QStringLiteral("数据已备份到：\n") + QString::fromStdString(copy)),
        qPrintable(f.platform.boxTexts().first()));
    QCOMPARE(f.platform.boxes().first().caption, QStringLiteral("提示"));

    // Remembered beside the connection settings, which stay as they were.
    const ProfileFile settings(settingsFilePath(QString::fromStdString(f.database().folder())));
    QCOMPARE(settings.readString(ShellCommands::backupFolderSection(), ShellCommands::backupFolderKey(), {}), folder);
    QVERIFY(startedIn != folder);
    f.mainWindow->back1Click();
    QCOMPARE(startedIn, folder);
    QCOMPARE(copiesIn(folder).size(), 2);
}

// 取消 while the copy waits for another user's lock: the copy stops, and nothing is left in the folder.
void TestShellCommands::backupCancelledLeavesNothing()
{
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    if (f.database().isServer())
        QSKIP("a server's database is backed up by the server's own tool");
    TempFolder target;
    const QString folder = QString::fromStdString(target.folder()).chopped(1);
    // Under the write-ahead log another's write never keeps the copy waiting: a file left in rollback-journal mode
    // (one the program could not switch) does.
    f.dmod->ADOCON().backend().execute("PRAGMA journal_mode = DELETE");
    HeldLock lock(f.database(), "BEGIN EXCLUSIVE", std::chrono::seconds(20));
    QVERIFY2(lock.error().empty(), lock.error().c_str());

    f.platform.onModal([&](QDialog& dialog) {
        if (auto* chooser = qobject_cast<QFileDialog*>(&dialog)) {
            return chooseFolder(*chooser, folder);
        }
        QTimer::singleShot(0, &dialog, [&] {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btcancel")), Qt::LeftButton);
            lock.release();
        });
        return execWithin(dialog);
    });
    f.mainWindow->back1Click();

    QCOMPARE(f.platform.boxTexts(), QStringList{QStringLiteral("备份已取消，没有留下副本。")});
    QCOMPARE(copiesIn(folder), QStringList{});
}

// The chosen folder is gone when the copy begins: the failure is told, with its cause, and nothing is left.
void TestShellCommands::backupFailureLeavesNothing()
{
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    if (f.database().isServer())
        QSKIP("a server's database is backed up by the server's own tool");
    TempFolder target;
    const QString folder = QString::fromStdString(target.folder()) + QStringLiteral("usb");
    QVERIFY(QDir().mkpath(folder));

    f.platform.onModal([&](QDialog& dialog) {
        if (auto* chooser = qobject_cast<QFileDialog*>(&dialog)) {
            const int result = chooseFolder(*chooser, folder);
            QDir(folder).removeRecursively(); // the stick pulled out
            return result;
        }
        return execWithin(dialog);
    });
    f.mainWindow->back1Click();

    QCOMPARE(f.platform.boxes().size(), 1);
    QCOMPARE(f.platform.boxes().first().icon, MsgIcon::Warning);
    QVERIFY2(f.platform.boxTexts().first().startsWith(QStringLiteral("备份失败，没有留下副本：\n")),
             qPrintable(f.platform.boxTexts().first()));
    QVERIFY2(f.platform.boxTexts().first().contains(folder), qPrintable(f.platform.boxTexts().first()));
    QCOMPARE(copiesIn(QString::fromStdString(target.folder())), QStringList{});
}

// On a server, 备份数据 says how the server's database is copied (the commands velmora-db backup names) and
// asks for no folder; the role's password appears nowhere.
void TestShellCommands::backupOfAServerDatabaseExplains()
{
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    if (!f.database().isServer())
        QSKIP("the file is copied");
    f.mainWindow->back1Click();
    QVERIFY(!f.platform.log().join(u'\n').contains(QStringLiteral("modal backupFolder")));
    QCOMPARE(f.platform.boxes().size(), 1);
    const QString text = f.platform.boxTexts().first();
    const std::string location = f.dmod->ADOCON().location();
    QVERIFY2(text.contains(QString::fromStdString(data::serverDumpCommand(location))), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("pg_restore")), qPrintable(text));
    QVERIFY2(text.contains(QString::fromStdString(f.database().source())), qPrintable(text));
    QVERIFY(!text.contains(QString::fromStdString(f.database().server()->password)));
}

void TestShellCommands::about()
{
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    const bool server = f.database().isServer();
    bool checked = false;
    f.platform.onModal([&](QDialog& dialog) {
        dialog.show();
        [&] {
            QCOMPARE(dialog.objectName(), QStringLiteral("Fabout"));
            QCOMPARE(dialog.windowTitle(), QStringLiteral("关于程序"));
            QCOMPARE(dialog.parentWidget(), static_cast<QWidget*>(f.mainWindow.get()));
            auto text = [&](const char* name) { return dialog.findChild<QLabel*>(QLatin1String(name))->text(); };
            QCOMPARE(text("title"), Tfac::productTitle());
            QCOMPARE(text("version"), Tfac::versionLine());
            QCOMPARE(text("copyright"), Tfac::copyrightLine());
            const QString database = text("database");
            if (server) {
                QCOMPARE(database, QString::fromStdString(f.database().source()));
                QVERIFY(!database.contains(QString::fromStdString(f.database().server()->password)));
            } else {
                QCOMPARE(QFileInfo(database).canonicalFilePath(),
                         QFileInfo(QString::fromStdString(f.database().path())).canonicalFilePath());
            }
            const QString libraries = text("libraries");
            QVERIFY2(libraries.startsWith(QStringLiteral("Qt %1, SQLite 3.").arg(QString::fromLatin1(qVersion()))),
                     qPrintable(libraries));
            QCOMPARE(libraries.contains(QStringLiteral("libpq ")), server);
            checked = true;
        }();
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btok")), Qt::LeftButton);
        return dialog.result();
    });
    f.mainWindow->command(QStringLiteral("about"))->trigger();
    QVERIFY(checked);
    QVERIFY(f.platform.log().contains(QStringLiteral("modal Fabout")));
}

// 系统帮助 opens the manual in a window of the program beside the main window; choosing it again brings the
// same window back rather than a second one.
void TestShellCommands::helpShowsTheManual()
{
    SignedOnShop shop;
    QVERIFY(shop.ok());
    SignOnFixture& f = shop.f;
    f.mainWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.mainWindow.get()));
    f.mainWindow->command(QStringLiteral("systemhelp"))->trigger();
    auto* help = f.mainWindow->findChild<HelpWindow*>(QStringLiteral("Fhelp"));
    QVERIFY(help != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QCOMPARE(help->windowTitle(), QStringLiteral("系统帮助"));
    QVERIFY(help->isWindow());
    QVERIFY(!help->isModal());
    const QString manual = help->browser->toPlainText();
    for (const char* topic : {"更换用户", "更换密码", "用户管理", "备份数据", "登录", "拼音"})
        QVERIFY2(manual.contains(QString::fromUtf8(topic)), topic);

    QTest::keyClick(help, Qt::Key_Escape);
    QTRY_VERIFY(!help->isVisible());
    f.mainWindow->systemhelpClick();
    QVERIFY(help->isVisible());
    QCOMPARE(f.mainWindow->findChildren<HelpWindow*>().size(), 1);
    QTest::mouseClick(help->btclose, Qt::LeftButton);
    QTRY_VERIFY(!help->isVisible());
}

// Installed, the program reads the manual the package put in PREFIX/share/velmora/help; built, its own copy.
void TestShellCommands::helpReadsTheInstalledManual()
{
    TempFolder prefix;
    const QString root = QString::fromStdString(prefix.folder());
    QVERIFY(QDir().mkpath(root + QStringLiteral("lib/velmora")));
    const QString programFolder = root + QStringLiteral("lib/velmora/");
    QCOMPARE(HelpWindow::manualPath(programFolder), QStringLiteral(":/help/index.html"));

    QVERIFY(QDir().mkpath(root + QStringLiteral("share/velmora/help")));
    QFile installed(root + QStringLiteral("share/velmora/help/index.html"));
    QVERIFY(installed.open(QIODevice::WriteOnly));
    installed.write("<html><body><p>安装的手册</p></body></html>");
    installed.close();
    QCOMPARE(HelpWindow::manualPath(programFolder), QFileInfo(installed).absoluteFilePath());
    HelpWindow window(programFolder);
    QCOMPARE(window.browser->toPlainText(), QStringLiteral("安装的手册"));
}

QTEST_MAIN(TestShellCommands)
#include "tst_shellcommands.moc"
