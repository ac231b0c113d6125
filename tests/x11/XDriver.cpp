#include "tests/x11/XDriver.h"

#include <QFile>
#include <QStringList>

// After Qt's headers: Xlib defines Bool, None and Status as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <sqlite3.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::xtest {

namespace {

void sleepFor(std::chrono::milliseconds span)
{
    struct timespec pause
    {
        time_t(span.count() / 1000), long(span.count() % 1000) * 1'000'000
    };
    nanosleep(&pause, nullptr);
}

// Windows come and go while the tests look at them; a request about a window
// that has just gone is not a failure of the test.
int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}

// The environment of a child: the parent's, with these names set (an empty
// value removes the name).
std::vector<std::string> childEnvironment(const std::vector<std::pair<std::string, std::string>>& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        bool changed = false;
        for (const auto& change : changes)
            changed = changed || change.first == name;
        if (!changed)
            env.push_back(entry);
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty())
            env.push_back(name + '=' + value);
    }
    return env;
}

// Starts a program that dies with the test process. keepFd stays open in the
// child; every other descriptor of the parent is close-on-exec or closed.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int keepFd = -1,
            bool quiet = true)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        throw DriverError("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (keepFd >= 0)
            fcntl(keepFd, F_SETFD, 0);
        if (quiet) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int waitForChild(pid_t pid, std::chrono::milliseconds limit, const std::string& what)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            throw DriverError("timed out waiting for " + what);
        }
        sleepFor(10ms);
    }
}

void runTool(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{(binaryFolder() + QStringLiteral("/velmora-db")).toStdString()};
    argv.insert(argv.end(), args.begin(), args.end());
    const int status = waitForChild(spawn(argv, childEnvironment({})), 60s, "velmora-db " + args.front());
    if (status != 0)
        throw DriverError("velmora-db " + args.front() + " failed with status " + std::to_string(status));
}

unsigned long atom(Display* display, const char* name)
{
    return XInternAtom(display, name, False);
}

// A property of 8-bit items as bytes, or nothing.
std::optional<QByteArray> byteProperty(Display* display, Window window, Atom property, Atom type)
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 65536, False, type, &actualType, &format, &count, &after,
                           &data) != Success ||
        data == nullptr)
        return std::nullopt;
    std::optional<QByteArray> result;
    if (format == 8 && actualType != None)
        result = QByteArray(reinterpret_cast<const char*>(data), int(count));
    XFree(data);
    return result;
}

// A property of 32-bit items (CARDINAL, ATOM, WINDOW).
std::vector<unsigned long> longProperty(Display* display, Window window, Atom property, Atom type)
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, type, &actualType, &format, &count, &after,
                           &data) == Success &&
        data != nullptr) {
        if (format == 32) {
            const auto* items = reinterpret_cast<const unsigned long*>(data);
            values.assign(items, items + count);
        }
        XFree(data);
    }
    return values;
}

QString decodedWmName(Display* display, Window window)
{
    XTextProperty text{};
    if (XGetWMName(display, window, &text) == 0 || text.value == nullptr)
        return {};
    char** list = nullptr;
    int count = 0;
    QString name;
    if (Xutf8TextPropertyToTextList(display, &text, &list, &count) >= Success && list != nullptr) {
        if (count > 0)
            name = QString::fromUtf8(list[0]);
        XFreeStringList(list);
    }
    XFree(text.value);
    return name;
}

void collectClients(Display* display, Window window, int depth, std::vector<Window>& clients)
{
    if (!longProperty(display, window, atom(display, "_NET_WM_PID"), XA_CARDINAL).empty()) {
        clients.push_back(window);
        return;
    }
    if (depth == 0)
        return;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0)
        return;
    for (unsigned int i = 0; i < count; ++i)
        collectClients(display, children[i], depth - 1, clients);
    if (children != nullptr)
        XFree(children);
}

} // namespace

const char* windowManagerName(WindowManager wm)
{
    return wm == WindowManager::Openbox ? "openbox" : "bare";
}

QString binaryFolder()
{
    return QStringLiteral(VELMORA_BIN_DIR);
}

QString sourceFolder()
{
    return QStringLiteral(VELMORA_SOURCE_DIR);
}

// ---------------------------------------------------------------- XServer

XServer::XServer(WindowManager wm, QSize screen) : m_wm(wm)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw DriverError("pipe: " + std::string(std::strerror(errno)));
    const std::string size = std::to_string(screen.width()) + 'x' + std::to_string(screen.height()) + "x24";
    // -displayfd: the server picks a free display itself and tells which.
    m_xvfb = spawn(
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", size, "-nolisten", "tcp", "-br", "-noreset"},
        childEnvironment({}), fds[1]);
    close(fds[1]);
    std::string number;
    const auto deadline = Clock::now() + 20s;
    while (number.empty() || number.back() != '\n') {
        pollfd p{fds[0], POLLIN, 0};
        if (Clock::now() > deadline || poll(&p, 1, 100) < 0) {
            close(fds[0]);
            throw DriverError("timed out waiting for Xvfb to name its display");
        }
        char c = 0;
        if ((p.revents & (POLLIN | POLLHUP)) != 0) {
            if (read(fds[0], &c, 1) != 1) {
                close(fds[0]);
                throw DriverError("Xvfb ended before naming its display (is the xvfb package installed?)");
            }
            number += c;
        }
    }
    close(fds[0]);
    number.pop_back();
    m_display = ':' + number;

    m_connection = XOpenDisplay(m_display.c_str());
    if (m_connection == nullptr)
        throw DriverError("cannot connect to Xvfb on " + m_display);
    XSetErrorHandler(ignoreXErrors);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(m_connection, &event, &error, &major, &minor))
        throw DriverError("the X server has no XTest extension");
    if (wm == WindowManager::Openbox)
        startWindowManager();
}

void XServer::startWindowManager()
{
    m_wmPid = spawn({"openbox", "--sm-disable"}, childEnvironment({{"DISPLAY", m_display}}));
    // The window manager is ready once it names itself on the root window.
    const Window root = DefaultRootWindow(m_connection);
    waitFor("openbox to manage the screen", 20s, [&]() -> std::optional<bool> {
        if (longProperty(m_connection, root, atom(m_connection, "_NET_SUPPORTING_WM_CHECK"), XA_WINDOW).empty())
            return std::nullopt;
        return true;
    });
}

XServer::~XServer()
{
    if (m_connection != nullptr)
        XCloseDisplay(m_connection);
    for (const pid_t pid : {m_wmPid, m_xvfb}) {
        if (pid > 0) {
            kill(pid, SIGTERM);
            try {
                waitForChild(pid, 5s, "the X server to stop");
            } catch (const DriverError&) {
            }
        }
    }
}

// ---------------------------------------------------------------- Screen

Screen::Screen(XServer& server) : m_server(server), m_display(server.connection())
{
    // WM_NAME may come in the locale's encoding; decode it as UTF-8 text.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    XSupportsLocale();
}

std::vector<WindowInfo> Screen::windowsOf(pid_t pid) const
{
    std::vector<Window> clients;
    collectClients(m_display, DefaultRootWindow(m_display), 3, clients);
    std::vector<WindowInfo> windows;
    const Atom utf8 = atom(m_display, "UTF8_STRING");
    for (const Window window : clients) {
        const auto owner = longProperty(m_display, window, atom(m_display, "_NET_WM_PID"), XA_CARDINAL);
        if (owner.empty() || pid_t(owner.front()) != pid)
            continue;
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(m_display, window, &attributes) == 0 || attributes.map_state != IsViewable)
            continue;
        WindowInfo info;
        info.id = window;
        info.overrideRedirect = attributes.override_redirect != 0;
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
        info.geometry = QRect(x, y, attributes.width, attributes.height);
        if (auto name = byteProperty(m_display, window, atom(m_display, "_NET_WM_NAME"), utf8))
            info.netName = QString::fromUtf8(*name);
        info.wmName = decodedWmName(m_display, window);
        if (auto wmClass = byteProperty(m_display, window, XA_WM_CLASS, XA_STRING)) {
            const QList<QByteArray> parts = wmClass->split('\0');
            if (parts.size() >= 2)
                info.wmClassName = QString::fromLatin1(parts[1]);
        }
        for (const unsigned long state : longProperty(m_display, window, atom(m_display, "_NET_WM_STATE"), XA_ATOM)) {
            if (char* name = XGetAtomName(m_display, state)) {
                info.states << QString::fromLatin1(name);
                XFree(name);
            }
        }
        windows.push_back(info);
    }
    return windows;
}

std::optional<WindowInfo> Screen::findWindow(pid_t pid, const std::function<bool(const WindowInfo&)>& match) const
{
    for (const WindowInfo& window : windowsOf(pid)) {
        if (match(window))
            return window;
    }
    return std::nullopt;
}

QImage Screen::grab(const QRect& wanted) const
{
    const QRect area = wanted.intersected(QRect(0, 0, DisplayWidth(m_display, DefaultScreen(m_display)),
                                                DisplayHeight(m_display, DefaultScreen(m_display))));
    if (area.isEmpty())
        return {};
    XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), area.x(), area.y(), unsigned(area.width()),
                              unsigned(area.height()), AllPlanes, ZPixmap);
    if (image == nullptr)
        return {};
    QImage result(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < area.width(); ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            line[x] =
                qRgb(int((p & image->red_mask) >> 16), int((p & image->green_mask) >> 8), int(p & image->blue_mask));
        }
    }
    XDestroyImage(image);
    return result;
}

QRgb Screen::pixel(QPoint at) const
{
    const QImage one = grab(QRect(at, QSize(1, 1)));
    return one.isNull() ? 0 : one.pixel(0, 0);
}

void Screen::pressKeysym(unsigned long keysym, bool withShift)
{
    const KeyCode code = XKeysymToKeycode(m_display, keysym);
    if (code == 0)
        throw DriverError("no key for keysym " + std::to_string(keysym));
    const KeyCode shift = XKeysymToKeycode(m_display, XK_Shift_L);
    if (withShift)
        XTestFakeKeyEvent(m_display, shift, True, CurrentTime);
    XTestFakeKeyEvent(m_display, code, True, CurrentTime);
    XTestFakeKeyEvent(m_display, code, False, CurrentTime);
    if (withShift)
        XTestFakeKeyEvent(m_display, shift, False, CurrentTime);
    XSync(m_display, False);
    sleepFor(15ms);
}

void Screen::key(const char* keysymName, const std::vector<const char*>& modifiers)
{
    const KeySym keysym = XStringToKeysym(keysymName);
    if (keysym == NoSymbol)
        throw DriverError(std::string("unknown key ") + keysymName);
    std::vector<KeyCode> held;
    for (const char* modifier : modifiers) {
        const KeyCode code = XKeysymToKeycode(m_display, XStringToKeysym(modifier));
        XTestFakeKeyEvent(m_display, code, True, CurrentTime);
        held.push_back(code);
    }
    pressKeysym(keysym, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        XTestFakeKeyEvent(m_display, *it, False, CurrentTime);
    XSync(m_display, False);
}

void Screen::type(const std::string& ascii)
{
    for (const char c : ascii) {
        // Printable ASCII characters are their own keysyms; a character that is
        // not on the key's first level needs Shift.
        const KeySym keysym = KeySym(static_cast<unsigned char>(c));
        const KeyCode code = XKeysymToKeycode(m_display, keysym);
        if (code == 0)
            throw DriverError(std::string("no key types '") + c + "'");
        int perCode = 0;
        KeySym* symbols = XGetKeyboardMapping(m_display, code, 1, &perCode);
        const bool shifted = perCode > 0 && symbols[0] != keysym;
        XFree(symbols);
        pressKeysym(keysym, shifted);
    }
}

bool Screen::hasKeyboard(const WindowInfo& window) const
{
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(m_display, &focus, &revert);
    return focus == window.id;
}

void Screen::movePointer(QPoint to)
{
    XTestFakeMotionEvent(m_display, -1, to.x(), to.y(), CurrentTime);
    XSync(m_display, False);
    sleepFor(30ms);
}

void Screen::click(QPoint at, int button)
{
    movePointer(at);
    XTestFakeButtonEvent(m_display, unsigned(button), True, CurrentTime);
    XTestFakeButtonEvent(m_display, unsigned(button), False, CurrentTime);
    XSync(m_display, False);
    sleepFor(15ms);
}

void Screen::setDesktopColour(QRgb colour)
{
    const Window root = DefaultRootWindow(m_display);
    XSetWindowBackground(m_display, root, (qRed(colour) << 16) | (qGreen(colour) << 8) | qBlue(colour));
    XClearWindow(m_display, root);
    XSync(m_display, False);
}

void Screen::requestClose(const WindowInfo& window)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.id;
    event.xclient.message_type = atom(m_display, "WM_PROTOCOLS");
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(atom(m_display, "WM_DELETE_WINDOW"));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, window.id, False, NoEventMask, &event);
    XSync(m_display, False);
}

// ---------------------------------------------------------------- ProgramRun

ProgramRun::ProgramRun(XServer& server) : m_server(server)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-x11.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw DriverError("mkdtemp: " + std::string(std::strerror(errno)));
    m_folder = QString::fromStdString(pattern);
    std::filesystem::copy_file((binaryFolder() + QStringLiteral("/velmora")).toStdString(),
                               (m_folder + QStringLiteral("/velmora")).toStdString());
}

ProgramRun::~ProgramRun()
{
    if (m_pid > 0 && !m_status) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_folder.toStdString(), ignored);
}

void ProgramRun::writeSettings(const QString& source, const QString& user, const QString& password)
{
    QFile file(m_folder + QStringLiteral("/DBConn.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw DriverError("cannot write DBConn.ini");
    file.write(
        QStringLiteral("[Velmora]\nDB_Source=%1\nDB_User=%2\nDB_Password=%3\n").arg(source, user, password).toUtf8());
}

QString ProgramRun::readSettings() const
{
    QFile file(m_folder + QStringLiteral("/DBConn.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

void ProgramRun::makeDemoDatabase(const QString& relativePath, const QString& dbPassword)
{
    const std::string path = (m_folder + u'/' + relativePath).toStdString();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string password = dbPassword.toStdString();
    runTool({"create", path, "--password", password});
    // The demo's administrator signs on with the login box's pre-fill, on purpose, as scripts/make-demo-db.sh makes it.
    runTool({"add-operator", path, "--db-password", password, "--username", "admin", "--userid", "1", "--password",
             "1234", "--groups", "all", "--allow-weak"});
    runTool({"add-operator", path, "--db-password", password, "--username", "clerk", "--userid", "2", "--password",
             "5678", "--groups", "0,1"});
}

namespace {

struct SqliteFile
{
    explicit SqliteFile(const std::string& path)
    {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw DriverError("cannot open " + path);
    }
    ~SqliteFile() { sqlite3_close(db); }
    sqlite3* db = nullptr;
};

} // namespace

void ProgramRun::dropTable(const QString& relativePath, const QString& table)
{
    SqliteFile file((m_folder + u'/' + relativePath).toStdString());
    const std::string sql = "DROP TABLE \"" + table.toStdString() + "\"";
    if (sqlite3_exec(file.db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw DriverError(sql + ": " + sqlite3_errmsg(file.db));
}

void ProgramRun::stampSchemaVersion(const QString& relativePath, int version)
{
    SqliteFile file((m_folder + u'/' + relativePath).toStdString());
    const std::string sql = "PRAGMA user_version = " + std::to_string(version);
    if (sqlite3_exec(file.db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw DriverError(sql + ": " + sqlite3_errmsg(file.db));
}

int ProgramRun::countRows(const QString& relativePath, const QString& table) const
{
    SqliteFile file((m_folder + u'/' + relativePath).toStdString());
    const std::string sql = "SELECT count(*) FROM \"" + table.toStdString() + "\"";
    sqlite3_stmt* statement = nullptr;
    int rows = -1;
    if (sqlite3_prepare_v2(file.db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        rows = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    return rows;
}

void ProgramRun::start()
{
    std::vector<std::pair<std::string, std::string>> changes{{"DISPLAY", m_server.display()},
                                                             {"QT_QPA_PLATFORM", "xcb"}};
    // Under AddressSanitizer, libxkbcommon's strndup of a keymap name that is
    // bounded by its length but not terminated trips the strict string check
    // when the program connects to the X server; the check stays on elsewhere.
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        changes.emplace_back("ASAN_OPTIONS", std::string(asan) + ":strict_string_checks=0");
    m_status.reset();
    // As a person starts it: on the X server, from any working folder.
    m_pid = spawn({(m_folder + QStringLiteral("/velmora")).toStdString()}, childEnvironment(changes), -1, false);
}

void ProgramRun::runVelmoraDb(std::vector<std::string> arguments) const
{
    for (std::string& argument : arguments)
        if (argument.rfind("DB:", 0) == 0)
            argument = (m_folder + u'/').toStdString() + argument.substr(3);
    runTool(arguments);
}

bool ProgramRun::running()
{
    if (m_status || m_pid <= 0)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

int ProgramRun::waitForExit(std::chrono::milliseconds limit)
{
    return waitFor("the program to end", limit, [&]() -> std::optional<int> {
        if (running())
            return std::nullopt;
        return m_status.value_or(-1);
    });
}

namespace {

// What the program has on the screen, for a wait that ran out.
std::string describeWindows(const Screen& screen, pid_t pid)
{
    std::string text = "; the program's windows:";
    for (const WindowInfo& w : screen.windowsOf(pid)) {
        text += " [\"" + w.netName.toStdString() + "\" / \"" + w.wmName.toStdString() + "\" " +
                std::to_string(w.geometry.width()) + 'x' + std::to_string(w.geometry.height()) +
                (screen.hasKeyboard(w) ? " with the keyboard]" : "]");
    }
    return text;
}

} // namespace

WindowInfo waitForWindow(Screen& screen, ProgramRun& program, const QString& name, std::chrono::milliseconds limit)
{
    try {
        return waitForNamedWindow(screen, program, name, limit);
    } catch (const DriverError& error) {
        throw DriverError(error.what() + describeWindows(screen, program.pid()));
    }
}

WindowInfo waitForNamedWindow(Screen& screen, ProgramRun& program, const QString& name, std::chrono::milliseconds limit)
{
    return waitFor("a window named \"" + name.toStdString() + "\" holding the keyboard", limit,
                   [&]() -> std::optional<WindowInfo> {
                       if (!program.running())
                           throw DriverError("the program ended while waiting for \"" + name.toStdString() + '"');
                       return screen.findWindow(program.pid(), [&](const WindowInfo& w) {
                           return w.netName == name && w.wmName == name && screen.hasKeyboard(w);
                       });
                   });
}

} // namespace velmora::xtest
