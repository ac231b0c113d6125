#pragma once

#include <QImage>

#include <functional>

namespace velmora {

// The splash's reveal: the picture's odd columns slide in from the left edge
// and its even columns from the right, two pixels per frame, into an
// off-screen picture B that starts white. Pure computation on 24-bit images;
// the window only draws the frames.
class RevealAnimation
{
public:
    // The picture is held as 24-bit RGB whatever format it comes in.
    explicit RevealAnimation(const QImage& picture);

    int width() const { return m_picture.width(); }
    int height() const { return m_picture.height(); }
    const QImage& picture() const { return m_picture; }

    // Frames of one run for a picture of this width: c = 0, 2, 4, ... <= W.
    int frameCount() const { return frameCountFor(width()); }
    static int frameCountFor(int width) { return width < 0 ? 0 : width / 2 + 1; }
    // Column copies of one whole run.
    static qint64 columnCopiesFor(int width);

    // One run: B is created white, every frame is composed into it and handed
    // to drawFrame with its c, then B is discarded. No pause between frames.
    void run(const std::function<void(const QImage& frame, int c)>& drawFrame);

    // The same run by steps, for callers that draw between frames.
    void begin();
    bool atEnd() const { return m_frame.isNull() || m_nextC > width(); }
    // Composes frame c (the next one) into B and returns c.
    int composeNextFrame();
    const QImage& frame() const { return m_frame; }
    void end();

    // Step a of frame c on any B of the picture's size; returns the number of
    // column copies made.
    qint64 composeFrame(int c, QImage& frame) const;
    // Frame c of a run computed from scratch (a white B and frames 0..c).
    QImage renderFrame(int c) const;

    // Counters of the current or last run, and B allocations over this
    // object's life.
    int framesComposed() const { return m_framesComposed; }
    qint64 columnCopies() const { return m_columnCopies; }
    int bufferAllocations() const { return m_bufferAllocations; }

private:
    QImage m_picture;
    QImage m_frame;
    int m_nextC = 0;
    int m_framesComposed = 0;
    qint64 m_columnCopies = 0;
    int m_bufferAllocations = 0;
};

} // namespace velmora
