#include "platform/WindowRules.h"

#include "platform/X11Desktop.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace velmora {

namespace {

// Windows that take the keyboard and hand it back: not menus, tool tips and
// the like, which the toolkit handles itself.
bool isManagedWindow(const QObject* object)
{
    if (!object->isWidgetType())
        return false;
    const auto* widget = static_cast<const QWidget*>(object);
    if (!widget->isWindow())
        return false;
    switch (widget->windowType()) {
    case Qt::Window:
    case Qt::Dialog:
    case Qt::Sheet:
        return true;
    default:
        return false;
    }
}

} // namespace

WindowRules::WindowRules(QObject* parent) : QObject(parent) {}

bool WindowRules::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
        if (isManagedWindow(watched) && !event->spontaneous())
            shown(*static_cast<QWidget*>(watched));
        break;
    case QEvent::WindowActivate:
        if (isManagedWindow(watched))
            activated(*static_cast<QWidget*>(watched));
        break;
    case QEvent::Hide:
        if (isManagedWindow(watched) && !event->spontaneous())
            hidden(*static_cast<QWidget*>(watched));
        break;
    case QEvent::Destroy:
        m_activeBefore.remove(static_cast<QWidget*>(watched));
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void WindowRules::shown(QWidget& window)
{
    // Sent before the window is mapped: what is set here holds from its first
    // moment on the screen.
    x11::setWindowBackground(window, window.palette().color(window.backgroundRole()));
    if (window.windowState().testFlag(Qt::WindowMaximized) && x11::onX11() && !x11::windowManagerMaximizes()) {
        if (const QScreen* screen = window.screen())
            window.setGeometry(screen->availableGeometry());
    }

    QWidget* before = QApplication::activeWindow();
    if (before == nullptr || before == &window) {
        // Nothing active (no window manager gave anything the keyboard yet):
        // the owner is what the keyboard returns to.
        before = window.parentWidget() != nullptr ? window.parentWidget()->window() : nullptr;
    }
    m_activeBefore.insert(&window, before);
}

void WindowRules::hidden(QWidget& window)
{
    const QPointer<QWidget> before = m_activeBefore.take(&window);
    // Only the window that had the keyboard hands it on; another window
    // going away leaves the keyboard where it is. (The toolkit may already
    // count the window before as active while the window system has not
    // given it the keyboard.)
    const QWidget* active = QApplication::activeWindow();
    if (active != nullptr && active != &window && active != before)
        return;
    if (!before || before == &window || !before->isVisible() || before->isMinimized())
        return;
    // The window just hidden is unmapped first, so the keyboard cannot fall
    // back to the root window after this.
    before->activateWindow();
}

void WindowRules::activated(QWidget& window)
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal->window() == &window)
        return;
    const QWindow* handle = modal->windowHandle();
    const bool outOfSight = modal->isMinimized() || (handle != nullptr && !handle->isExposed());
    if (!outOfSight)
        return; // the toolkit hands the activation on to the dialog itself
    modal->setWindowState(modal->windowState() & ~Qt::WindowMinimized);
    modal->raise();
    modal->activateWindow();
}

} // namespace velmora
