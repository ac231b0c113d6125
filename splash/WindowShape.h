#pragma once

#include <QRegion>

namespace velmora {

// A rounded-rectangle region covering the pixels from (left, top) up to, not
// including, (right, bottom), with corner ellipses ellipseWidth x
// ellipseHeight: the shape a Windows round-rect region has.
QRegion roundRectRegion(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);

} // namespace velmora
