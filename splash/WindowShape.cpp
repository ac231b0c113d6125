#include "splash/WindowShape.h"

#include <QRect>

#include <algorithm>
#include <cmath>

namespace velmora {

QRegion roundRectRegion(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight)
{
    const int width = right - left;
    const int height = bottom - top;
    if (width <= 0 || height <= 0)
        return {};
    const double rx = std::min(ellipseWidth, width) / 2.0;
    const double ry = std::min(ellipseHeight, height) / 2.0;
    if (rx <= 0 || ry <= 0)
        return QRegion(left, top, width, height);

    // One span per row: a pixel belongs to the region when its centre lies in
    // the corner ellipse; rows between the corner bands are full.
    QRegion region;
    for (int y = 0; y < height; ++y) {
        const double fromEdge = std::min(y, height - 1 - y) + 0.5;
        int inset = 0;
        if (fromEdge < ry) {
            const double dy = (ry - fromEdge) / ry;
            const double halfChord = rx * std::sqrt(std::max(0.0, 1.0 - dy * dy));
            inset = static_cast<int>(std::ceil(rx - halfChord - 0.5));
        }
        if (2 * inset < width)
            region += QRect(left + inset, top + y, width - 2 * inset, 1);
    }
    return region;
}

} // namespace velmora
