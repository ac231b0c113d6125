#include "splash/RevealAnimation.h"

#include <QColor>

#include <cstring>

namespace velmora {

namespace {

constexpr int BytesPerPixel = 3;

QImage whiteFrame(int width, int height)
{
    QImage frame(width, height, QImage::Format_RGB888);
    frame.fill(Qt::white);
    return frame;
}

} // namespace

RevealAnimation::RevealAnimation(const QImage& picture) : m_picture(picture.convertToFormat(QImage::Format_RGB888)) {}

qint64 RevealAnimation::columnCopiesFor(int width)
{
    // Frame c makes c/2 pairs of copies (c even): 2 * (0 + 1 + ... + W/2).
    const qint64 k = width < 0 ? 0 : width / 2;
    return k * (k + 1);
}

void RevealAnimation::begin()
{
    m_frame = whiteFrame(width(), height());
    ++m_bufferAllocations;
    m_nextC = 0;
    m_framesComposed = 0;
    m_columnCopies = 0;
}

int RevealAnimation::composeNextFrame()
{
    Q_ASSERT(!atEnd());
    const int c = m_nextC;
    m_columnCopies += composeFrame(c, m_frame);
    ++m_framesComposed;
    m_nextC += 2;
    return c;
}

void RevealAnimation::end()
{
    m_frame = QImage();
}

void RevealAnimation::run(const std::function<void(const QImage&, int)>& drawFrame)
{
    begin();
    while (!atEnd()) {
        const int c = composeNextFrame();
        drawFrame(m_frame, c);
    }
    end();
}

qint64 RevealAnimation::composeFrame(int c, QImage& frame) const
{
    const int w = width();
    const int h = height();
    Q_ASSERT(frame.format() == QImage::Format_RGB888 && frame.size() == m_picture.size());
    Q_ASSERT(c >= 0 && c <= w);
    // Row by row rather than column by column: the same copies with the same
    // order per pixel, but walking memory in order keeps the run cheap.
    for (int y = 0; y < h; ++y) {
        const uchar* src = m_picture.constScanLine(y);
        uchar* dst = frame.scanLine(y);
        for (int n = c; n > 0; n -= 2) {
            std::memcpy(dst + (n - 1) * BytesPerPixel, src + (w - c + n - 1) * BytesPerPixel, BytesPerPixel);
            std::memcpy(dst + (w - n) * BytesPerPixel, src + (c - n) * BytesPerPixel, BytesPerPixel);
        }
    }
    return c > 0 ? 2 * ((c + 1) / 2) : 0;
}

QImage RevealAnimation::renderFrame(int c) const
{
    QImage frame = whiteFrame(width(), height());
    for (int k = 0; k <= c; k += 2)
        composeFrame(k, frame);
    return frame;
}

} // namespace velmora
