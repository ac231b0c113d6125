// Takes the documentation's screenshots of the real program on an X server of
// its own, at the moments a person sees them: under openbox the splash during
// the start-up's pause, the retry question, the settings dialog, the login
// dialog and its message after a wrong password, and the windows of the main
// window's own commands; on a till without a window manager the main window
// after a sign-on, maximised. Run through scripts/screenshots.sh.
#include "tests/x11/ProgramWindows.h"

#include <QDir>

#include <cstdio>

using namespace velmora::xtest;

namespace {

// A window with a margin of the desktop around it, so rounded corners show
// (none beyond the screen's edges).
bool save(Screen& screen, const QRect& area, const QString& path)
{
    const QImage shot = screen.grab(area.adjusted(-8, -8, 8, 8));
    if (shot.isNull() || !shot.save(path, "PNG")) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
    return true;
}

void settle()
{
    struct timespec pause
    {
        0, 500'000'000
    };
    nanosleep(&pause, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
        return 1;
    }
    try {
        bool ok = true;
        {
            XServer server(WindowManager::Openbox, QSize(1024, 768));
            Screen screen(server);
            screen.setDesktopColour(qRgb(58, 110, 165));
            screen.parkPointer();
            {
                // A failed connect: the splash during the pause, the question
                // and the settings dialog.
                ProgramRun program(server);
                program.writeSettings(QStringLiteral("data/velmdb.mdb"), QStringLiteral("admin"), QStringLiteral("x"));
                program.start();
                const PaintedSplash splash = waitForPaintedSplash(screen, program);
                ok = save(screen, splash.place, folder + QStringLiteral("/splash.png")) && ok;
                const WindowInfo question = waitForWindow(screen, program, QuestionCaption);
                settle();
                ok = save(screen, question.frame, folder + QStringLiteral("/question.png")) && ok;
                screen.key("Return");
                const WindowInfo dialog = waitForWindow(screen, program, SettingsCaption);
                settle();
                ok = save(screen, dialog.frame, folder + QStringLiteral("/settings-dialog.png")) && ok;
            }
            {
                // The login, and its message after a wrong password, whose
                // caption the window manager shows whole.
                ProgramRun program(server);
                program.makeDemoDatabase();
                program.start();
                const WindowInfo login = waitForWindow(screen, program, LoginCaption);
                settle();
                ok = save(screen, login.frame, folder + QStringLiteral("/login.png")) && ok;
                screen.type("1");
                screen.key("Return");
                screen.key("a", {"Control_L"});
                screen.type("0000");
                screen.key("Return");
                const WindowInfo message = waitForWindow(screen, program, ApplicationTitle);
                settle();
                ok = save(screen, message.frame, folder + QStringLiteral("/login-message.png")) && ok;
                screen.key("Return");
                waitForWindow(screen, program, LoginCaption);
                screen.key("Escape");
                program.waitForExit(20s);
            }
            {
                // The main window's own commands, each chosen from its menu with the keys a person uses (the
                // first item of a menu opened with Alt is the current one; Down moves on), shot in their frames
                // over the main window.
                ProgramRun program(server);
                program.makeDemoDatabase();
                program.start();
                waitForWindow(screen, program, LoginCaption);
                screen.type("1");
                screen.key("Return");
                screen.key("Return");
                const WindowInfo main = waitForWindow(screen, program, MainWindowCaption);
                const struct
                {
                    const char* file;
                    const char* menuKey;
                    int downs;
                    QString caption;
                } windows[] = {
                    {"about.png", "h", 1, QStringLiteral("关于程序")},
                    {"help.png", "h", 0, QStringLiteral("系统帮助")},
                    {"backup-folder.png", "d", 5, QStringLiteral("选择备份文件夹")},
                    {"not-in-program.png", "y", 0, QuestionCaption},
                    {"password.png", "d", 3, QStringLiteral("更换密码")},
                    {"users.png", "d", 4, QStringLiteral("用户管理")},
                };
                for (const auto& shown : windows) {
                    screen.key(shown.menuKey, {"Alt_L"});
                    for (int i = 0; i < shown.downs; ++i)
                        screen.key("Down");
                    screen.key("Return");
                    const WindowInfo window = waitForWindow(screen, program, shown.caption);
                    settle();
                    ok = save(screen, window.frame, folder + u'/' + QLatin1String(shown.file)) && ok;
                    if (shown.caption == QStringLiteral("用户管理")) {
                        screen.key("a", {"Alt_L"}); // 新增(&A)
                        const WindowInfo form = waitForWindow(screen, program, QStringLiteral("新增用户"));
                        screen.type("3");
                        screen.key("Return");
                        screen.type("wang");
                        settle();
                        ok = save(screen, form.frame, folder + QStringLiteral("/add-operator.png")) && ok;
                        screen.key("Escape");
                        waitForWindowGone(screen, program, QStringLiteral("新增用户"));
                        waitForWindow(screen, program, shown.caption);
                    }
                    screen.key("Escape");
                    waitForWindowGone(screen, program, shown.caption);
                    waitForWindow(screen, program, MainWindowCaption);
                }
                screen.requestClose(main);
                program.waitForExit(20s);
            }
        }
        {
            // A till without a window manager: the main window maximised.
            XServer server(WindowManager::None, QSize(1024, 768));
            Screen screen(server);
            screen.parkPointer();
            ProgramRun program(server);
            program.makeDemoDatabase();
            program.start();
            waitForWindow(screen, program, LoginCaption);
            screen.type("1");
            screen.key("Return");
            screen.key("Return");
            waitForWindow(screen, program, MainWindowCaption);
            settle();
            ok = save(screen, QRect(QPoint(0, 0), screen.size()), folder + QStringLiteral("/main-window.png")) && ok;
        }
        return ok ? 0 : 1;
    } catch (const DriverError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
