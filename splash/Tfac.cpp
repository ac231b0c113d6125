#include "splash/Tfac.h"

#include "splash/RevealAnimation.h"
#include "splash/WindowShape.h"

#include <QApplication>
#include <QChildEvent>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShowEvent>

#include <functional>

// Resources of a static library are linked only when referenced by name.
static void initSplashResources()
{
    Q_INIT_RESOURCE(splash);
}

namespace velmora {

// Paints the animation's frames above every other child, so they cover the
// picture and the labels and are clipped by the window's shape like them.
class RevealSurface final : public QWidget
{
public:
    explicit RevealSurface(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("revealSurface"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

    void setFrame(const QImage* frame, int c)
    {
        m_frame = frame;
        m_c = c;
    }

    std::function<void(int)> painted;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_frame == nullptr)
            return;
        QPainter painter(this);
        painter.drawImage(0, 0, *m_frame);
        if (painted)
            painted(m_c);
    }

private:
    const QImage* m_frame = nullptr;
    int m_c = -1;
};

namespace {

// Qt has no role for the active window border; on the classic Windows scheme
// that colour is the same face grey as an active window's background.
QColor activeBorderColour()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Window);
}

QImage splashArtwork()
{
    initSplashResources();
    return QImage(QStringLiteral(":/splash/splash.png")).convertToFormat(QImage::Format_RGB888);
}

QIcon checkMarkGlyph()
{
    QPixmap glyph(16, 16);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.0, 12.5);
    tick.lineTo(13.5, 3.5);
    painter.setPen(QPen(QColor(0, 140, 0), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(tick);
    return QIcon(glyph);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& place, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(place);
    // Fixed-size and unwrapped: a longer text is cut at the label's width.
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setAutoFillBackground(false);
    return label;
}

QFont pixelFont(const QString& family, int pixelSize, bool bold = false)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

} // namespace

QString Tfac::productTitle()
{
    return QStringLiteral("Velmora");
}

void Tfac::styleProductTitle(QLabel& label)
{
    label.setFont(pixelFont(QStringLiteral("楷体_GB2312"), 32, true));
    QPalette navy = label.palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    label.setPalette(navy);
}

QString Tfac::versionLine()
{
    return QStringLiteral("版本号：1.0.0.0102");
}

QString Tfac::copyrightLine()
{
    return QStringLiteral("版权所有 © Korvex工作室");
}

Tfac::Tfac(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("fac"));
    setFixedSize(ClientWidth, ClientHeight);
    setFont(pixelFont(QStringLiteral("MS Sans Serif"), 13));
    QPalette background = palette();
    background.setColor(QPalette::Window, activeBorderColour());
    setPalette(background);
    setAutoFillBackground(true);
    // Takes the keyboard itself when no control does, so every key reaches it.
    setFocusPolicy(Qt::StrongFocus);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(2, 0, 650, 270);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap::fromImage(splashArtwork()));

    Label1 = makeLabel(this, "Label1", QRect(57, 46, 440, 67), productTitle());
    styleProductTitle(*Label1);
    Label2 = makeLabel(this, "Label2", QRect(14, 248, 153, 17), versionLine());
    Label3 = makeLabel(this, "Label3", QRect(246, 247, 259, 18), copyrightLine());
    Label4 = makeLabel(this, "Label4", QRect(14, 190, 531, 25),
                       QStringLiteral("欢迎使用Korvex工作室出品软件，程序正在连接后台数据库，请稍候..."));
    Label4->setFont(pixelFont(QStringLiteral("幼圆"), 16));

    Button1 = new QPushButton(QStringLiteral("Button1"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(548, 20, 75, 25);
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, &Tfac::Button1Click);

    BitBtn1 = new QPushButton(checkMarkGlyph(), QStringLiteral("确定"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(542, 222, 75, 25);
    BitBtn1->setIconSize(QSize(16, 16));
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &Tfac::BitBtn1Click);
    setTabOrder(Button1, BitBtn1);

    m_surface = new RevealSurface(this);
    m_surface->setGeometry(QRect(FrameOrigin, QSize(650, 270)));
    m_surface->painted = [this](int c) { emit revealFramePainted(c); };

    if (const QScreen* screen = this->screen()) {
        QRect place(QPoint(), size());
        place.moveCenter(screen->geometry().center());
        move(place.topLeft());
    }

    FormCreate();
}

Tfac::~Tfac() = default;

QImage Tfac::picture() const
{
    const QPixmap pixmap = Image1->pixmap();
    if (m_picture.isNull() || pixmap.cacheKey() != m_pictureKey) {
        m_picture = pixmap.toImage().convertToFormat(QImage::Format_RGB888);
        m_pictureKey = pixmap.cacheKey();
    }
    return m_picture;
}

void Tfac::FormCreate()
{
    m_shape = roundRectRegion(0, 0, width(), height(), 30, 30);
    setMask(m_shape);
}

void Tfac::FormActivate()
{
    Button1->click();
}

void Tfac::FormKeyDown(int /*key*/, Qt::KeyboardModifiers /*shift*/)
{
    Button1->click();
}

void Tfac::Button1Click()
{
    if (m_revealing)
        return; // a run is under way further up this call chain
    const QScopedValueRollback revealing(m_revealing, true);
    const QImage source = picture();
    if (!m_reveal || m_reveal->picture().cacheKey() != source.cacheKey())
        m_reveal = std::make_unique<RevealAnimation>(source);
    ++m_revealRuns;

    // Every frame is painted synchronously; nothing else runs in between.
    m_surface->raise();
    m_surface->show();
    m_reveal->run([this](const QImage& frame, int c) {
        m_surface->setFrame(&frame, c);
        m_surface->repaint();
        emit revealFrameShown(c);
    });
    m_surface->setFrame(nullptr, -1);
    m_surface->hide();
    // The picture and the labels back in their places at once: while the
    // start-up blocks, a queued paint would wait for the next event loop.
    repaint();
}

void Tfac::BitBtn1Click()
{
    close();
}

void Tfac::FormClose(QCloseEvent* event)
{
    // Close action "free": Qt deletes the window later, which an explicit
    // delete through a QPointer cancels safely.
    setAttribute(Qt::WA_DeleteOnClose);
    event->accept();
}

bool Tfac::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return handled;
}

void Tfac::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Showing the splash makes it the active window, as the start-up expects,
    // also where no window manager activates new windows.
    if (!event->spontaneous())
        activateWindow();
}

void Tfac::childEvent(QChildEvent* event)
{
    if (event->added())
        event->child()->installEventFilter(this);
    QWidget::childEvent(event);
}

// Key preview: the window handles a key before the control that has the
// keyboard, and then lets the control have it.
bool Tfac::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || m_forwardingKey || watched == this || !watched->isWidgetType())
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    FormKeyDown(key->key(), key->modifiers());
    {
        // A key the control passes on reaches keyPressEvent, which must not
        // preview it a second time.
        const QScopedValueRollback forwarding(m_forwardingKey, true);
        QCoreApplication::sendEvent(watched, event);
    }
    event->accept();
    return true;
}

void Tfac::keyPressEvent(QKeyEvent* event)
{
    if (!m_forwardingKey)
        FormKeyDown(event->key(), event->modifiers());
    // BitBtn1 is the default button: Enter presses it while it can be used.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (enter && plain && BitBtn1->isVisibleTo(this) && BitBtn1->isEnabled()) {
        BitBtn1->click();
        return;
    }
    event->ignore();
}

void Tfac::closeEvent(QCloseEvent* event)
{
    // The start-up needs the splash until it closes it itself, so a close
    // request from the window system (Alt+F4 and the like) is refused. The
    // program's own close() and BitBtn1 still close it.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    FormClose(event);
}

} // namespace velmora
