#pragma once

// Drives the real velmora binary on an X server of its own: starts Xvfb (and
// optionally a window manager), runs the program in a folder of its own,
// finds its windows by their names on the server, presses keys and clicks
// through XTest, and reads pixels back from the screen. Every wait has a time
// limit and says what it waited for when it runs out.

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <ctime>
#include <sys/types.h>

typedef struct _XDisplay Display;

namespace velmora::xtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A wait that ran out, or a server or program that could not be started.
class DriverError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class WindowManager { None, Openbox };
const char* windowManagerName(WindowManager wm);

// Xvfb on a display it picks itself, stopped (with its window manager) when
// this object goes, or when the test process dies.
class XServer
{
public:
    explicit XServer(WindowManager wm, QSize screen = {1280, 1024});
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& display() const { return m_display; }
    WindowManager windowManager() const { return m_wm; }
    Display* connection() const { return m_connection; }

private:
    void startWindowManager();

    WindowManager m_wm;
    std::string m_display;
    pid_t m_xvfb = -1;
    pid_t m_wmPid = -1;
    Display* m_connection = nullptr;
};

// One top-level window of a program as the server knows it.
struct WindowInfo
{
    unsigned long id = 0;          // the client's own window (not a window manager's frame)
    QString netName;               // _NET_WM_NAME (UTF-8)
    QString wmName;                // WM_NAME, decoded from its text encoding
    QString wmClassName;           // the class half of WM_CLASS
    QRect geometry;                // on the screen, root coordinates
    bool overrideRedirect = false; // popups: menus, tool tips
    QStringList states;            // _NET_WM_STATE atom names
};

// The server as a test reads and drives it.
class Screen
{
public:
    explicit Screen(XServer& server);

    // Viewable top-level windows that belong to the process pid (_NET_WM_PID).
    std::vector<WindowInfo> windowsOf(pid_t pid) const;
    std::optional<WindowInfo> findWindow(pid_t pid, const std::function<bool(const WindowInfo&)>& match) const;

    // Whether the window holds the keyboard (X input focus).
    bool hasKeyboard(const WindowInfo& window) const;

    // What the screen shows in this area, read with XGetImage from the root.
    QImage grab(const QRect& area) const;
    QRgb pixel(QPoint at) const;

    // Input through XTest, as a keyboard and a mouse would give it.
    void key(const char* keysymName, const std::vector<const char*>& modifiers = {});
    void type(const std::string& ascii);
    void click(QPoint at, int button = 1);
    void movePointer(QPoint to);

    // The desktop behind the windows, one colour.
    void setDesktopColour(QRgb colour);

    // What a window manager's close box asks of a window (WM_DELETE_WINDOW).
    void requestClose(const WindowInfo& window);

private:
    void pressKeysym(unsigned long keysym, bool withShift);

    XServer& m_server;
    Display* m_display;
};

// The real program in a temporary folder of its own: the binary copied there
// (it finds DBConn.ini and its database beside itself), its settings and its
// database made by the test.
class ProgramRun
{
public:
    // An empty folder with the program; write its settings and database next.
    explicit ProgramRun(XServer& server);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    QString folder() const { return m_folder; }
    void writeSettings(const QString& source, const QString& user, const QString& password);
    QString readSettings() const;
    // The demo shop: operators 1 (admin/1234, every group) and 2 (clerk/5678).
    void makeDemoDatabase(const QString& relativePath = QStringLiteral("data/velmdb.mdb"),
                          const QString& dbPassword = QStringLiteral("mivotelq"));
    // A database made with velmora-db, then one of its tables dropped.
    void dropTable(const QString& relativePath, const QString& table);
    int countRows(const QString& relativePath, const QString& table) const;
    // Stamps the database file with a schema version (its user_version), as a newer program would.
    void stampSchemaVersion(const QString& relativePath, int version);
    // velmora-db with the arguments, "DB:" before a path inside the folder; a DriverError when it fails.
    void runVelmoraDb(std::vector<std::string> arguments) const;

    // Starts the program; once it has ended, again, as a person starts it anew.
    void start();
    pid_t pid() const { return m_pid; }
    bool running();
    // The exit status, or a DriverError when the program has not ended in time.
    int waitForExit(std::chrono::milliseconds limit);

private:
    XServer& m_server;
    QString m_folder;
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// Waits until check() gives a value; throws a DriverError naming `what`.
template <typename F>
auto waitFor(const std::string& what, std::chrono::milliseconds limit, F check) ->
    typename decltype(check())::value_type
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (auto value = check())
            return *value;
        if (Clock::now() > deadline)
            throw DriverError("timed out after " + std::to_string(limit.count()) + " ms waiting for " + what);
        struct timespec pause
        {
            0, 5'000'000
        };
        nanosleep(&pause, nullptr);
    }
}

// The window of the program whose _NET_WM_NAME is exactly name, once it is
// on the screen and holds the keyboard, so that keys pressed next reach it.
WindowInfo waitForWindow(Screen& screen, ProgramRun& program, const QString& name,
                         std::chrono::milliseconds limit = 20s);
WindowInfo waitForNamedWindow(Screen& screen, ProgramRun& program, const QString& name,
                              std::chrono::milliseconds limit);

// Where the program's binaries and the project's sources are.
QString binaryFolder();
QString sourceFolder();

} // namespace velmora::xtest
