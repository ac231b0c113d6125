// The real velmora binary on a real X server, as a person meets it: what is
// painted and when, the captions the server holds, what keys and clicks do.
// Every case runs once without a window manager and once under openbox.

#include "data/module/Rights.h"
#include "data/module/SchemaVersion.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/QtPlatform.h"
#include "tests/support/PrivateServer.h"
#include "tests/support/TestDatabase.h"
#include "tests/x11/ProgramWindows.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
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

PanelPicture statusPanel(const QString& text)
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

INSTANTIATE_TEST_SUITE_P(Display, ProgramOnX, ::testing::Values(WindowManager::None, WindowManager::Openbox),
                         [](const ::testing::TestParamInfo<WindowManager>& info) {
                             return std::string(windowManagerName(info.param));
                         });

} // namespace
