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
            bool quiet = true, bool ownGroup = false)
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
        if (ownGroup)
            setpgid(0, 0);
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
    // (Xlib's None macro hides WindowManager::None in this file.)
    if (wm == WindowManager::Openbox)
        return "openbox";
    if (wm == WindowManager::Xfwm4)
        return "xfwm4";
    return "bare";
}

namespace {

// _MOTIF_WM_HINTS
constexpr unsigned long MwmHintsFunctions = 1, MwmHintsDecorations = 2;
constexpr unsigned long MwmAll = 1, MwmFuncMinimize = 8, MwmDecorMinimize = 32;

bool asks(unsigned long flags, unsigned long flag, unsigned long values, unsigned long minimize)
{
    if ((flags & flag) == 0)
        return true; // nothing said: a window manager's default, every button
    // "All" lists what is left out; otherwise what is asked for.
    return (values & MwmAll) != 0 ? (values & minimize) == 0 : (values & minimize) != 0;
}

} // namespace

bool WindowInfo::asksForMinimize() const
{
    if (!hasMotifHints)
        return true;
    return asks(motifFlags, MwmHintsFunctions, motifFunctions, MwmFuncMinimize) ||
           asks(motifFlags, MwmHintsDecorations, motifDecorations, MwmDecorMinimize);
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
    if (wm == WindowManager::Openbox || wm == WindowManager::Xfwm4)
        startWindowManager();
}

void XServer::startWindowManager()
{
    if (m_wm == WindowManager::Xfwm4) {
        // xfwm4 reads its settings through a session bus of its own; its
        // settings folder is a temporary one, and no accessibility bus.
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-xfwm4.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw DriverError("mkdtemp: " + std::string(std::strerror(errno)));
        m_wmHome = pattern;
        m_wmPid = spawn({"dbus-run-session", "--", "xfwm4", "--compositor=off"},
                        childEnvironment({{"DISPLAY", m_display},
                                          {"HOME", m_wmHome},
                                          {"XDG_CONFIG_HOME", m_wmHome + "/config"},
                                          {"XDG_CACHE_HOME", m_wmHome + "/cache"},
                                          {"NO_AT_BRIDGE", "1"},
                                          {"DBUS_SESSION_BUS_ADDRESS", ""}}),
                        -1, true, true);
    } else {
        m_wmPid = spawn({"openbox", "--sm-disable"}, childEnvironment({{"DISPLAY", m_display}}), -1, true, true);
    }
    // The window manager is ready once it names itself on the root window.
    const Window root = DefaultRootWindow(m_connection);
    waitFor(std::string(windowManagerName(m_wm)) + " to name itself", 20s, [&]() -> std::optional<bool> {
        if (longProperty(m_connection, root, atom(m_connection, "_NET_SUPPORTING_WM_CHECK"), XA_WINDOW).empty())
            return std::nullopt;
        return true;
    });
    // It may name itself before it takes new windows: it is ready once it has
    // put a window mapped now into a frame of its own. A window mapped before
    // it was ready may stay unmanaged, so a new one is tried each second.
    Window probe = 0;
    auto tried = Clock::now();
    const auto framed = [&] {
        Window rootOf = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(m_connection, probe, &rootOf, &parent, &children, &count) == 0)
            return false;
        if (children != nullptr)
            XFree(children);
        return parent != rootOf;
    };
    const auto newProbe = [&] {
        if (probe != 0)
            XDestroyWindow(m_connection, probe);
        probe = XCreateSimpleWindow(m_connection, root, 0, 0, 10, 10, 0, 0, 0);
        XMapWindow(m_connection, probe);
        XSync(m_connection, False);
        tried = Clock::now();
    };
    newProbe();
    try {
        waitFor(std::string(windowManagerName(m_wm)) + " to manage new windows", 20s, [&]() -> std::optional<bool> {
            if (framed())
                return true;
            if (Clock::now() - tried > 1s)
                newProbe();
            return std::nullopt;
        });
    } catch (const DriverError&) {
        XDestroyWindow(m_connection, probe);
        throw;
    }
    XDestroyWindow(m_connection, probe);
    XSync(m_connection, False);
}

XServer::~XServer()
{
    if (m_connection != nullptr)
        XCloseDisplay(m_connection);
    if (m_wmPid > 0) {
        // The window manager with whatever it started (a session bus).
        kill(-m_wmPid, SIGTERM);
        try {
            waitForChild(m_wmPid, 5s, "the window manager to stop");
        } catch (const DriverError&) {
        }
        kill(-m_wmPid, SIGKILL);
    }
    if (m_xvfb > 0) {
        kill(m_xvfb, SIGTERM);
        try {
            waitForChild(m_xvfb, 5s, "the X server to stop");
        } catch (const DriverError&) {
        }
    }
    if (!m_wmHome.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_wmHome, ignored);
    }
}

// ---------------------------------------------------------------- Screen

Screen::Screen(XServer& server) : m_server(server), m_display(server.connection())
{
    // WM_NAME may come in the locale's encoding; decode it as UTF-8 text.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    XSupportsLocale();
}

Screen::Still::Still(Display* display) : m_display(display)
{
    XGrabServer(m_display);
    XSync(m_display, False);
}

Screen::Still::~Still()
{
    XUngrabServer(m_display);
    XFlush(m_display);
}

std::vector<WindowInfo> Screen::windowsOf(pid_t pid) const
{
    std::vector<Window> clients;
    collectClients(m_display, DefaultRootWindow(m_display), 3, clients);
    return describe(std::vector<unsigned long>(clients.begin(), clients.end()), pid);
}

std::optional<WindowInfo> Screen::window(unsigned long id) const
{
    const auto found = describe({Window(id)}, 0);
    if (found.empty())
        return std::nullopt;
    return found.front();
}

unsigned long Screen::createWindow(const QString& caption, QSize size)
{
    const Window root = DefaultRootWindow(m_display);
    const Window window =
        XCreateSimpleWindow(m_display, root, 0, 0, unsigned(size.width()), unsigned(size.height()), 0, 0, 0xffffff);
    const QByteArray name = caption.toUtf8();
    XChangeProperty(m_display, window, atom(m_display, "_NET_WM_NAME"), atom(m_display, "UTF8_STRING"), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(name.constData()), int(name.size()));
    XChangeProperty(m_display, window, XA_WM_NAME, atom(m_display, "UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(name.constData()), int(name.size()));
    const long pid = long(getpid());
    XChangeProperty(m_display, window, atom(m_display, "_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XMapWindow(m_display, window);
    XSync(m_display, False);
    return window;
}

void Screen::destroyWindow(unsigned long window)
{
    XDestroyWindow(m_display, Window(window));
    XSync(m_display, False);
}

std::vector<WindowInfo> Screen::describe(const std::vector<unsigned long>& clients, pid_t pid) const
{
    std::vector<WindowInfo> windows;
    const Atom utf8 = atom(m_display, "UTF8_STRING");
    for (const Window window : clients) {
        const auto owner = longProperty(m_display, window, atom(m_display, "_NET_WM_PID"), XA_CARDINAL);
        if (pid != 0 && (owner.empty() || pid_t(owner.front()) != pid))
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
        const auto atomNames = [&](const char* property) {
            QStringList names;
            for (const unsigned long value : longProperty(m_display, window, atom(m_display, property), XA_ATOM)) {
                if (char* name = XGetAtomName(m_display, value)) {
                    names << QString::fromLatin1(name);
                    XFree(name);
                }
            }
            return names;
        };
        info.states = atomNames("_NET_WM_STATE");
        info.types = atomNames("_NET_WM_WINDOW_TYPE");
        Window transient = 0;
        if (XGetTransientForHint(m_display, window, &transient) != 0)
            info.transientFor = transient;
        info.frame = info.geometry;
        for (Window w = window;;) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned int count = 0;
            if (XQueryTree(m_display, w, &root, &parent, &children, &count) == 0)
                break;
            if (children != nullptr)
                XFree(children);
            if (parent == root || parent == 0) {
                XWindowAttributes outer{};
                if (w != window && XGetWindowAttributes(m_display, w, &outer) != 0)
                    info.frame = QRect(outer.x, outer.y, outer.width + 2 * outer.border_width,
                                       outer.height + 2 * outer.border_width);
                break;
            }
            w = parent;
        }
        const Atom motif = atom(m_display, "_MOTIF_WM_HINTS");
        const auto hints = longProperty(m_display, window, motif, motif);
        if (hints.size() >= 3) {
            info.hasMotifHints = true;
            info.motifFlags = hints[0];
            info.motifFunctions = hints[1];
            info.motifDecorations = hints[2];
        }
        XSizeHints sizes{};
        long supplied = 0;
        if (XGetWMNormalHints(m_display, window, &sizes, &supplied) != 0) {
            if ((sizes.flags & PMinSize) != 0)
                info.minSize = QSize(sizes.min_width, sizes.min_height);
            if ((sizes.flags & PMaxSize) != 0)
                info.maxSize = QSize(sizes.max_width, sizes.max_height);
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

void Screen::parkPointer()
{
    const QSize screen = size();
    movePointer(QPoint(screen.width() - 1, screen.height() - 1));
}

QSize Screen::size() const
{
    return {DisplayWidth(m_display, DefaultScreen(m_display)), DisplayHeight(m_display, DefaultScreen(m_display))};
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

namespace {

void sendToRoot(Display* display, Window window, const char* message, std::initializer_list<long> data)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom(display, message);
    event.xclient.format = 32;
    int i = 0;
    for (const long value : data)
        event.xclient.data.l[i++] = value;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
}

} // namespace

void Screen::requestMinimize(const WindowInfo& window)
{
    sendToRoot(m_display, window.id, "WM_CHANGE_STATE", {IconicState});
}

void Screen::requestActivate(const WindowInfo& window)
{
    // Source 2: a pager or task bar, which a window manager obeys.
    sendToRoot(m_display, window.id, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0});
}

void Screen::requestMaximized(const WindowInfo& window, bool maximized)
{
    sendToRoot(m_display, window.id, "_NET_WM_STATE",
               {maximized ? 1 : 0, long(atom(m_display, "_NET_WM_STATE_MAXIMIZED_VERT")),
                long(atom(m_display, "_NET_WM_STATE_MAXIMIZED_HORZ")), 2});
}

void Screen::requestState(const WindowInfo& window, const char* state, bool on)
{
    sendToRoot(m_display, window.id, "_NET_WM_STATE", {on ? 1 : 0, long(atom(m_display, state)), 0, 2});
}

void Screen::drag(QPoint from, QPoint to)
{
    movePointer(from);
    XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
    XSync(m_display, False);
    constexpr int steps = 12;
    for (int i = 1; i <= steps; ++i) {
        const QPoint at = from + (to - from) * i / steps;
        XTestFakeMotionEvent(m_display, -1, at.x(), at.y(), CurrentTime);
        XSync(m_display, False);
        sleepFor(20ms);
    }
    XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
    XSync(m_display, False);
}

QRect Screen::workArea() const
{
    const auto area =
        longProperty(m_display, DefaultRootWindow(m_display), atom(m_display, "_NET_WORKAREA"), XA_CARDINAL);
    if (area.size() >= 4)
        return QRect(int(area[0]), int(area[1]), int(area[2]), int(area[3]));
    return QRect(QPoint(0, 0), size());
}

unsigned long Screen::keyboardWindow() const
{
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(m_display, &focus, &revert);
    return focus;
}

bool Screen::activeForWindowManager(const WindowInfo& window) const
{
    const Window root = DefaultRootWindow(m_display);
    if (longProperty(m_display, root, atom(m_display, "_NET_SUPPORTING_WM_CHECK"), XA_WINDOW).empty())
        return true;
    const auto active = longProperty(m_display, root, atom(m_display, "_NET_ACTIVE_WINDOW"), XA_WINDOW);
    return !active.empty() && active.front() == window.id;
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

QString ProgramRun::firstValue(const QString& path, const QString& sql) const
{
    SqliteFile file((path.startsWith(u'/') ? path : m_folder + u'/' + path).toStdString());
    sqlite3_stmt* statement = nullptr;
    QString value;
    if (sqlite3_prepare_v2(file.db, sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        if (const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)))
            value = QString::fromUtf8(text);
    }
    sqlite3_finalize(statement);
    return value;
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

WindowInfo waitForKeyboardWindow(Screen& screen, ProgramRun& program, const QString& type, const std::string& what,
                                 unsigned long other, std::chrono::milliseconds limit)
{
    try {
        return waitFor(what + " holding the keyboard", limit, [&]() -> std::optional<WindowInfo> {
            if (!program.running())
                throw DriverError("the program ended while waiting for " + what);
            const unsigned long focus = screen.keyboardWindow();
            return screen.findWindow(program.pid(), [&](const WindowInfo& w) {
                return w.id == focus && w.id != other && !w.types.isEmpty() && w.types.front() == type;
            });
        });
    } catch (const DriverError& error) {
        throw DriverError(error.what() + describeWindows(screen, program.pid()));
    }
}

void waitForWindowGone(Screen& screen, ProgramRun& program, const QString& name, std::chrono::milliseconds limit)
{
    try {
        waitFor("the window named \"" + name.toStdString() + "\" to go", limit, [&]() -> std::optional<bool> {
            if (!program.running())
                throw DriverError("the program ended while waiting for \"" + name.toStdString() + "\" to go");
            if (screen.findWindow(program.pid(), [&](const WindowInfo& w) { return w.netName == name; }))
                return std::nullopt;
            return true;
        });
    } catch (const DriverError& error) {
        throw DriverError(error.what() + describeWindows(screen, program.pid()));
    }
}

} // namespace velmora::xtest
