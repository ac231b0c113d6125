#include "mainwin/PageScroller.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

namespace velmora {
namespace {

constexpr int ArrowWidth = 12;
constexpr int Step = 20;
constexpr int RepeatInterval = 40;

QToolButton* makeArrow(Qt::ArrowType type, const char* name, QWidget* parent)
{
    auto* arrow = new QToolButton(parent);
    arrow->setObjectName(QLatin1String(name));
    arrow->setArrowType(type);
    arrow->setAutoRaise(true);
    arrow->setAutoRepeat(true);
    arrow->setAutoRepeatDelay(RepeatInterval);
    arrow->setAutoRepeatInterval(RepeatInterval);
    arrow->setFixedWidth(ArrowWidth);
    arrow->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    arrow->setFocusPolicy(Qt::NoFocus);
    arrow->hide();
    return arrow;
}

} // namespace

PageScroller::PageScroller(QWidget* parent) : QWidget(parent)
{
    m_left = makeArrow(Qt::LeftArrow, "scrollLeft", this);
    m_right = makeArrow(Qt::RightArrow, "scrollRight", this);
    m_area = new QScrollArea(this);
    m_area->setObjectName(QStringLiteral("scrollArea"));
    m_area->setFrameShape(QFrame::NoFrame);
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_area->setWidgetResizable(false);
    m_area->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_area->setMinimumWidth(0);
    m_area->viewport()->setAutoFillBackground(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_left);
    layout->addWidget(m_area, 1);
    layout->addWidget(m_right);

    // With auto-repeat on, pressed() comes again at every repeat while held.
    connect(m_left, &QToolButton::pressed, this, [this] { scrollBy(-Step); });
    connect(m_right, &QToolButton::pressed, this, [this] { scrollBy(Step); });
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PageScroller::setWidget(QWidget* widget)
{
    m_area->setWidget(widget);
    updateArrows();
}

int PageScroller::position() const
{
    return m_area->horizontalScrollBar()->value();
}

QSize PageScroller::sizeHint() const
{
    const QWidget* child = m_area->widget();
    return child != nullptr ? child->size() : QWidget::sizeHint();
}

QSize PageScroller::minimumSizeHint() const
{
    const QWidget* child = m_area->widget();
    return QSize(2 * ArrowWidth, child != nullptr ? child->height() : 0);
}

void PageScroller::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateArrows();
}

void PageScroller::scrollBy(int dx)
{
    QScrollBar* bar = m_area->horizontalScrollBar();
    bar->setValue(bar->value() + dx);
}

void PageScroller::updateArrows()
{
    const QWidget* child = m_area->widget();
    const bool needed = child != nullptr && child->width() > width();
    m_left->setVisible(needed);
    m_right->setVisible(needed);
    if (!needed)
        m_area->horizontalScrollBar()->setValue(0);
}

} // namespace velmora
