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

// The desktops a till runs: no window manager at all (one program on the X
// server), openbox (LXDE's) and xfwm4 (Xfce's), which decorate, focus and
// stack windows each in their own way.
enum class WindowManager { None, Openbox, Xfwm4 };
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
    pid_t m_wmPid = -1; // leads a process group of its own (xfwm4 brings a session bus)
    std::string m_wmHome;
    Display* m_connection = nullptr;
};

// One top-level window of a program as the server knows it.
struct WindowInfo
{
    unsigned long id = 0;           // the client's own window (not a window manager's frame)
    QString netName;                // _NET_WM_NAME (UTF-8)
    QString wmName;                 // WM_NAME, decoded from its text encoding
    QString wmClassName;            // the class half of WM_CLASS
    QRect geometry;                 // on the screen, root coordinates
    bool overrideRedirect = false;  // popups: menus, tool tips
    QStringList states;             // _NET_WM_STATE atom names
    QStringList types;              // _NET_WM_WINDOW_TYPE atom names, in their order
    unsigned long transientFor = 0; // WM_TRANSIENT_FOR
    QRect frame;                    // the window manager's frame around it (the window itself when none)
    // _MOTIF_WM_HINTS: which decorations and functions the window asks for.
    bool hasMotifHints = false;
    unsigned long motifFlags = 0, motifFunctions = 0, motifDecorations = 0;
    // WM_NORMAL_HINTS: the sizes a window manager may give it (empty: none asked).
    QSize minSize, maxSize;

    bool asksForMinimize() const;
};

// The server as a test reads and drives it.
class Screen
{
public:
    explicit Screen(XServer& server);

    // While the returned object lives the X server serves this connection
    // alone (a server grab), so windows, places and pixels read in several
    // requests are all of one moment: no window is mapped or moved between
    // the list and the pixel read for it.
    class Still
    {
    public:
        explicit Still(Display* display);
        ~Still();
        Still(const Still&) = delete;
        Still& operator=(const Still&) = delete;

    private:
        Display* m_display;
    };
    [[nodiscard]] Still still() const { return Still(m_display); }

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
    // The pointer at the screen's bottom-right corner, so that no key depends
    // on where it rests.
    void parkPointer();
    QSize size() const;

    // The desktop behind the windows, one colour.
    void setDesktopColour(QRgb colour);

    // What a window manager's close box asks of a window (WM_DELETE_WINDOW).
    void requestClose(const WindowInfo& window);
    // What a minimise button asks of the window manager (WM_CHANGE_STATE).
    void requestMinimize(const WindowInfo& window);
    // What a task bar or a pager asks when the window is chosen (_NET_ACTIVE_WINDOW).
    void requestActivate(const WindowInfo& window);
    // What a restore or maximise button asks (_NET_WM_STATE).
    void requestMaximized(const WindowInfo& window, bool maximized);
    void requestState(const WindowInfo& window, const char* state, bool on);
    // A drag with the left button held, in steps, as a hand moves a mouse.
    void drag(QPoint from, QPoint to);
    // The screen's area for windows (_NET_WORKAREA, else the whole screen).
    QRect workArea() const;
    // The window that holds the keyboard (X input focus).
    unsigned long keyboardWindow() const;
    // Whether the window manager, if one runs, counts the window as active
    // too (_NET_ACTIVE_WINDOW): until it does it may still hold a grab that
    // takes the next click for itself.
    bool activeForWindowManager(const WindowInfo& window) const;
    // A plain window of the test's own with this caption, for comparing what a
    // window manager draws around it with what it draws around the program's.
    unsigned long createWindow(const QString& caption, QSize size);
    void destroyWindow(unsigned long window);
    // The window by its id, while it is viewable.
    std::optional<WindowInfo> window(unsigned long id) const;

private:
    void pressKeysym(unsigned long keysym, bool withShift);
    // What the server holds about these windows, those of process pid (0: any).
    std::vector<WindowInfo> describe(const std::vector<unsigned long>& clients, pid_t pid) const;

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
    // The first value the statement gives on a database file (a path in the folder, or an absolute one), as
    // text; empty when it gives none.
    QString firstValue(const QString& path, const QString& sql) const;
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
// The program's window that holds the keyboard, once it is one of this
// _NET_WM_WINDOW_TYPE ("_NET_WM_WINDOW_TYPE_DIALOG", "..._NORMAL") and not the
// window `other`; found without looking at its name, so that a test can check
// the caption it then reads.
WindowInfo waitForKeyboardWindow(Screen& screen, ProgramRun& program, const QString& type, const std::string& what,
                                 unsigned long other = 0, std::chrono::milliseconds limit = 20s);
// Waits until the program has no window named name on the screen.
void waitForWindowGone(Screen& screen, ProgramRun& program, const QString& name, std::chrono::milliseconds limit = 20s);

// Where the program's binaries and the project's sources are.
QString binaryFolder();
QString sourceFolder();

} // namespace velmora::xtest
