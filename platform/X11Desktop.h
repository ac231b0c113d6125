#pragma once

class QColor;
class QWidget;

namespace velmora::x11 {

// What the program asks of an X server beyond the toolkit. On any other
// platform (the tests' offscreen one) these answer false and do nothing.

// Whether the program's windows are on an X server.
bool onX11();

// Whether a window manager runs that maximises windows (EWMH). Without one a
// maximised window must be given the screen's area by the program itself.
bool windowManagerMaximizes();

// Whether the window is on the screen: mapped, and so is every window around
// it (a window manager maps its own frame around a window only after the
// window itself, and may take its time).
bool viewable(const QWidget& window);

// The X server fills the window with this colour from the moment it is
// mapped, before the program paints it, instead of leaving what lay beneath
// (the black of an empty screen) until then.
void setWindowBackground(QWidget& window, const QColor& colour);

} // namespace velmora::x11
