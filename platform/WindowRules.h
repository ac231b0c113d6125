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
//   hands it back, and keys would go wherever the pointer rests).
class WindowRules final : public QObject
{
public:
    explicit WindowRules(QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void shown(QWidget& window);
    void hidden(QWidget& window);

    // Each shown window and the window that was active when it came.
    QHash<const QWidget*, QPointer<QWidget>> m_activeBefore;
};

} // namespace velmora
