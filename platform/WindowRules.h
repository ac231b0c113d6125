#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

class QWidget;

namespace velmora {

// What every window of the program gets from its desktop, with or without a
// window manager, watched from the application's events:
// - when a dialog or box closes, the window that was active before it is
//   active again and has the keyboard (without a window manager nobody else
//   hands it back, and keys would go wherever the pointer rests);
// - a window blocked by a modal dialog that a window manager minimised brings
//   that dialog back in front when it is activated;
// - a window shown maximised covers the screen's available area also where no
//   window manager maximises it;
// - from the moment it is mapped a window shows its background colour, not
//   what lay beneath it, until it is painted.
class WindowRules final : public QObject
{
public:
    explicit WindowRules(QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void shown(QWidget& window);
    void hidden(QWidget& window);
    void activated(QWidget& window);

    // Each shown window and the window that was active when it came.
    QHash<const QWidget*, QPointer<QWidget>> m_activeBefore;
};

} // namespace velmora
