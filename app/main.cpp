#include "app/StartupSequence.h"
#include "platform/QtPlatform.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // The program takes no options; its version is there for whoever installs it.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("velmora %s\n", VELMORA_VERSION);
        return 0;
    }
    // The program's name where a desktop lists programs (the X window class,
    // the desktop entry); captions stay exactly the windows' own.
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    QApplication app(argc, argv);
    // Closing the splash or a dialog during start-up must not end the program;
    // only the main window does that, once the message loop runs.
    QApplication::setQuitOnLastWindowClosed(false);
    velmora::installChineseUi(app);
    velmora::QtPlatform platform(app);
    velmora::StartupSequence sequence(platform);
    return sequence.run();
}
