// The real velmora binary on a real X server, as a person meets it: what is
// painted and when, the captions the server holds, what keys and clicks do.
// Every case runs once without a window manager and once under openbox.

#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/QtPlatform.h"
#include "tests/x11/ProgramWindows.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
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

// Beyond the failure line's 16 characters, inside the welcome line's 52.
const QRect StatusLineTail{300, 190, 240, 25};
const QRect StatusLineHead{14, 190, 250, 25};

void expectCaption(const WindowInfo& window, const QString& caption)
{
    EXPECT_EQ(window.netName, caption) << "_NET_WM_NAME";
    EXPECT_EQ(window.wmName, caption) << "WM_NAME";
    EXPECT_EQ(window.wmClassName, ApplicationTitle) << "WM_CLASS";
}

class ProgramOnX : public ::testing::TestWithParam<WindowManager>
{
protected:
    ProgramOnX() : server(GetParam()), screen(server), program(server) {}

    // Signs on as operator 1 with the demo password by typing, as an operator
    // does; returns the main window.
    WindowInfo signOn(const std::string& password = "1234")
    {
        waitForWindow(screen, program, LoginCaption);
        screen.type("1");
        screen.key("Return");
        screen.key("a", {"Control_L"});
        screen.type(password);
        screen.key("Return");
        return waitFor("the login dialog to close onto the main window", 20s, [&]() -> std::optional<WindowInfo> {
            if (!program.running())
                throw DriverError("the program ended while signing on");
            if (screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == LoginCaption; }))
                return std::nullopt;
            auto main =
                screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == MainWindowCaption; });
            if (main && screen.hasKeyboard(*main))
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
    const QImage desktop = screen.grab(QRect(0, 0, 1280, 1024));
    program.start();

    const PaintedSplash splash = waitForPaintedSplash(screen, program);
    // The rounded corner shows what lies behind the window.
    const QPoint corner = splash.place.topLeft() + QPoint(1, 1);
    EXPECT_EQ(screen.pixel(corner), desktop.pixel(corner));
    EXPECT_NE(splash.image.pixel(1, 1), splashPicture().pixel(0, 1));

    expectCaption(waitForWindow(screen, program, LoginCaption), LoginCaption);
    const auto main =
        screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == MainWindowCaption; });
    ASSERT_TRUE(main.has_value());
    expectCaption(*main, MainWindowCaption);
    // The splash is gone once the login dialog is up.
    EXPECT_FALSE(splashOf(screen, program.pid()).has_value());

    screen.key("Escape");
    EXPECT_EQ(program.waitForExit(20s), 0);
}

TEST_P(ProgramOnX, FailedRetryShowsTheFailureLineBeforeAskingAgain)
{
    program.writeSettings(QStringLiteral("data/missing.mdb"), QStringLiteral("admin"), QStringLiteral("mivotelq"));
    program.start();

    const PaintedSplash welcome = waitForPaintedSplash(screen, program);
    EXPECT_GT(inkIn(welcome.image, StatusLineTail), 100) << "the welcome line reaches beyond the failure line";

    expectCaption(waitForWindow(screen, program, QuestionCaption), QuestionCaption);
    screen.key("Return"); // Yes, the default button
    const WindowInfo dialog = waitForWindow(screen, program, SettingsCaption);
    expectCaption(dialog, SettingsCaption);
    // sbtn_close: nothing is written, the retry fails again.
    screen.click(dialog.geometry.topLeft() + QPoint(195 + 32, 67 + 11));

    bool failureLineSeen = false;
    waitFor("the question to come again", 30s, [&]() -> std::optional<bool> {
        const auto asking = [&] {
            return screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == QuestionCaption; });
        };
        if (asking())
            return true;
        const QImage shown = screen.grab(welcome.place);
        // Only a sample taken while no question was up counts.
        if (!asking() && inkIn(shown, StatusLineTail) == 0 && inkIn(shown, StatusLineHead) > 100 &&
            splashShowsPictureAndLabels(shown))
            failureLineSeen = true;
        return std::nullopt;
    });
    EXPECT_TRUE(failureLineSeen) << "the status line did not change to the failure text before the question came";

    screen.key("Escape"); // counts as No
    EXPECT_EQ(program.waitForExit(20s), 0);
    EXPECT_FALSE(QFile::exists(program.folder() + QStringLiteral("/data/missing.mdb")));
}

TEST_P(ProgramOnX, SettingsTypedIntoTheDialogAreSavedAndTheRetryConnects)
{
    program.makeDemoDatabase(QStringLiteral("shop/velmdb.mdb"));
    program.writeSettings(QStringLiteral("data/missing.mdb"), QStringLiteral("nobody"), QStringLiteral("wrong"));
    program.start();

    waitForWindow(screen, program, QuestionCaption);
    screen.key("Return");
    waitForWindow(screen, program, SettingsCaption);
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

    expectCaption(waitForWindow(screen, program, LoginCaption), LoginCaption);
    const QString settings = program.readSettings();
    EXPECT_TRUE(settings.contains(QStringLiteral("DB_Source=shop/velmdb.mdb"))) << settings.toStdString();
    EXPECT_TRUE(settings.contains(QStringLiteral("DB_User=admin"))) << settings.toStdString();
    EXPECT_TRUE(settings.contains(QStringLiteral("DB_Password=mivotelq"))) << settings.toStdString();

    screen.key("Escape");
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// Panel 1 of the status bar as the main window draws it with this text, from
// the program's own window class on the offscreen platform: the reference the
// screen is compared with, and where the panel sits from the window's
// bottom-left corner.
struct PanelPicture
{
    QImage image;
    QPoint fromBottomLeft;
};

// The program's own window classes drawn offscreen, as references for the screen.
void offscreenApplication()
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
}

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

TEST_P(ProgramOnX, TypedSignOnShowsTheOperatorInTheStatusBar)
{
    program.makeDemoDatabase();
    program.start();
    const WindowInfo main = signOn();
    expectCaption(main, MainWindowCaption);
    if (server.windowManager() == WindowManager::Openbox) {
        EXPECT_TRUE(main.states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_VERT")) &&
                    main.states.contains(QStringLiteral("_NET_WM_STATE_MAXIMIZED_HORZ")))
            << main.states.join(u' ').toStdString();
    }

    const PanelPicture expected = statusPanel(QStringLiteral("操作员:1"));
    const PanelPicture empty = statusPanel(QString());
    ASSERT_NE(expected.image, empty.image);
    const QRect panel(QPoint(main.geometry.left() + expected.fromBottomLeft.x(),
                             main.geometry.top() + main.geometry.height() - expected.fromBottomLeft.y()),
                      expected.image.size());
    const QImage shown = waitFor("panel 1 to show the operator", 10s, [&]() -> std::optional<QImage> {
        QImage now = screen.grab(panel);
        if (now == expected.image)
            return now;
        return std::nullopt;
    });
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
    waitForWindow(screen, program, LoginCaption);
    screen.type("1");
    screen.key("Return");
    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        screen.key("a", {"Control_L"});
        screen.type("0000");
        screen.key("Return");
        expectCaption(waitForWindow(screen, program, ApplicationTitle), ApplicationTitle);
        screen.key("Return");
        if (attempt < 3)
            waitFor("the message box to close", 10s, [&]() -> std::optional<bool> {
                if (screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == ApplicationTitle; }))
                    return std::nullopt;
                return true;
            });
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

TEST_P(ProgramOnX, StartUpErrorReportIsCaptionedWithTheApplicationTitle)
{
    program.makeDemoDatabase();
    program.dropTable(QStringLiteral("data/velmdb.mdb"), QStringLiteral("kc"));
    program.start();
    expectCaption(waitForWindow(screen, program, ApplicationTitle), ApplicationTitle);
    // The splash is still up behind the report.
    EXPECT_TRUE(splashOf(screen, program.pid()).has_value());
    screen.key("Return");
    EXPECT_EQ(program.waitForExit(20s), 1);
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

    // Right of the last menu entry, and right of the last tool button.
    for (const QPoint place : {QPoint(main.geometry.width() - 40, 10), QPoint(main.geometry.width() - 40, 50)}) {
        SCOPED_TRACE(place.y());
        screen.click(main.geometry.topLeft() + place, 3);
        struct timespec pause
        {
            0, 400'000'000
        };
        nanosleep(&pause, nullptr);
        const auto popup = screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.overrideRedirect; });
        EXPECT_FALSE(popup.has_value()) << "a menu popped up at " << place.x() << ',' << place.y();
        screen.key("Down");
        screen.key("Return");
        screen.movePointer(restingPlace);
        nanosleep(&pause, nullptr);
        EXPECT_EQ(screen.grab(top), before) << "the band or the tool bar changed";
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
    struct timespec pause
    {
        0, 300'000'000
    };
    nanosleep(&pause, nullptr);
    EXPECT_EQ(separatorRows(screen.grab(menu.geometry)), 3);

    screen.key("Escape");
    screen.requestClose(main);
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

// The main window again holding the keyboard once a window of a command has gone.
WindowInfo backAtTheMainWindow(Screen& screen, ProgramRun& program)
{
    return waitForWindow(screen, program, MainWindowCaption);
}

// The main window where it stays: a window manager maximizes it after it has the keyboard, so a place to click
// is read only once its geometry holds still.
WindowInfo settledMainWindow(Screen& screen, ProgramRun& program)
{
    return waitFor("the main window's place to hold still", 20s, [&]() -> std::optional<WindowInfo> {
        const WindowInfo first = waitForWindow(screen, program, MainWindowCaption);
        struct timespec pause
        {
            0, 300'000'000
        };
        nanosleep(&pause, nullptr);
        const WindowInfo second = waitForWindow(screen, program, MainWindowCaption);
        if (second.geometry == first.geometry)
            return second;
        return std::nullopt;
    });
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

// Every command a person may choose answers with a window of its own, over the main window, which the usual
// key closes; the main window then has the keyboard again.
TEST_P(ProgramOnX, CommandsOpenTheirWindowsWhichClose)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    const WindowInfo main = settledMainWindow(screen, program);
    screen.movePointer(main.geometry.bottomRight() - QPoint(10, 5));
    const std::vector<CommandWindow> commands{
        {"系统帮助 from its menu", {{"h", {"Alt_L"}}, {"Return", {}}}, nullptr, QStringLiteral("系统帮助"), "Escape"},
        {"关于程序 from its tool button", {}, "ToolButton19", QStringLiteral("关于程序"), "Return"},
        {"药品零售 from its tool button", {}, "ToolButton1", QuestionCaption, "Return"},
        {"药品浏览 from its menu", {{"m", {"Alt_L"}}, {"Return", {}}}, nullptr, QuestionCaption, "Escape"},
    };
    for (const CommandWindow& command : commands) {
        SCOPED_TRACE(command.name);
        if (command.toolButton != nullptr) {
            screen.click(main.geometry.topLeft() + toolButtonCentre(QLatin1String(command.toolButton)));
            screen.movePointer(main.geometry.bottomRight() - QPoint(10, 5));
        }
        for (const auto& [key, modifiers] : command.keys)
            screen.key(key, modifiers);
        const WindowInfo shown = waitForWindow(screen, program, command.caption);
        expectCaption(shown, command.caption);
        EXPECT_TRUE(main.geometry.contains(shown.geometry.center())) << "not over the main window";
        screen.key(command.closeKey);
        waitForWindowGone(screen, program, command.caption);
        backAtTheMainWindow(screen, program);
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
    const WindowInfo main = settledMainWindow(screen, program);
    ASSERT_TRUE(panelShows(screen, main, QStringLiteral("操作员:1")));
    const std::vector<const char*> ways{"Escape", "close box", "退出 button", "three wrong passwords"};
    for (const std::string way : ways) {
        SCOPED_TRACE(way);
        screen.key("e", {"Alt_L"}); // 退出(&E): 更换用户 first
        screen.key("Return");
        const WindowInfo login = waitForWindow(screen, program, LoginCaption);
        expectCaption(login, LoginCaption);
        if (way == "Escape") {
            screen.key("Escape");
        } else if (way == "close box") {
            screen.requestClose(login);
        } else if (way == "退出 button") {
            screen.click(login.geometry.topLeft() + QPoint(184 + 44, 96 + 12));
        } else {
            screen.type("2");
            screen.key("Return");
            for (int attempt = 1; attempt <= 3; ++attempt) {
                screen.key("a", {"Control_L"});
                screen.type("0000");
                screen.key("Return");
                waitForWindow(screen, program, ApplicationTitle);
                screen.key("Return");
                waitForWindowGone(screen, program, ApplicationTitle);
            }
        }
        waitForWindowGone(screen, program, LoginCaption);
        backAtTheMainWindow(screen, program);
        EXPECT_TRUE(panelShows(screen, main, QStringLiteral("操作员:1")));
        EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 1);
    }
    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// 备份数据 to a folder typed into its folder dialog: a dated copy that passes SQLite's integrity check and holds
// the shop's operators; the folder is remembered in DBConn.ini.
TEST_P(ProgramOnX, BackupLeavesACheckedCopy)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    const WindowInfo main = settledMainWindow(screen, program);
    const QString folder = program.folder() + QStringLiteral("/usb");
    ASSERT_TRUE(QDir().mkpath(folder));

    screen.click(main.geometry.topLeft() + toolButtonCentre(QStringLiteral("ToolButton16")));
    screen.movePointer(main.geometry.bottomRight() - QPoint(10, 5));
    waitForWindow(screen, program, QStringLiteral("选择备份文件夹"));
    screen.key("a", {"Control_L"});
    screen.type(folder.toStdString());
    screen.key("Return");
    const WindowInfo done = waitForWindow(screen, program, QuestionCaption, 60s);
    const QStringList copies = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(copies.size(), 1) << copies.join(u' ').toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^velmdb-\\d{8}-\\d{6}\\.mdb$")).match(copies.first()).hasMatch())
        << copies.first().toStdString();
    const QString copy = folder + u'/' + copies.first();
    EXPECT_EQ(program.firstValue(copy, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    EXPECT_EQ(program.firstValue(copy, QStringLiteral("SELECT group_concat(username) FROM OperatorTable")),
              QStringLiteral("admin,clerk"));
    EXPECT_TRUE(program.readSettings().contains(QStringLiteral("BackupFolder=") + folder))
        << program.readSettings().toStdString();
    screen.key("Return");
    waitForWindowGone(screen, program, QuestionCaption);
    backAtTheMainWindow(screen, program);

    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// Types the login's operator number and password and signs on with Enter, in a login dialog that has the
// keyboard; returns once the main window has it again.
WindowInfo signOnAs(Screen& screen, ProgramRun& program, const std::string& userid, const std::string& password)
{
    waitForWindow(screen, program, LoginCaption);
    screen.type(userid);
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type(password);
    screen.key("Return");
    waitForWindowGone(screen, program, LoginCaption);
    return waitForWindow(screen, program, MainWindowCaption);
}

// The administrator adds an operator with two groups in 用户管理; 更换用户 signs that operator on with exactly
// those commands, and its 备份数据 leaves a checked copy that holds it.
TEST_P(ProgramOnX, AnOperatorAddedInUserManagementSignsOnAndBacksUp)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    const WindowInfo main = settledMainWindow(screen, program);
    const QPoint aside = main.geometry.bottomRight() - QPoint(10, 5);

    screen.click(main.geometry.topLeft() + toolButtonCentre(QStringLiteral("ToolButton15")));
    screen.movePointer(aside);
    expectCaption(waitForWindow(screen, program, QStringLiteral("用户管理")), QStringLiteral("用户管理"));
    screen.key("a", {"Alt_L"}); // 新增(&A)
    waitForWindow(screen, program, QStringLiteral("新增用户"));
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
    waitForWindow(screen, program, QStringLiteral("用户管理"));
    EXPECT_EQ(program.firstValue(QStringLiteral("data/velmdb.mdb"),
                                 QStringLiteral("SELECT username FROM OperatorTable WHERE userid = 3")),
              QStringLiteral("wang"));
    screen.key("Escape");
    waitForWindowGone(screen, program, QStringLiteral("用户管理"));
    backAtTheMainWindow(screen, program);

    screen.key("e", {"Alt_L"});
    screen.key("Return"); // 更换用户
    signOnAs(screen, program, "3", "wang5678");
    screen.movePointer(aside);
    EXPECT_TRUE(panelShows(screen, main, QStringLiteral("操作员:3")));
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 2);
    expectEnabledCommands(screen, program, {0, 6});

    const QString folder = program.folder() + QStringLiteral("/usb");
    ASSERT_TRUE(QDir().mkpath(folder));
    screen.click(main.geometry.topLeft() + toolButtonCentre(QStringLiteral("ToolButton16")));
    screen.movePointer(aside);
    waitForWindow(screen, program, QStringLiteral("选择备份文件夹"));
    screen.key("a", {"Control_L"});
    screen.type(folder.toStdString());
    screen.key("Return");
    waitForWindow(screen, program, QuestionCaption, 60s);
    const QStringList copies = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(copies.size(), 1) << copies.join(u' ').toStdString();
    const QString copy = folder + u'/' + copies.first();
    EXPECT_EQ(program.firstValue(copy, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    EXPECT_EQ(program.firstValue(copy, QStringLiteral("SELECT username FROM OperatorTable WHERE userid = 3")),
              QStringLiteral("wang"));
    screen.key("Return");
    waitForWindowGone(screen, program, QuestionCaption);

    screen.requestClose(backAtTheMainWindow(screen, program));
    EXPECT_EQ(program.waitForExit(20s), 0);
}

// 更换密码, then 更换用户: the old password is refused and the new one signs on.
TEST_P(ProgramOnX, OnlyTheChangedPasswordSignsOnAfterwards)
{
    program.makeDemoDatabase();
    program.start();
    signOn();
    screen.key("d", {"Alt_L"}); // 代码维护: 员工管理, 部门管理, 往来单位, then 更换密码
    for (int i = 0; i < 3; ++i)
        screen.key("Down");
    screen.key("Return");
    expectCaption(waitForWindow(screen, program, QStringLiteral("更换密码")), QStringLiteral("更换密码"));
    for (const char* field : {"1234", "night99", "night99"}) {
        screen.type(field);
        screen.key("Return");
    }
    waitForWindow(screen, program, QuestionCaption);
    screen.key("Return");
    waitForWindowGone(screen, program, QStringLiteral("更换密码"));
    const WindowInfo main = settledMainWindow(screen, program);

    screen.key("e", {"Alt_L"});
    screen.key("Return"); // 更换用户
    waitForWindow(screen, program, LoginCaption);
    screen.type("1");
    screen.key("Return");
    screen.key("a", {"Control_L"});
    screen.type("1234");
    screen.key("Return");
    waitForWindow(screen, program, ApplicationTitle); // 密码不对,请重新录入!
    screen.key("Return");
    waitForWindowGone(screen, program, ApplicationTitle);
    waitForWindow(screen, program, LoginCaption);
    screen.key("a", {"Control_L"});
    screen.type("night99");
    screen.key("Return");
    waitForWindowGone(screen, program, LoginCaption);
    backAtTheMainWindow(screen, program);
    EXPECT_TRUE(panelShows(screen, main, QStringLiteral("操作员:1")));
    EXPECT_EQ(program.countRows(QStringLiteral("data/velmdb.mdb"), QStringLiteral("oper")), 2);

    screen.requestClose(main);
    EXPECT_EQ(program.waitForExit(20s), 0);
}

INSTANTIATE_TEST_SUITE_P(Display, ProgramOnX, ::testing::Values(WindowManager::None, WindowManager::Openbox),
                         [](const ::testing::TestParamInfo<WindowManager>& info) {
                             return std::string(windowManagerName(info.param));
                         });

} // namespace
