// Takes the documentation's screenshots of the real program on an X server of
// its own, at the moments a person sees them: under openbox the splash during
// the start-up's pause, the retry question, the settings dialog, the login
// dialog and its message after a wrong password; on a till without a window
// manager the main window after a sign-on, maximised. Run through
// scripts/screenshots.sh.
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
