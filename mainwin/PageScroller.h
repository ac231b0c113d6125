#pragma once

#include <QWidget>

class QScrollArea;
class QToolButton;

namespace velmora {

// A horizontal pager for a wide child: when the child is wider than the room,
// arrow buttons appear at both ends and scroll it while pressed (not on hover).
class PageScroller : public QWidget
{
    Q_OBJECT

public:
    explicit PageScroller(QWidget* parent = nullptr);
    PageScroller(const PageScroller&) = delete;
    PageScroller& operator=(const PageScroller&) = delete;

    void setWidget(QWidget* widget);
    int position() const;
    QToolButton* leftArrow() const { return m_left; }
    QToolButton* rightArrow() const { return m_right; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void scrollBy(int dx);
    void updateArrows();

    QScrollArea* m_area = nullptr;
    QToolButton* m_left = nullptr;
    QToolButton* m_right = nullptr;
};

} // namespace velmora
