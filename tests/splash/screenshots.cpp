// Shows the program's windows on a real X server and saves the screen area of
// each as a PNG, for the documentation. Run through scripts/screenshots.sh.
#include "platform/QtPlatform.h"
#include "settings/Tfrm_DBini.h"
#include "splash/Tfac.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

// Lets the window map, activate and paint (the splash plays its animation on
// activation), then waits a little longer for the last paint to land.
bool settle(QWidget& window)
{
    // No window manager runs on the virtual server to activate new windows.
    window.activateWindow();
    QDeadlineTimer deadline(5000);
    while (!(window.windowHandle() && window.windowHandle()->isExposed() && window.isActiveWindow())) {
        if (deadline.hasExpired())
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QEventLoop loop;
    QTimer::singleShot(700, &loop, &QEventLoop::quit);
    loop.exec();
    return window.windowHandle() && window.windowHandle()->isExposed();
}

// Grabs the screen itself, so that whatever lies outside a shaped window
// (the desktop behind its rounded corners) shows too.
bool saveScreenArea(const QWidget& window, const QString& path)
{
    const QRect area = window.frameGeometry();
    const QPixmap shot =
        QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (shot.isNull() || !shot.save(path, "PNG")) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    velmora::installChineseUi(app);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
        return 1;
    }
    bool ok = true;

    // A plain desktop behind the windows: the X server's own root is black.
    QWidget desktop(nullptr, Qt::Window | Qt::FramelessWindowHint);
    desktop.setGeometry(QGuiApplication::primaryScreen()->geometry());
    desktop.setPalette(QPalette(QColor(58, 110, 165)));
    desktop.setAutoFillBackground(true);
    desktop.show();
    settle(desktop);

    {
        // As the start-up shows it: no OK button, the welcome line. The splash
        // deletes itself when closed, so it lives on the heap.
        QPointer<velmora::Tfac> splash = new velmora::Tfac;
        splash->BitBtn1->hide();
        splash->show();
        ok = settle(*splash) && saveScreenArea(*splash, folder + QStringLiteral("/splash.png")) && ok;
        delete splash.data();
    }

    {
        velmora::QtPlatform platform(app);
        QTemporaryDir executableFolder; // no DBConn.ini: the dialog shows its defaults
        velmora::Tfrm_DBini dialog(platform, executableFolder.path() + QLatin1Char('/'));
        dialog.show();
        ok = settle(dialog) && saveScreenArea(dialog, folder + QStringLiteral("/settings-dialog.png")) && ok;
    }
    return ok ? 0 : 1;
}
