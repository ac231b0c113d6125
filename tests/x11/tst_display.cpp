// The real velmora binary on a real X server, as a person meets it: what is
// painted and when, the captions the server holds, what keys and clicks do.
// Every case runs on three desktops: no window manager (a kiosk till), openbox
// and xfwm4. Each case parks the pointer in a corner first, finds windows by
// their owner and type and the keyboard, and reads their captions after.

#include "data/module/Rights.h"
#include "data/module/SchemaVersion.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/QtPlatform.h"
#include "splash/Tfac.h"
#include "tests/support/PrivateServer.h"
#include "tests/support/TestDatabase.h"
#include "tests/x11/ProgramWindows.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

using namespace velmora;
using namespace velmora::xtest;

namespace {

const QString DialogType = QStringLiteral("_NET_WM_WINDOW_TYPE_DIALOG");
const QString NormalType = QStringLiteral("_NET_WM_WINDOW_TYPE_NORMAL");
const QString WelcomeLine = QStringLiteral("欢迎使用Korvex工作室出品软件，程序正在连接后台数据库，请稍候...");
const QString FailureLine = QStringLiteral("联接失败，请检验后台数据库状态！");

void expectCaption(const WindowInfo& window, const QString& caption)
{
    EXPECT_EQ(window.netName, caption) << "_NET_WM_NAME";
    EXPECT_EQ(window.wmName, caption) << "WM_NAME";
    EXPECT_EQ(window.wmClassName, ApplicationTitle) << "WM_CLASS";
}

// A dialog or box as a window manager must treat it: typed as a dialog, kept
// in front of its owner, asking for no minimise button.
void expectDialogOf(const WindowInfo& window, unsigned long owner)
{
    EXPECT_EQ(window.types.value(0), DialogType) << window.types.join(u' ').toStdString();
    if (owner != 0)
        EXPECT_EQ(window.transientFor, owner) << "WM_TRANSIENT_FOR";
    else
        EXPECT_NE(window.transientFor, 0ul) << "WM_TRANSIENT_FOR";
    EXPECT_FALSE(window.asksForMinimize()) << "_MOTIF_WM_HINTS flags " << window.motifFlags << " functions "
                                           << window.motifFunctions << " decorations " << window.motifDecorations;
}

// The program's own window classes drawn on the offscreen platform: the
// references the screen is compared with.
QApplication& offscreenApplication()
{
    static int argc = 1;
    static char name[] = "tst_display";
    static char* argv[] = {name, nullptr};
    static const auto app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto application = std::make_unique<QApplication>(argc, argv);
        installChineseUi(*application);
        return application;
    }();
    return *app;
}

// The splash's status line as the splash draws it with this text.
QImage splashStatusLine(const QString& text)
{
    offscreenApplication();
    Tfac splash;
    splash.BitBtn1->setVisible(false);
    splash.Label4->setText(text);
    return splash.grab(SplashStatusLine).toImage().convertToFormat(QImage::Format_RGB32);
}

// Panel 1 of the status bar as the main window draws it with this text, and
// where the panel sits from the window's bottom-left corner.
struct PanelPicture
{
    QImage image;
    QPoint fromBottomLeft;
};

PanelPicture statusPanel(const QString& text)
{
    offscreenApplication();
    Tfmain window;
    window.setWindowState(Qt::WindowNoState);
    window.resize(1000, 400);
    window.setPanelText(1, text);
    window.show();
    QCoreApplication::processEvents();
    auto* panel = window.findChild<QLabel*>(QStringLiteral("panel1"));
    const QPoint at = panel->mapTo(&window, QPoint(0, 0));
    return {panel->grab().toImage().convertToFormat(QImage::Format_RGB32), QPoint(at.x(), window.height() - at.y())};
}

// Where a top-level menu entry lies in the main window's client area.
QRect menuEntryPlace(const QString& name)
{
    offscreenApplication();
    Tfmain window;
    for (QAction* entry : window.topLevelEntries())
        if (entry->objectName() == name)
            return window.MainMenu1()->actionGeometry(entry).translated(window.MainMenu1()->pos());
    return {};
}

QSize restoredMainWindowSize()
{
    offscreenApplication();
    return Tfmain().restoredSize();
}

class ProgramOnX : public ::testing::TestWithParam<WindowManager>
{
protected:
    ProgramOnX() : server(GetParam()), screen(server), program(server) { screen.parkPointer(); }

    bool bare() const { return server.windowManager() == WindowManager::None; }

    // The program's dialog or box that holds the keyboard, other than `other`.
    WindowInfo waitForDialog(const std::string& what, unsigned long other = 0, std::chrono::milliseconds limit = 20s)
    {
        return waitForKeyboardWindow(screen, program, DialogType, what, other, limit);
    }

    // Until the window holds the keyboard again, wherever the pointer rests.
    void waitForKeyboardBack(const WindowInfo& window, const std::string& what)
    {
        waitFor(what + " to hold the keyboard again", 10s, [&]() -> std::optional<bool> {
            if (!program.running())
                throw DriverError("the program ended while waiting for " + what);
            if (screen.keyboardWindow() != window.id)
                return std::nullopt;
            return true;
        });
    }

    std::optional<WindowInfo> mainWindow()
    {
        return screen.findWindow(program.pid(), [](const WindowInfo& w) {
            return w.types.value(0) == NormalType && w.geometry.size() != SplashSize;
        });
    }

    // Maximised: said so, and covering the screen's area for windows.
    void expectMaximized(const WindowInfo& main)
    {
        EXPECT_TRUE(main.states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_VERT")) &&
                    main.states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_HORZ")))
            << main.states.join(u' ').toStdString();
        EXPECT_EQ(main.frame, screen.workArea()) << "frame " << main.frame.x() << ',' << main.frame.y() << ' '
                                                 << main.frame.width() << 'x' << main.frame.height();
    }

    // Signs on as operator 1 with the demo password by typing, as an operator
    // does; returns the main window.
    WindowInfo signOn(const std::string& password = "1234")
    {
        waitForDialog("the login dialog");
        screen.type("1");
        screen.key("Return");
        screen.key("a", {"Control_L"});
        screen.type(password);
        screen.key("Return");
        return waitForMainWindow();
    }

    // The main window with the keyboard, once no dialog of the program is on the screen.
    WindowInfo waitForMainWindow(const std::string& what = "the login dialog to close onto the main window")
    {
        return waitFor(what, 20s, [&]() -> std::optional<WindowInfo> {
            if (!program.running())
                throw DriverError("the program ended while waiting for " + what);
            if (screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.types.value(0) == DialogType; }))
                return std::nullopt;
            auto main = mainWindow();
            if (main && screen.hasKeyboard(*main) && screen.activeForWindowManager(*main))
                return main;
            return std::nullopt;
        });
    }

    // The main window where it stays, with the keyboard: maximised over the screen's area for windows, so that
    // places to click in it are read from where it ends up.
    WindowInfo settledMainWindow()
    {
        const QRect area = screen.workArea();
        return waitFor("the main window maximised with the keyboard", 20s, [&]() -> std::optional<WindowInfo> {
            auto main = mainWindow();
            if (main && screen.hasKeyboard(*main) && screen.activeForWindowManager(*main) && main->frame == area &&
                area.contains(main->geometry) &&
                main->states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_VERT")) &&
                main->states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_HORZ")))
                return main;
            return std::nullopt;
        });
    }

    XServer server;
    Screen screen;
    ProgramRun program;
};

// ---------------------------------------------------------------- cases

TEST_P(ProgramOnX, SplashIsPaintedBeforeThePauseEnds)
{
    program.makeDemoDatabase();
    const QImage desktop = screen.grab(QRect(QPoint(0, 0), screen.size()));
    program.start();

    const PaintedSplash splash = waitForPaintedSplash(screen, program);
    // Drawn before the start-up's 1000 ms pause can have ended: the pause
    // follows the splash's first painting, so an undrawn splash would stay so
    // for the whole pause; the last look that did not find it on the screen
    // was taken after the program started.
    EXPECT_LT(splash.firstDrawn - splash.lastAbsent, 1000ms)
        << std::chrono::duration_cast<std::chrono::milliseconds>(splash.firstDrawn - splash.lastAbsent).count()
        << " ms";
    // The rounded corner shows what lies behind the window.
    const QPoint corner = splash.place.topLeft() + QPoint(1, 1);
    EXPECT_EQ(screen.pixel(corner), desktop.pixel(corner));
    EXPECT_NE(splash.image.pixel(1, 1), splashPicture().pixel(0, 1));
    EXPECT_EQ(splash.image.copy(SplashStatusLine), splashStatusLine(WelcomeLine));

    const WindowInfo login = waitForDialog("the login dialog");
    expectCaption(login, LoginCaption);
    const auto main = mainWindow();
    ASSERT_TRUE(main.has_value());
    expectCaption(*main, MainWindowCaption);
    // The splash goes once the login dialog is up.
    waitFor("the splash to go", 10s, [&]() -> std::optional<bool> {
        if (splashOf(screen, program.pid()))
            return std::nullopt;
        return true;
    });

    screen.key("Escape");
    EXPECT_EQ(program.waitForExit(20s), 0);
}

TEST_P(ProgramOnX, FailedRetryShowsTheFailureLineBeforeAskingAgain)
{
    program.writeSettings(QStringLiteral("data/missing.mdb"), QStringLiteral("admin"), QStringLiteral("mivotelq"));
    program.start();

    const PaintedSplash welcome = waitForPaintedSplash(screen, program);
    const auto splash = splashOf(screen, program.pid());
    ASSERT_TRUE(splash.has_value());

    const WindowInfo question = waitForDialog("the retry question");
    expectCaption(question, QuestionCaption);
    expectDialogOf(question, splash->id); // owned by the application's window
    screen.key("Return");                 // Yes, the default button
    const WindowInfo dialog = waitForDialog("the settings dialog", question.id);
    expectCaption(dialog, SettingsCaption);
    expectDialogOf(dialog, 0); // no owner: in front of the program's windows
    // sbtn_close: nothing is written, the retry fails again.
    screen.click(dialog.geometry.topLeft() + QPoint(195 + 32, 67 + 11));
    screen.parkPointer();

    // The status line exactly as the splash draws the failure text, seen
    // while no question is up yet.
    const QImage failureLine = splashStatusLine(FailureLine);
    ASSERT_NE(failureLine, splashStatusLine(WelcomeLine));
    bool failureLineSeen = false;
    waitFor("the question to come again", 30s, [&]() -> std::optional<bool> {
        // A dialog other than the settings dialog, which may still be closing.
        const auto asking = [&] {
            return screen.findWindow(program.pid(), [&](const WindowInfo& w) {
                return w.types.value(0) == DialogType && w.id != dialog.id;
            });
        };
        if (asking())
            return true;
        const QImage shown = screen.grab(SplashStatusLine.translated(welcome.place.topLeft()));
        if (!asking() && shown == failureLine)
            failureLineSeen = true;
        return std::nullopt;
    });
    EXPECT_TRUE(failureLineSeen) << "the status line did not show the failure text before the question came";

    expectCaption(waitForDialog("the retry question again", dialog.id), QuestionCaption);
    screen.key("Escape"); // counts as No
    EXPECT_EQ(program.waitForExit(20s), 0);
    EXPECT_FALSE(QFile::exists(program.folder() + QStringLiteral("/data/missing.mdb")));
}

TEST_P(ProgramOnX, SettingsTypedIntoTheDialogAreSavedAndTheRetryConnects)
{
    program.makeDemoDatabase(QStringLiteral("shop/velmdb.mdb"));
    program.writeSettings(QStringLiteral("data/missing.mdb"), QStringLiteral("nobody"), QStringLiteral("wrong"));
    program.start();

    const WindowInfo question = waitForDialog("the retry question");
    screen.key("Return");
    const WindowInfo dialog = waitForDialog("the settings dialog", question.id);
    expectCaption(dialog, SettingsCaption);
    // The focus starts in the user field; Tab goes on to the password, then
    // the source.
    for (const char* value : {"admin", "mivotelq", "shop/velmdb.mdb"}) {
        screen.key("a", {"Control_L"});
        screen.type(value);
        screen.key("Tab");
    }
    // Enter in the source moves to the user, Enter there to the password, and
    // Enter in the password saves.
    screen.key("Return");
    screen.key("Return");
    screen.key("Return");

    expectCaption(waitForDialog("the login dialog", dialog.id), LoginCaption);
    const QString settings = program.readSettings();
    EXPECT_TRUE(settings.contains(QStringLiteral("DB_Source=shop/velmdb.mdb"))) << settings.toStdString();
    EXPECT_TRUE(settings.contains(QStringLiteral("DB_User=admin"))) << settings.toStdString();
    EXPECT_TRUE(settings.contains(QStringLiteral("DB_Password=mivotelq"))) << settings.toStdString();

    screen.key("Escape");
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// A refused save tells why in a box; once the box closes, the settings dialog
// has the keyboard again and the field named in the box takes the typing.
TEST_P(ProgramOnX, SettingsDialogHasTheKeyboardAfterItsBox)
{
    program.writeSettings(QStringLiteral("data/missing.mdb"), QStringLiteral("admin"), QStringLiteral("mivotelq"));
    program.start();
    const WindowInfo question = waitForDialog("the retry question");
    screen.key("Return");
    const WindowInfo dialog = waitForDialog("the settings dialog", question.id);
    screen.key("a", {"Control_L"}); // the user field, emptied
    screen.key("BackSpace");
    screen.key("Return");
    screen.key("Return"); // Enter in the password saves: "用户名不能为空!"
    const WindowInfo box = waitForDialog("the box that refuses the save", dialog.id);
    expectCaption(box, QuestionCaption);
    expectDialogOf(box, dialog.id);
    screen.key("Return");
    // Back with the settings dialog, wherever the pointer rests.
    waitFor("the settings dialog to hold the keyboard again", 10s, [&]() -> std::optional<bool> {
        if (screen.keyboardWindow() != dialog.id)
            return std::nullopt;
        return true;
    });
    screen.type("clerk");
    screen.key("Return");
    screen.key("Return");
    waitForWindowGone(screen, program, SettingsCaption, 10s); // saved and closed
    EXPECT_TRUE(program.readSettings().contains(QStringLiteral("DB_User=clerk")))
        << program.readSettings().toStdString();

    expectCaption(waitForDialog("the retry question again"), QuestionCaption); // the file is still missing
    screen.key("Escape");
    EXPECT_EQ(program.waitForExit(20s), 0);
}

TEST_P(ProgramOnX, TypedSignOnShowsTheOperatorInTheStatusBar)
{
    program.makeDemoDatabase();
    program.start();
    const WindowInfo main = signOn();
    expectCaption(main, MainWindowCaption);
    expectMaximized(main);

    const PanelPicture expected = statusPanel(QStringLiteral("操作员:1"));
    const PanelPicture empty = statusPanel(QString());
    ASSERT_NE(expected.image, empty.image);
    const QRect panel(QPoint(main.geometry.left() + expected.fromBottomLeft.x(),
                             main.geometry.top() + main.geometry.height() - expected.fromBottomLeft.y()),
                      expected.image.size());
    QImage shown;
    try {
        waitFor("panel 1 to show the operator", 10s, [&]() -> std::optional<bool> {
            shown = screen.grab(panel);
            if (shown == expected.image)
                return true;
            return std::nullopt;
        });
    } catch (const DriverError&) {
    }
    EXPECT_EQ(shown, expected.image);
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 1);

    // The close box: the real message loop ends, and with it the program.
    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

TEST_P(ProgramOnX, ThreeFailedAttemptsEndTheProgram)
{
    program.makeDemoDatabase();
    program.start();
    const WindowInfo login = waitForDialog("the login dialog");
    screen.type("1");
    screen.key("Return");
    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        screen.key("a", {"Control_L"});
        screen.type("0000");
        screen.key("Return");
        const WindowInfo box = waitForDialog("the login's message", login.id);
        expectCaption(box, ApplicationTitle);
        expectDialogOf(box, login.id);
        screen.key("Return");
        if (attempt < 3) {
            // The keyboard is back with the login, wherever the pointer rests.
            waitFor("the login to hold the keyboard again", 10s, [&]() -> std::optional<bool> {
                if (screen.keyboardWindow() != login.id)
                    return std::nullopt;
                return true;
            });
        }
    }
    EXPECT_EQ(program.waitForExit(20s), 0);
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 0);
}

// The first line of a plain message box's text as the program draws it, cut to its ink, from the program's own toolkit
// on the offscreen platform: what a box on the screen is searched for.
QImage messageText(const QString& text)
{
    statusPanel(QString()); // the offscreen application with the program's fonts
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, text, QMessageBox::Ok);
    box.show();
    QCoreApplication::processEvents();
    const QImage label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))
                             ->grab()
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    const QRgb background = label.pixel(0, 0);
    QRect ink;
    for (int y = 0; y < label.height(); ++y)
        for (int x = 0; x < label.width(); ++x)
            if (label.pixel(x, y) != background)
                ink |= QRect(x, y, 1, 1);
    // The first line alone: the offscreen screen is narrower, so a long text may wrap there where it does not on
    // the X server.
    int firstLineEnd = ink.top();
    while (firstLineEnd <= ink.bottom()) {
        bool blank = true;
        for (int x = ink.left(); x <= ink.right() && blank; ++x)
            blank = label.pixel(x, firstLineEnd) == background;
        if (blank)
            break;
        ++firstLineEnd;
    }
    QRect line(ink.left(), ink.top(), 0, firstLineEnd - ink.top());
    for (int y = line.top(); y <= line.bottom(); ++y)
        for (int x = ink.left(); x <= ink.right(); ++x)
            if (label.pixel(x, y) != background)
                line.setRight(std::max(line.right(), x));
    return label.copy(line);
}

bool containsImage(const QImage& haystack, const QImage& needle)
{
    if (needle.isNull())
        return false;
    const QImage big = haystack.convertToFormat(QImage::Format_RGB32);
    const auto rowBytes = static_cast<std::size_t>(needle.width()) * 4;
    for (int y = 0; y + needle.height() <= big.height(); ++y)
        for (int x = 0; x + needle.width() <= big.width(); ++x) {
            int row = 0;
            while (row < needle.height() &&
                   std::memcmp(big.constScanLine(y + row) + x * 4, needle.constScanLine(row), rowBytes) == 0)
                ++row;
            if (row == needle.height())
                return true;
        }
    return false;
}

// Waits for the program's message box and for one of the texts to be painted in it; returns its index.
int waitForMessage(Screen& screen, ProgramRun& program, const std::vector<QImage>& texts)
{
    const WindowInfo box = waitForWindow(screen, program, ApplicationTitle);
    return waitFor("the message box to show its text", 10s, [&]() -> std::optional<int> {
        const QImage shown = screen.grab(box.geometry);
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (containsImage(shown, texts[i]))
                return static_cast<int>(i);
        return std::nullopt;
    });
}

void waitForNoMessage(Screen& screen, ProgramRun& program)
{
    waitFor("the message box to close", 10s, [&]() -> std::optional<bool> {
        if (screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == ApplicationTitle; }))
            return std::nullopt;
        return true;
    });
}

// Escape on the login until the program ends: without a window manager the keyboard comes back to the dialog a
// moment after a box has closed, and an Escape sent before that is lost.
int leaveTheLogin(Screen& screen, ProgramRun& program)
{
    for (int tries = 0;; ++tries) {
        screen.key("Escape");
        try {
            return program.waitForExit(tries < 9 ? 2s : 20s);
        } catch (const DriverError&) {
            if (tries >= 9)
                throw;
        }
    }
}

// Five wrong passwords over two runs of the program (the first ends at its third), then, in a third run, the
// right password refused with the lock-out's message; once velmora-db unlock has run, the operator signs on.
TEST_P(ProgramOnX, WrongPasswordsOverTwoRunsLockTheOperatorOutUntilUnlocked)
{
    program.makeDemoDatabase();
    const QImage wrong = messageText(QStringLiteral("密码不对,请重新录入!"));
    const QImage ended = messageText(QStringLiteral("对不起,你没有通过口令认证!"));
    // The lock lasts 15 minutes from the first failure: 14 when this run is slow.
    const QImage locked15 = messageText(TFlogin::lockedOutMessage(15));
    const QImage locked14 = messageText(TFlogin::lockedOutMessage(14));
    ASSERT_NE(wrong, locked15);

    for (const int failures : {3, 2}) {
        SCOPED_TRACE(failures);
        program.start();
        waitForWindow(screen, program, LoginCaption);
        screen.type("1");
        screen.key("Return");
        for (int attempt = 1; attempt <= failures; ++attempt) {
            screen.key("a", {"Control_L"});
            screen.type("0000");
            screen.key("Return");
            EXPECT_EQ(waitForMessage(screen, program, {wrong, ended, locked15, locked14}), attempt == 3 ? 1 : 0);
            screen.key("Return");
            if (attempt < 3)
                waitForNoMessage(screen, program);
        }
        EXPECT_EQ(failures == 2 ? leaveTheLogin(screen, program) : program.waitForExit(20s), 0);
    }

    program.start();
    waitForWindow(screen, program, LoginCaption);
    screen.type("1");
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type("1234");
    screen.key("Return");
    EXPECT_GE(waitForMessage(screen, program, {wrong, ended, locked15, locked14}), 2) << "the lock-out's message";
    screen.key("Return");
    waitForNoMessage(screen, program);
    EXPECT_TRUE(screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == LoginCaption; }))
        << "the login stays up";
    EXPECT_EQ(leaveTheLogin(screen, program), 0);
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 0);

    program.runVelmoraDb({"unlock", "DB:data/velmdb.mdb", "--userid", "1", "--db-password", "mivotelq"});
    program.start();
    const WindowInfo main = signOn();
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 1);
    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// The right password typed after a failed attempt signs on: the message box
// hands the keyboard back to the login, with the pointer far from it.
TEST_P(ProgramOnX, WrongPasswordThenTheRightOneSignsOn)
{
    program.makeDemoDatabase();
    program.start();
    const WindowInfo login = waitForDialog("the login dialog");
    screen.type("1");
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type("0000");
    screen.key("Return");
    const WindowInfo box = waitForDialog("the login's message", login.id);
    screen.key("Return");
    // Back with the login, wherever the pointer rests; typed keys reach it.
    waitFor("the login to hold the keyboard again", 10s, [&]() -> std::optional<bool> {
        if (screen.window(box.id) || screen.keyboardWindow() != login.id)
            return std::nullopt;
        return true;
    });
    screen.key("a", {"Control_L"});
    screen.type("1234");
    screen.key("Return");
    const WindowInfo main = waitForMainWindow();
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 1);
    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

TEST_P(ProgramOnX, StartUpErrorReportIsCaptionedWithTheApplicationTitle)
{
    program.makeDemoDatabase();
    program.dropTable(QStringLiteral("data/velmdb.mdb"), QStringLiteral("kc"));
    program.start();
    const WindowInfo report = waitForDialog("the error report");
    expectCaption(report, ApplicationTitle);
    // The splash is still up behind the report, which stands in front of it.
    const auto splash = splashOf(screen, program.pid());
    ASSERT_TRUE(splash.has_value());
    expectDialogOf(report, splash->id);
    screen.key("Return");
    EXPECT_EQ(program.waitForExit(20s), 1);
}

// A database a newer version stamped: the real program stops before the login with the general error report, whose
// first line names both versions, ends with status 1 and writes nothing to the file.
TEST_P(ProgramOnX, ANewerSchemaStopsTheProgramBeforeTheLogin)
{
    program.makeDemoDatabase();
    const int newer = data::CurrentSchemaVersion + 1;
    program.stampSchemaVersion(QStringLiteral("data/velmdb.mdb"), newer);
    QFile file(program.folder() + QStringLiteral("/data/velmdb.mdb"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    const QImage refusal = messageText(data::newerSchemaError(newer, "").what());

    program.start();
    EXPECT_EQ(waitForMessage(screen, program, {refusal}), 0);
    EXPECT_FALSE(screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == LoginCaption; }));
    screen.key("Return");
    EXPECT_EQ(program.waitForExit(20s), 1);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == before) << "the program wrote to the database";
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 0);
}

// The shared server restarted (or gone) while the till waits at the login dialog, on a server of the test's own
// with the demo's operator: the sign-on connects again and succeeds, without a restart of the program; a server
// gone for good is told in Chinese, and the login stays up.
class ServerUnderTheLogin
{
public:
    ServerUnderTheLogin()
    {
        if (!server.whyNot().empty())
            return;
        db = std::make_unique<velmora::test::TestDatabase>(server.server());
        db->run(db->schema());
        db->addOperator("admin", 1.0, std::string("1234"), data::rightsWordFor({0, 1, 2, 3, 4, 5, 6}));
    }

    velmora::test::PrivateServer server;
    std::unique_ptr<velmora::test::TestDatabase> db;
};

TEST_P(ProgramOnX, ASignOnAfterTheServerRestartedSucceeds)
{
    ServerUnderTheLogin shop;
    if (!shop.db)
        GTEST_SKIP() << shop.server.whyNot();
    program.writeSettings(QString::fromStdString(shop.db->source()), QString::fromStdString(shop.server.server().user),
                          QString::fromStdString(shop.server.server().password));
    program.start();
    waitForWindow(screen, program, LoginCaption);
    ASSERT_TRUE(shop.server.restart());

    const WindowInfo main = signOn();
    EXPECT_EQ(shop.db->number("SELECT count(*) FROM oper"), 1);
    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

TEST_P(ProgramOnX, ASignOnWithTheServerGoneForGoodIsToldInChinese)
{
    ServerUnderTheLogin shop;
    if (!shop.db)
        GTEST_SKIP() << shop.server.whyNot();
    program.writeSettings(QString::fromStdString(shop.db->source()), QString::fromStdString(shop.server.server().user),
                          QString::fromStdString(shop.server.server().password));
    const QImage told = messageText(QStringLiteral("与数据库服务器的连接断开了，重新连接也没有成功。"));
    program.start();
    waitForWindow(screen, program, LoginCaption);
    ASSERT_TRUE(shop.server.halt());

    screen.type("1");
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type("1234");
    screen.key("Return");
    EXPECT_EQ(waitForMessage(screen, program, {told}), 0);
    screen.key("Return");
    waitForNoMessage(screen, program);
    EXPECT_TRUE(screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == LoginCaption; }))
        << "the login stays up for another attempt";
    EXPECT_EQ(leaveTheLogin(screen, program), 0);
}

TEST_P(ProgramOnX, RightClickOnTheMenuBarOrTheBandLeavesTheToolBar)
{
    program.makeDemoDatabase();
    program.start();
    const WindowInfo main = signOn();
    const QRect top(main.geometry.topLeft(), QSize(main.geometry.width(), 120));
    // The pointer rests on the status bar whenever the screen is read, so no
    // hover look differs between two readings.
    const QPoint restingPlace = main.geometry.bottomRight() - QPoint(10, 5);
    screen.movePointer(restingPlace);
    const QImage before = waitFor("the main window to settle", 10s, [&]() -> std::optional<QImage> {
        QImage first = screen.grab(top);
        struct timespec pause
        {
            0, 300'000'000
        };
        nanosleep(&pause, nullptr);
        if (screen.grab(top) == first)
            return first;
        return std::nullopt;
    });
    const auto menus = [&] {
        std::vector<WindowInfo> popups;
        for (const WindowInfo& w : screen.windowsOf(program.pid()))
            if (w.overrideRedirect)
                popups.push_back(w);
        return popups;
    };

    const QRect entry = menuEntryPlace(QStringLiteral("dm"));
    // Right of the last menu entry, and right of the last tool button (the
    // tool bar is 1011 pixels wide).
    ASSERT_GT(main.geometry.width() - 40, 1011 + 10) << "the main window is too narrow to leave a band";
    for (const QPoint place : {QPoint(main.geometry.width() - 40, 10), QPoint(main.geometry.width() - 40, 50)}) {
        SCOPED_TRACE(place.y());
        screen.click(main.geometry.topLeft() + place, 3);
        // A click on 代码维护 after it opens that menu under its entry: once
        // the menu is up the right click has been handled, and a menu the
        // right click had opened would have taken this click instead.
        screen.click(main.geometry.topLeft() + entry.center());
        const WindowInfo menu = waitFor("a menu to open", 10s, [&]() -> std::optional<WindowInfo> {
            const auto open = menus();
            if (open.empty())
                return std::nullopt;
            return open.front();
        });
        EXPECT_EQ(menus().size(), 1u);
        EXPECT_LE(std::abs(menu.geometry.left() - main.geometry.left() - entry.left()), 4)
            << "a menu popped up at " << menu.geometry.left() << ',' << menu.geometry.top();
        screen.key("Escape");
        screen.key("Escape");
        waitFor("the menus to close", 10s, [&]() -> std::optional<bool> {
            if (!menus().empty())
                return std::nullopt;
            return true;
        });
        screen.movePointer(restingPlace);
        QImage now;
        try {
            now = waitFor("the band and the tool bar as they were", 5s, [&]() -> std::optional<QImage> {
                now = screen.grab(top);
                if (now == before)
                    return now;
                return std::nullopt;
            });
        } catch (const DriverError&) {
        }
        EXPECT_EQ(now, before) << "the band or the tool bar changed";
    }

    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// Rows of a menu's picture that are a separator: one pixel high, one colour
// across the item area, not the menu's background.
int separatorRows(const QImage& menu)
{
    const QRgb background = menu.pixel(menu.width() - 4, menu.height() / 2);
    auto uniform = [&](int y) -> std::optional<QRgb> {
        const QRgb first = menu.pixel(30, y);
        for (int x = 30; x < menu.width() - 8; ++x) {
            if (menu.pixel(x, y) != first)
                return std::nullopt;
        }
        return first;
    };
    int separators = 0;
    for (int y = 3; y < menu.height() - 3; ++y) {
        const auto here = uniform(y);
        if (!here || *here == background)
            continue;
        if (uniform(y - 1) == here || uniform(y + 1) == here)
            continue; // a filled band (a selected item), not a line
        ++separators;
    }
    return separators;
}

TEST_P(ProgramOnX, MenuDrawsEverySeparatorOfItsEntryTheLastOneToo)
{
    program.makeDemoDatabase();
    program.start();
    const WindowInfo main = signOn();

    screen.key("d", {"Alt_L"}); // 代码维护(&D): N29, N37 and the trailing N1
    const WindowInfo menu = waitFor("the 代码维护 menu to open", 10s, [&]() -> std::optional<WindowInfo> {
        return screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.overrideRedirect; });
    });
    // The menu is drawn once it shows its three separators; a menu short of
    // one never gets there.
    int separators = -1;
    try {
        waitFor("the menu drawn with its three separators", 10s, [&]() -> std::optional<bool> {
            separators = separatorRows(screen.grab(menu.geometry));
            if (separators == 3)
                return true;
            return std::nullopt;
        });
    } catch (const DriverError&) {
    }
    EXPECT_EQ(separators, 3);

    screen.key("Escape");
    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// The login is the main window's dialog: typed as one, in front of the main
// window, no minimise button asked of a window manager. One that minimises it
// anyway gives it back, in front and with the keyboard, as soon as the main
// window is chosen again (from a task bar, or Alt+Tab).
TEST_P(ProgramOnX, LoginStaysWithTheMainWindowWhenMinimised)
{
    program.makeDemoDatabase();
    program.start();
    const WindowInfo login = waitForDialog("the login dialog");
    const auto main = mainWindow();
    ASSERT_TRUE(main.has_value());
    expectDialogOf(login, main->id);
    EXPECT_TRUE(login.states.contains(QStringLiteral("_NET_WM_STATE_MODAL"))) << login.states.join(u' ').toStdString();

    if (!bare()) {
        screen.requestMinimize(login);
        // A request sent after it tells when the window manager has handled
        // the minimise: openbox minimises the login with the main window,
        // xfwm4 minimises no dialog that stands in front of another window.
        screen.requestState(*main, "_NET_WM_STATE_ABOVE", true);
        waitFor("the window manager to answer", 10s, [&]() -> std::optional<bool> {
            const auto mainNow = screen.window(main->id);
            if (mainNow && !mainNow->states.contains(QStringLiteral("_NET_WM_STATE_ABOVE")))
                return std::nullopt;
            return true;
        });
        // The main window chosen again (as from a task bar): the login comes
        // back in front with the keyboard. A window manager busy hiding the
        // windows away may let a request pass, so it is repeated each second,
        // as a person would click again.
        std::string seen;
        auto asked = Clock::now() - 2s;
        try {
            waitFor("the login in front with the keyboard", 10s, [&]() -> std::optional<bool> {
                const auto loginNow = screen.window(login.id);
                seen = "keyboard on " + std::to_string(screen.keyboardWindow()) + ", login " +
                       std::to_string(login.id) + (loginNow ? " on the screen, state " : " off the screen") +
                       (loginNow ? loginNow->states.join(u' ').toStdString() : std::string());
                if (screen.keyboardWindow() == login.id && loginNow &&
                    !loginNow->states.contains(QStringLiteral("_NET_WM_STATE_HIDDEN")))
                    return true;
                if (Clock::now() - asked > 1s) {
                    screen.requestActivate(*main);
                    asked = Clock::now();
                }
                return std::nullopt;
            });
        } catch (const DriverError& error) {
            FAIL() << error.what() << "; " << seen;
        }
    }
    screen.type("1");
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type("1234");
    screen.key("Return");
    screen.requestClose(waitForMainWindow());
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// What a window manager draws in a title bar: per row, the pixels that differ
// from the row's commonest colour.
QImage titleInk(const QImage& bar)
{
    QImage ink(bar.size(), QImage::Format_Mono);
    ink.fill(0);
    for (int y = 0; y < bar.height(); ++y) {
        QHash<QRgb, int> counts;
        for (int x = 0; x < bar.width(); ++x)
            ++counts[bar.pixel(x, y)];
        QRgb background = 0;
        int most = -1;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (it.value() > most) {
                most = it.value();
                background = it.key();
            }
        }
        for (int x = 0; x < bar.width(); ++x) {
            const QRgb p = bar.pixel(x, y);
            const int distance = std::abs(qRed(p) - qRed(background)) + std::abs(qGreen(p) - qGreen(background)) +
                                 std::abs(qBlue(p) - qBlue(background));
            if (distance > 150)
                ink.setPixel(x, y, 1);
        }
    }
    return ink;
}

QImage titleBar(Screen& screen, const WindowInfo& window)
{
    return screen.grab(QRect(window.frame.left(), window.frame.top(), window.frame.width(),
                             window.geometry.top() - window.frame.top()));
}

// The fewest pixels in which `text` differs from `bar` at any place in it, as
// a share of the text's ink.
double bestMismatch(const QImage& text, const QImage& bar)
{
    int inked = 0;
    for (int y = 0; y < text.height(); ++y)
        for (int x = 0; x < text.width(); ++x)
            inked += text.pixelIndex(x, y);
    double best = 1e9;
    for (int dy = 0; dy + text.height() <= bar.height(); ++dy) {
        for (int dx = 0; dx + text.width() <= bar.width(); ++dx) {
            int differ = 0;
            for (int y = 0; y < text.height(); ++y)
                for (int x = 0; x < text.width(); ++x)
                    differ += text.pixelIndex(x, y) != bar.pixelIndex(dx + x, dy + y);
            best = std::min(best, double(differ) / std::max(inked, 1));
        }
    }
    return best;
}

// A window manager shows the whole caption of the login's message boxes: the
// caption as it draws it on a wide window of the test's own is found whole in
// the box's title bar.
TEST_P(ProgramOnX, MessageBoxShowsItsWholeCaption)
{
    if (bare())
        GTEST_SKIP() << "without a window manager no window has a title bar";
    // The window manager's drawing of the caption: a wide window with it and
    // one without, each while it holds the keyboard; where they differ is the
    // caption's text.
    const auto drawnTitle = [&](const QString& caption) {
        const unsigned long id = screen.createWindow(caption, QSize(700, 120));
        std::optional<WindowInfo> before;
        auto asked = Clock::now() - 1s;
        const WindowInfo reference =
            waitFor("the reference window framed with the keyboard", 10s, [&]() -> std::optional<WindowInfo> {
                const auto w = screen.window(id);
                if (!w || w->frame == w->geometry)
                    return std::nullopt;
                if (screen.keyboardWindow() != id) {
                    if (Clock::now() - asked > 300ms) {
                        screen.requestActivate(*w);
                        asked = Clock::now();
                    }
                    return std::nullopt;
                }
                // Framed where it stays: the same in two looks.
                const bool same = before && before->frame == w->frame && before->geometry == w->geometry;
                before = w;
                if (!same)
                    return std::nullopt;
                return w;
            });
        const QImage bar = titleBar(screen, reference);
        screen.destroyWindow(id);
        return bar;
    };
    const QImage named = titleInk(drawnTitle(ApplicationTitle));
    const QImage unnamed = titleInk(drawnTitle(QString()));
    ASSERT_EQ(named.size(), unnamed.size());
    int left = named.width(), right = -1, top = named.height(), bottom = -1;
    for (int y = 0; y < named.height(); ++y)
        for (int x = 0; x < named.width(); ++x)
            if (named.pixelIndex(x, y) != unnamed.pixelIndex(x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GT(right, left) << "the window manager drew no caption on the reference window";
    const QImage text = named.copy(left, top, right - left + 1, bottom - top + 1);

    program.makeDemoDatabase();
    program.start();
    const WindowInfo login = waitForDialog("the login dialog");
    screen.type("1");
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type("0000");
    screen.key("Return");
    const WindowInfo box = waitForDialog("the login's message", login.id);
    expectCaption(box, ApplicationTitle);
    // Read until the window manager has drawn the box's title as the active
    // one's, as the reference was drawn; a cut caption is never found.
    double mismatch = 1e9;
    try {
        waitFor("the whole caption in the box's title bar", 5s, [&]() -> std::optional<bool> {
            // Read anew: the frame may have come after the keyboard.
            const auto now = screen.window(box.id);
            if (!now)
                return std::nullopt;
            const QImage bar = titleInk(titleBar(screen, *now));
            if (bar.height() < text.height())
                return std::nullopt;
            mismatch = bestMismatch(text, bar);
            if (mismatch >= 0.1)
                return std::nullopt;
            return true;
        });
    } catch (const DriverError&) {
    }
    EXPECT_LT(mismatch, 0.1) << "the caption is cut: the box is " << box.frame.width() << " wide";
    screen.key("Return");
    waitFor("the login to hold the keyboard again", 10s, [&]() -> std::optional<bool> {
        if (screen.keyboardWindow() != login.id)
            return std::nullopt;
        return true;
    });
    screen.key("Escape");
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// Restored, the main window has its own size (891 x 302 below its menu),
// centred, and dragging its border's corner changes nothing.
TEST_P(ProgramOnX, RestoredMainWindowKeepsItsSize)
{
    if (bare())
        GTEST_SKIP() << "without a window manager nothing restores or resizes a window";
    program.makeDemoDatabase();
    program.start();
    const WindowInfo maximized = signOn();
    expectMaximized(maximized);
    const QSize restored = restoredMainWindowSize();

    screen.requestMaximized(maximized, false);
    const QPoint centre = screen.workArea().center();
    const auto restoredAsItShould = [&](const WindowInfo& w) {
        return w.geometry.size() == restored && !w.states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_VERT")) &&
               w.minSize == restored && w.maxSize == restored && std::abs(w.frame.center().x() - centre.x()) <= 1 &&
               std::abs(w.frame.center().y() - centre.y()) <= 1;
    };
    std::optional<WindowInfo> seen;
    try {
        waitFor("the main window restored, centred and of a fixed size", 10s, [&]() -> std::optional<bool> {
            seen = screen.window(maximized.id);
            if (!seen || !restoredAsItShould(*seen))
                return std::nullopt;
            return true;
        });
    } catch (const DriverError&) {
    }
    ASSERT_TRUE(seen.has_value());
    const WindowInfo main = *seen;
    EXPECT_EQ(main.geometry.size(), restored);
    EXPECT_EQ(main.minSize, restored) << "WM_NORMAL_HINTS";
    EXPECT_EQ(main.maxSize, restored) << "WM_NORMAL_HINTS";
    EXPECT_LE(std::abs(main.frame.center().x() - centre.x()), 1) << main.frame.center().x();
    EXPECT_LE(std::abs(main.frame.center().y() - centre.y()), 1) << main.frame.center().y();

    screen.drag(main.frame.bottomRight() - QPoint(2, 2), main.frame.bottomRight() - QPoint(400, 200));
    screen.parkPointer();
    // Once the window manager has answered a request sent after the drag, it
    // has handled the drag too.
    screen.requestState(main, "_NET_WM_STATE_ABOVE", true);
    const WindowInfo after = waitFor("the window manager to answer", 10s, [&]() -> std::optional<WindowInfo> {
        const auto w = screen.window(main.id);
        if (!w || !w->states.contains(QStringLiteral("_NET_WM_STATE_ABOVE")))
            return std::nullopt;
        return w;
    });
    EXPECT_EQ(after.geometry.size(), restored)
        << "dragged to " << after.geometry.width() << 'x' << after.geometry.height();

    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// From the splash to the login there is always a window of the program on the
// screen, and the main window and the login show their own colours from the
// first moment they are seen, never black or what lay beneath them.
TEST_P(ProgramOnX, HandOverFromTheSplashShowsPaintedWindowsOnly)
{
    program.makeDemoDatabase();
    program.start();
    waitForPaintedSplash(screen, program);

    struct Look
    {
        bool anyWindow = false;
        std::optional<QRgb> login, main;
    };
    std::vector<Look> looks;
    std::string emptyLooks;
    // The login's background beside its labels, and the band right of the
    // tool bar in the main window.
    const QPoint loginSpot(6, 6);
    const auto mainSpot = [](const WindowInfo& w) { return QPoint(w.geometry.width() - 12, 30); };
    const WindowInfo login = waitFor("the login with the keyboard", 20s, [&]() -> std::optional<WindowInfo> {
        if (!program.running())
            throw DriverError("the program ended before the login came");
        Look look;
        std::optional<WindowInfo> loginNow;
        // One moment's windows and pixels: a window manager may place a window
        // between the list and the pixel read, which would read what lies beside it.
        const auto still = screen.still();
        const auto windows = screen.windowsOf(program.pid());
        look.anyWindow = !windows.empty();
        if (!look.anyWindow)
            emptyLooks += " " + std::to_string(looks.size()) + (program.running() ? "" : " (ended)");

        for (const WindowInfo& w : windows) {
            if (w.types.value(0) == DialogType) {
                look.login = screen.pixel(w.geometry.topLeft() + loginSpot);
                loginNow = w;
            } else if (w.geometry.size() != SplashSize) {
                look.main = screen.pixel(w.geometry.topLeft() + mainSpot(w));
            }
        }
        looks.push_back(look);
        if (loginNow && screen.hasKeyboard(*loginNow))
            return loginNow;
        return std::nullopt;
    });
    const auto main = mainWindow();
    ASSERT_TRUE(main.has_value());
    // Their colours once painted: the same in two readings a moment apart.
    const auto settled = [&](QPoint at) {
        return waitFor("the screen to settle", 10s, [&]() -> std::optional<QRgb> {
            const QRgb first = screen.pixel(at);
            struct timespec pause
            {
                0, 200'000'000
            };
            nanosleep(&pause, nullptr);
            if (screen.pixel(at) != first)
                return std::nullopt;
            return first;
        });
    };
    const QRgb loginColour = settled(login.geometry.topLeft() + loginSpot);
    const QRgb mainColour = settled(main->geometry.topLeft() + mainSpot(*main));

    int empty = 0, loginWrong = 0, mainWrong = 0;
    for (const Look& look : looks) {
        empty += look.anyWindow ? 0 : 1;
        loginWrong += look.login && *look.login != loginColour ? 1 : 0;
        mainWrong += look.main && *look.main != mainColour ? 1 : 0;
    }
    EXPECT_EQ(empty, 0) << "of " << looks.size() << " looks, these found no window of the program:" << emptyLooks;
    EXPECT_EQ(loginWrong, 0) << "of " << looks.size() << " looks, these found the login not yet painted";
    EXPECT_EQ(mainWrong, 0) << "of " << looks.size() << " looks, these found the main window not yet painted";

    screen.key("Escape");
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// Where a tool button's middle lies from the main window's top-left corner.
QPoint toolButtonCentre(const QString& name)
{
    offscreenApplication();
    Tfmain window;
    window.setWindowState(Qt::WindowNoState);
    window.resize(1100, 400);
    window.show();
    QCoreApplication::processEvents();
    auto* button = window.ToolBar1()->findChild<QToolButton*>(name);
    if (button == nullptr)
        throw DriverError("no tool button " + name.toStdString());
    return button->mapTo(&window, button->rect().center());
}

// A tool button pressed, and the dialog it opens. Under xfwm4 a press soon after a dialog went now and then opens
// nothing, the window manager still settling the keyboard; a press that opened nothing within five seconds, the
// main window still holding the keyboard and no dialog up, is pressed again, three presses at most. A second
// press cannot open a second window: the first one's dialog would block it.
WindowInfo pressToolButton(Screen& screen, ProgramRun& program, const WindowInfo& main, const QString& name,
                           const std::string& what)
{
    for (int press = 1;; ++press) {
        screen.click(main.geometry.topLeft() + toolButtonCentre(name));
        screen.parkPointer();
        try {
            return waitForKeyboardWindow(screen, program, DialogType, what, 0, press < 3 ? 5s : 20s);
        } catch (const DriverError&) {
            if (press == 3 || !screen.hasKeyboard(main) ||
                screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.types.value(0) == DialogType; }))
                throw;
        }
    }
}

// Panel 1 as the main window shows it, read until it is the reference drawn for `text`.
bool panelShows(Screen& screen, const WindowInfo& main, const QString& text)
{
    const PanelPicture expected = statusPanel(text);
    const QRect panel(QPoint(main.geometry.left() + expected.fromBottomLeft.x(),
                             main.geometry.top() + main.geometry.height() - expected.fromBottomLeft.y()),
                      expected.image.size());
    try {
        waitFor("panel 1 to show " + text.toStdString(), 10s, [&]() -> std::optional<bool> {
            if (screen.grab(panel) == expected.image)
                return true;
            return std::nullopt;
        });
        return true;
    } catch (const DriverError&) {
        return false;
    }
}

// The commands a person sees enabled are exactly those of the granted groups and the five always there: each
// menu opened with its Alt key, shot, and its items told apart by the colour of their captions.
void expectEnabledCommands(Screen& screen, ProgramRun& program, const std::set<int>& groups)
{
    const std::pair<const char*, const char*> entries[] = {{"xs", "y"}, {"ch", "s"},   {"tj", "c"},  {"yp", "m"},
                                                           {"dm", "d"}, {"help", "h"}, {"exit", "e"}};
    for (const auto& [entry, key] : entries) {
        SCOPED_TRACE(entry);
        std::vector<bool> expected;
        for (const MenuItemDefinition& item : Tfmain::menuCatalogue()) {
            if (std::string_view(item.entry) != entry || item.group == MenuItemDefinition::Separator || item.hidden)
                continue;
            expected.push_back(item.group == MenuItemDefinition::AlwaysAvailable || groups.contains(item.group));
        }
        screen.key(key, {"Alt_L"});
        const auto isMenu = [](const WindowInfo& w) { return w.overrideRedirect; };
        const WindowInfo menu = waitFor("the menu to open", 10s, [&]() -> std::optional<WindowInfo> {
            return screen.findWindow(program.pid(), isMenu);
        });
        const QImage shot = waitFor("the menu to settle", 10s, [&]() -> std::optional<QImage> {
            QImage first = screen.grab(menu.geometry);
            struct timespec pause
            {
                0, 200'000'000
            };
            nanosleep(&pause, nullptr);
            if (screen.grab(menu.geometry) == first)
                return first;
            return std::nullopt;
        });
        EXPECT_EQ(menuItemsEnabled(shot), expected);
        screen.key("Escape");
        waitFor("the menu to close", 10s, [&]() -> std::optional<bool> {
            if (screen.findWindow(program.pid(), isMenu))
                return std::nullopt;
            return true;
        });
        screen.key("Escape"); // leaves the menu bar
    }
}

struct CommandWindow
{
    const char* name;
    std::vector<std::pair<const char*, std::vector<const char*>>> keys; // pressed in order, or:
    const char* toolButton;                                             // clicked
    QString caption;
    const char* closeKey;
};

// Every command a person may choose answers with a window of its own, a dialog of the main window over it,
// which the usual key closes; the main window then has the keyboard again, with no window manager too.
TEST_P(ProgramOnX, CommandsOpenTheirWindowsWhichClose)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    const WindowInfo main = settledMainWindow();
    const std::vector<CommandWindow> commands{
        {"系统帮助 from its menu", {{"h", {"Alt_L"}}, {"Return", {}}}, nullptr, QStringLiteral("系统帮助"), "Escape"},
        {"关于程序 from its tool button", {}, "ToolButton19", QStringLiteral("关于程序"), "Return"},
        {"药品零售 from its tool button", {}, "ToolButton1", QuestionCaption, "Return"},
        {"药品浏览 from its menu", {{"m", {"Alt_L"}}, {"Return", {}}}, nullptr, QuestionCaption, "Escape"},
    };
    for (const CommandWindow& command : commands) {
        SCOPED_TRACE(command.name);
        for (const auto& [key, modifiers] : command.keys)
            screen.key(key, modifiers);
        const WindowInfo shown =
            command.toolButton != nullptr
                ? pressToolButton(screen, program, main, QLatin1String(command.toolButton), command.name)
                : waitForDialog(command.name);
        expectCaption(shown, command.caption);
        EXPECT_EQ(shown.transientFor, main.id) << "WM_TRANSIENT_FOR";
        EXPECT_TRUE(main.geometry.contains(shown.geometry.center())) << "not over the main window";
        screen.key(command.closeKey);
        waitForMainWindow(std::string("the main window with the keyboard after ") + command.name);
    }

    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// 更换用户 left without a sign-on, each way a person leaves it: the operator before stays signed on, nothing is
// recorded, and the program goes on.
TEST_P(ProgramOnX, LeavingReloginKeepsTheOperatorSignedOn)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    const WindowInfo main = settledMainWindow();
    ASSERT_TRUE(panelShows(screen, main, QStringLiteral("操作员:1")));
    const std::vector<const char*> ways{"Escape", "close box", "退出 button", "three wrong passwords"};
    for (const std::string way : ways) {
        SCOPED_TRACE(way);
        screen.key("e", {"Alt_L"}); // 退出(&E): 更换用户 first
        screen.key("Return");
        const WindowInfo login = waitForDialog("the login of 更换用户");
        expectCaption(login, LoginCaption);
        expectDialogOf(login, main.id);
        if (way == "Escape") {
            screen.key("Escape");
        } else if (way == "close box") {
            screen.requestClose(login);
        } else if (way == "退出 button") {
            screen.click(login.geometry.topLeft() + QPoint(184 + 44, 96 + 12));
            screen.parkPointer();
        } else {
            screen.type("2");
            screen.key("Return");
            for (int attempt = 1; attempt <= 3; ++attempt) {
                SCOPED_TRACE(attempt);
                screen.key("a", {"Control_L"});
                screen.type("0000");
                screen.key("Return");
                expectCaption(waitForDialog("the login's message", login.id), ApplicationTitle);
                screen.key("Return");
                if (attempt < 3)
                    waitForKeyboardBack(login, "the login");
            }
        }
        waitForMainWindow("the login of 更换用户 to close onto the main window");
        EXPECT_TRUE(panelShows(screen, main, QStringLiteral("操作员:1")));
        EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 1);
    }
    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// 备份数据 chosen with its tool button: the folder typed into its folder dialog, then its box once the copy is
// written (the progress window comes between). Returns the folder's files.
QStringList backUpTo(Screen& screen, ProgramRun& program, const WindowInfo& main, const QString& folder)
{
    const WindowInfo chooser =
        pressToolButton(screen, program, main, QStringLiteral("ToolButton16"), "the folder dialog of 备份数据");
    expectCaption(chooser, QStringLiteral("选择备份文件夹"));
    expectDialogOf(chooser, main.id);
    screen.key("a", {"Control_L"});
    screen.type(folder.toStdString());
    screen.key("Return");
    const WindowInfo done = waitForWindow(screen, program, QuestionCaption, 60s);
    expectDialogOf(done, main.id);
    const QStringList copies = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    screen.key("Return");
    return copies;
}

// 备份数据 to a folder typed into its folder dialog: a dated copy that passes SQLite's integrity check and holds
// the shop's operators; the folder is remembered in DBConn.ini.
TEST_P(ProgramOnX, BackupLeavesACheckedCopy)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    const WindowInfo main = settledMainWindow();
    const QString folder = program.folder() + QStringLiteral("/usb");
    ASSERT_TRUE(QDir().mkpath(folder));

    const QStringList copies = backUpTo(screen, program, main, folder);
    waitForMainWindow("the box of 备份数据 to close onto the main window");
    ASSERT_EQ(copies.size(), 1) << copies.join(u' ').toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^velmdb-\\d{8}-\\d{6}\\.mdb$")).match(copies.first()).hasMatch())
        << copies.first().toStdString();
    const QString copy = folder + u'/' + copies.first();
    EXPECT_EQ(program.firstValue(copy, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    EXPECT_EQ(program.firstValue(copy, QStringLiteral("SELECT group_concat(username) FROM OperatorTable")),
              QStringLiteral("admin,clerk"));
    EXPECT_TRUE(program.readSettings().contains(QStringLiteral("BackupFolder=") + folder))
        << program.readSettings().toStdString();

    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// The administrator adds an operator with two groups in 用户管理; 更换用户 signs that operator on with exactly
// those commands, and its 备份数据 leaves a checked copy that holds it.
TEST_P(ProgramOnX, AnOperatorAddedInUserManagementSignsOnAndBacksUp)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    const WindowInfo main = settledMainWindow();

    const WindowInfo users = pressToolButton(screen, program, main, QStringLiteral("ToolButton15"), "用户管理");
    expectCaption(users, QStringLiteral("用户管理"));
    expectDialogOf(users, main.id);
    screen.key("a", {"Alt_L"}); // 新增(&A)
    const WindowInfo form = waitForDialog("the form of 新增", users.id);
    expectCaption(form, QStringLiteral("新增用户"));
    expectDialogOf(form, users.id);
    for (const char* field : {"3", "wang", "wang5678", "wang5678"}) {
        screen.type(field);
        screen.key("Return");
    }
    // The first check box, 销售管理, has the keyboard; the seventh is 数据备份.
    screen.key("space");
    for (int i = 0; i < 6; ++i)
        screen.key("Tab");
    screen.key("space");
    screen.key("Return");
    waitForWindowGone(screen, program, QStringLiteral("新增用户"));
    waitForKeyboardBack(users, "用户管理");
    EXPECT_EQ(program.firstValue(QStringLiteral("data/velmdb.mdb"),
                                 QStringLiteral("SELECT username FROM OperatorTable WHERE userid = 3")),
              QStringLiteral("wang"));
    screen.key("Escape");
    waitForMainWindow("用户管理 to close onto the main window");

    screen.key("e", {"Alt_L"});
    screen.key("Return"); // 更换用户
    expectCaption(waitForDialog("the login of 更换用户"), LoginCaption);
    screen.type("3");
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type("wang5678");
    screen.key("Return");
    waitForMainWindow("the login of 更换用户 to close onto the main window");
    EXPECT_TRUE(panelShows(screen, main, QStringLiteral("操作员:3")));
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 2);
    expectEnabledCommands(screen, program, {0, 6});

    const QString folder = program.folder() + QStringLiteral("/usb");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QStringList copies = backUpTo(screen, program, main, folder);
    waitForMainWindow("the box of 备份数据 to close onto the main window");
    ASSERT_EQ(copies.size(), 1) << copies.join(u' ').toStdString();
    const QString copy = folder + u'/' + copies.first();
    EXPECT_EQ(program.firstValue(copy, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    EXPECT_EQ(program.firstValue(copy, QStringLiteral("SELECT username FROM OperatorTable WHERE userid = 3")),
              QStringLiteral("wang"));

    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// 更换密码, then 更换用户: the old password is refused and the new one signs on.
TEST_P(ProgramOnX, OnlyTheChangedPasswordSignsOnAfterwards)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    const WindowInfo main = settledMainWindow();
    screen.key("d", {"Alt_L"}); // 代码维护: 员工管理, 部门管理, 往来单位, then 更换密码
    for (int i = 0; i < 3; ++i)
        screen.key("Down");
    screen.key("Return");
    const WindowInfo dialog = waitForDialog("更换密码");
    expectCaption(dialog, QStringLiteral("更换密码"));
    expectDialogOf(dialog, main.id);
    for (const char* field : {"1234", "night99", "night99"}) {
        screen.type(field);
        screen.key("Return");
    }
    const WindowInfo changed = waitForDialog("the box that says the password is changed", dialog.id);
    expectCaption(changed, QuestionCaption);
    expectDialogOf(changed, dialog.id);
    screen.key("Return");
    waitForMainWindow("更换密码 to close onto the main window");

    screen.key("e", {"Alt_L"});
    screen.key("Return"); // 更换用户
    const WindowInfo login = waitForDialog("the login of 更换用户");
    expectCaption(login, LoginCaption);
    screen.type("1");
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type("1234");
    screen.key("Return");
    expectCaption(waitForDialog("the login's message", login.id), ApplicationTitle); // 密码不对,请重新录入!
    screen.key("Return");
    waitForKeyboardBack(login, "the login");
    screen.key("a", {"Control_L"});
    screen.type("night99");
    screen.key("Return");
    waitForMainWindow("the login of 更换用户 to close onto the main window");
    EXPECT_TRUE(panelShows(screen, main, QStringLiteral("操作员:1")));
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 2);

    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

INSTANTIATE_TEST_SUITE_P(Display, ProgramOnX,
                         ::testing::Values(WindowManager::None, WindowManager::Openbox, WindowManager::Xfwm4),
                         [](const ::testing::TestParamInfo<WindowManager>& info) {
                             return std::string(windowManagerName(info.param));
                         });

} // namespace
