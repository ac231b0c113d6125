#include "platform/QtPlatform.h"

#include "platform/WindowRules.h"
#include "platform/X11Desktop.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSpacerItem>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <QWindow>

namespace velmora {

namespace {

QMessageBox::Icon toQtIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// How long a new window may take to be mapped and exposed before it is painted
// anyway (a window manager reparents it first).
constexpr int ExposeLimitMs = 2000;
constexpr int ExposePollMs = 10;

// Runs window-system and paint events for the given time and nothing the
// operator does: keys and clicks stay queued until a real event loop runs.
// This is what keeps a window painted while the GUI thread is otherwise busy
// or pausing; a plain sleep would leave a newly mapped window black.
void processPaintingFor(int milliseconds)
{
    if (milliseconds <= 0) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// A window manager draws a box's caption in its title bar beside its own
// buttons (up to a menu, minimise, maximise and close), in a bold face: a box
// as narrow as a short text cuts its caption ("Vel…ora"). The box is made wide
// enough for the caption in a larger bold face and room for those buttons.
constexpr int TitleBarButtonsWidth = 180;

void widenForCaption(QMessageBox& box)
{
    QFont title = box.font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() > 0 ? title.pointSizeF() * 1.25 : 12.0);
    const int width = QFontMetrics(title).horizontalAdvance(box.windowTitle()) + TitleBarButtonsWidth;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

} // namespace

QtPlatform::QtPlatform(QApplication& app) : m_app(app), m_windowRules(std::make_unique<WindowRules>())
{
    app.installEventFilter(m_windowRules.get());
}

QtPlatform::~QtPlatform() = default;

MsgAnswer QtPlatform::messageBox(const MessageBoxRequest& request)
{
    QWidget* owner = request.owner ? request.owner : QApplication::activeWindow();
    QMessageBox box(toQtIcon(request.icon), request.caption, request.text, QMessageBox::NoButton, owner);
    if (request.buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(request.defaultButton == MsgAnswer::No ? QMessageBox::No : QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    widenForCaption(box);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    default:
        return MsgAnswer::Failed;
    }
}

namespace {

// Holds back a window's activation while the GUI thread pauses: activating a
// window runs the program's own code (the splash plays its animation), which
// must not take the place of what the pause keeps on the screen. The held
// activation is delivered when the pause ends, if the window is still active.
class ActivationHold final : public QObject
{
public:
    ActivationHold() { QCoreApplication::instance()->installEventFilter(this); }
    ~ActivationHold() override
    {
        QCoreApplication::instance()->removeEventFilter(this);
        for (const QPointer<QWidget>& window : std::as_const(m_held)) {
            if (window && window->isActiveWindow()) {
                QEvent activate(QEvent::WindowActivate);
                QCoreApplication::sendEvent(window.data(), &activate);
            }
        }
    }
    ActivationHold(const ActivationHold&) = delete;
    ActivationHold& operator=(const ActivationHold&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::WindowActivate || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->isWindow())
            return false;
        if (!m_held.contains(widget))
            m_held.append(widget);
        return true;
    }

private:
    QList<QPointer<QWidget>> m_held;
};

} // namespace

void QtPlatform::pause(int milliseconds)
{
    const ActivationHold hold;
    processPaintingFor(milliseconds);
}

int QtPlatform::showModal(QDialog& dialog)
{
    if (m_endRequested)
        return QDialog::Rejected;
    return dialog.exec();
}

void QtPlatform::repaintNow(QWidget& window)
{
    // Painting a window the server has not mapped and exposed yet shows
    // nothing, so wait (bounded) for the exposure first; on X also for the
    // window manager's frame around it, which it maps after the window.
    if (QWindow* handle = window.windowHandle(); handle != nullptr && window.isVisible()) {
        const QDeadlineTimer limit(ExposeLimitMs);
        const auto onScreen = [&] { return handle->isExposed() && (!x11::onX11() || x11::viewable(window)); };
        while (!onScreen() && !limit.hasExpired())
            processPaintingFor(ExposePollMs);
    }
    window.repaint();
    // The paint is on the screen when this returns, not queued in the client.
    QGuiApplication::sync();
}

void QtPlatform::setApplicationTitle(const QString& title)
{
    // Kept here rather than as Qt's application display name, which the
    // toolkit would append to every window's caption.
    m_title = title;
}

QString QtPlatform::applicationTitle() const
{
    return m_title;
}

void QtPlatform::requestEnd()
{
    m_endRequested = true;
    // A modal dialog open now returns from its loop; the message loop, if it
    // runs, ends too.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    }
    QCoreApplication::quit();
}

int QtPlatform::runMessageLoop(QWidget* mainWindow)
{
    if (m_endRequested || mainWindow == nullptr)
        return 0;
    if (!mainWindow->isVisible())
        mainWindow->show();
    // The keyboard goes to the main window once the login dialog has gone,
    // also where no window manager hands it over.
    mainWindow->activateWindow();
    QApplication::setQuitOnLastWindowClosed(true);
    return m_app.exec();
}

QString QtPlatform::executableFolder() const
{
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void installChineseUi(QApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);

    // The windows name their Windows fonts; these are the installed faces
    // closest to each.
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Micro Hei")});
    QFont::insertSubstitutions(QStringLiteral("楷体_GB2312"),
                               {QStringLiteral("AR PL UKai CN"), QStringLiteral("WenQuanYi Micro Hei")});
    QFont::insertSubstitutions(QStringLiteral("幼圆"), {QStringLiteral("WenQuanYi Micro Hei")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), {QStringLiteral("WenQuanYi Micro Hei")});
}

} // namespace velmora
