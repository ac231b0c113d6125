// Takes the documentation's screenshots of the real program on an X server of
// its own, at the moments a person sees them: the splash during the start-up's
// pause, the retry question, the settings dialog, the login dialog, the
// main window after a sign-on and the windows of its own commands. Run
// through scripts/screenshots.sh.
#include "tests/x11/ProgramWindows.h"

#include <QDir>

#include <cstdio>

using namespace velmora::xtest;

namespace {

// A window with a margin of the desktop around it, so rounded corners show.
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
        XServer server(WindowManager::Openbox, QSize(1024, 768));
        Screen screen(server);
        screen.setDesktopColour(qRgb(58, 110, 165));
        bool ok = true;
        {
            // A failed connect: the splash during the pause, the question and
            // the settings dialog.
            ProgramRun program(server);
            program.writeSettings(QStringLiteral("data/velmdb.mdb"), QStringLiteral("admin"), QStringLiteral("x"));
            program.start();
            const PaintedSplash splash = waitForPaintedSplash(screen, program);
            ok = save(screen, splash.place, folder + QStringLiteral("/splash.png")) && ok;
            const WindowInfo question = waitForWindow(screen, program, QuestionCaption);
            settle();
            ok = save(screen, question.geometry.adjusted(0, -24, 0, 0), folder + QStringLiteral("/question.png")) && ok;
            screen.key("Return");
            const WindowInfo dialog = waitForWindow(screen, program, SettingsCaption);
            settle();
            ok =
                save(screen, dialog.geometry.adjusted(0, -24, 0, 0), folder + QStringLiteral("/settings-dialog.png")) &&
                ok;
        }
        {
            ProgramRun program(server);
            program.makeDemoDatabase();
            program.start();
            const WindowInfo login = waitForWindow(screen, program, LoginCaption);
            settle();
            ok = save(screen, login.geometry.adjusted(0, -24, 0, 0), folder + QStringLiteral("/login.png")) && ok;
            screen.type("1");
            screen.key("Return");
            screen.key("Return");
            const WindowInfo main = waitFor("the main window alone", 20s, [&]() -> std::optional<WindowInfo> {
                if (screen.findWindow(program.pid(), [](const WindowInfo& w) { return w.netName == LoginCaption; }))
                    return std::nullopt;
                return screen.findWindow(program.pid(),
                                         [](const WindowInfo& w) { return w.netName == MainWindowCaption; });
            });
            settle();
            ok = save(screen, main.geometry, folder + QStringLiteral("/main-window.png")) && ok;

            // The main window's own commands, each chosen from its menu with the keys a person uses (the first
            // item of a menu opened with Alt is the current one; Down moves on), shot over the main window.
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
                ok = save(screen, window.geometry.adjusted(0, -24, 0, 0), folder + u'/' + QLatin1String(shown.file)) &&
                     ok;
                if (shown.caption == QStringLiteral("用户管理")) {
                    screen.key("a", {"Alt_L"}); // 新增(&A)
                    const WindowInfo form = waitForWindow(screen, program, QStringLiteral("新增用户"));
                    screen.type("3");
                    screen.key("Return");
                    screen.type("wang");
                    settle();
                    ok = save(screen, form.geometry.adjusted(0, -24, 0, 0),
                              folder + QStringLiteral("/add-operator.png")) &&
                         ok;
                    screen.key("Escape");
                    waitForWindowGone(screen, program, QStringLiteral("新增用户"));
                    waitForWindow(screen, program, shown.caption);
                }
                screen.key("Escape");
                waitForWindowGone(screen, program, shown.caption);
                waitForWindow(screen, program, MainWindowCaption);
            }
        }
        return ok ? 0 : 1;
    } catch (const DriverError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
