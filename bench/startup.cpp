// velmora-bench-startup: the program's start-up as app/main.cpp runs it, with a platform that writes a
// CLOCK_MONOTONIC stamp to stdout at each step and stops where the login dialog would be shown. Its fixed
// 1000 ms pause is skipped (it only sleeps), so the time measured is the start-up's own work.
//
//     velmora-bench-startup           the start-up; DBConn.ini and the database beside this executable
//     velmora-bench-startup --floor   the least a Qt program does to show a dialog: the floor of the above
//
// Output lines: "stamp NAME NANOSECONDS REALTIME_NANOSECONDS" (the second for a timer outside, such as a shell's
// $EPOCHREALTIME), "skipped-pause MS", "box TEXT" (a message box, answered No / OK so
// that nothing waits for a person).

#include "app/StartupSequence.h"
#include "platform/QtPlatform.h"

#include <QApplication>
#include <QDialog>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

using namespace velmora;

void stamp(const char* name)
{
    timespec t{}, real{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    clock_gettime(CLOCK_REALTIME, &real);
    std::printf("stamp %s %lld %lld\n", name, static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec,
                static_cast<long long>(real.tv_sec) * 1000000000LL + real.tv_nsec);
    std::fflush(stdout);
}

// QtPlatform with stamps; the login dialog is recorded and not shown, and the program then ends.
class TimingPlatform final : public Platform
{
public:
    explicit TimingPlatform(Platform& inner) : m_inner(inner) {}

    MsgAnswer messageBox(const MessageBoxRequest& request) override
    {
        std::printf("box %s\n", request.text.toUtf8().constData());
        std::fflush(stdout);
        return request.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    void pause(int milliseconds) override
    {
        stamp("pause");
        std::printf("skipped-pause %d\n", milliseconds);
    }
    int showModal(QDialog& dialog) override
    {
        if (dialog.objectName() != QLatin1String("Flogin"))
            return m_inner.showModal(dialog);
        stamp("login-dialog");
        m_inner.requestEnd();
        return QDialog::Rejected;
    }
    void repaintNow(QWidget& window) override
    {
        m_inner.repaintNow(window);
        stamp("repaint");
    }
    void setApplicationTitle(const QString& title) override
    {
        stamp("title");
        m_inner.setApplicationTitle(title);
    }
    QString applicationTitle() const override { return m_inner.applicationTitle(); }
    void requestEnd() override { m_inner.requestEnd(); }
    bool endRequested() const override { return m_inner.endRequested(); }
    int runMessageLoop(QWidget* mainWindow) override { return m_inner.runMessageLoop(mainWindow); }
    QString executableFolder() const override { return m_inner.executableFolder(); }

private:
    Platform& m_inner;
};

} // namespace

int main(int argc, char** argv)
{
    stamp("main");
    // Nothing here may wait for a person for ever.
    alarm(300);
    const bool floor = argc > 1 && std::strcmp(argv[1], "--floor") == 0;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    installChineseUi(app);
    QtPlatform qtPlatform(app);
    TimingPlatform platform(qtPlatform);
    stamp("application");
    if (floor) {
        QDialog dialog;
        dialog.setObjectName(QStringLiteral("Flogin"));
        platform.showModal(dialog);
        return 0;
    }
    StartupSequence sequence(platform);
    const int status = sequence.run();
    stamp("end");
    return status;
}
