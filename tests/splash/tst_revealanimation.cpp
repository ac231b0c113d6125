#include "splash/RevealAnimation.h"

#include <gtest/gtest.h>

#include <QColor>

#include <vector>

using velmora::RevealAnimation;

namespace {

constexpr int W = 650;
constexpr int H = 270;

// Every column and row has its own colour, none of them white.
QImage distinctColumns(int width = W, int height = H)
{
    QImage picture(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixelColor(x, y, QColor(x % 256, x / 256, y % 256));
    return picture;
}

bool isWhite(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                return false;
    return true;
}

// Frame c as described column by column: with d = W - c, odd picture
// columns p >= d stand in column p - d, even picture columns k < c in column
// k + d, the rest of B is white.
QImage frameByColumnRule(const QImage& picture, int c)
{
    const int width = picture.width();
    const int d = width - c;
    QImage expected(picture.size(), QImage::Format_RGB888);
    expected.fill(Qt::white);
    for (int p = 0; p < width; ++p) {
        int target = -1;
        if (p % 2 == 1 && p >= d)
            target = p - d;
        else if (p % 2 == 0 && p < c)
            target = p + d;
        if (target < 0)
            continue;
        for (int y = 0; y < picture.height(); ++y)
            expected.setPixel(target, y, picture.pixel(p, y));
    }
    return expected;
}

} // namespace

TEST(RevealAnimation, OneRunHas326FramesAnd105950ColumnCopies)
{
    RevealAnimation reveal(distinctColumns());
    EXPECT_EQ(reveal.frameCount(), 326);
    EXPECT_EQ(RevealAnimation::columnCopiesFor(W), 105950);

    std::vector<int> frames;
    reveal.run([&](const QImage&, int c) { frames.push_back(c); });

    ASSERT_EQ(frames.size(), 326u);
    for (int i = 0; i < 326; ++i)
        EXPECT_EQ(frames[i], 2 * i);
    EXPECT_EQ(reveal.framesComposed(), 326);
    EXPECT_EQ(reveal.columnCopies(), 105950);
}

TEST(RevealAnimation, FirstFrameIsWhiteAndLastFrameIsThePicture)
{
    const QImage picture = distinctColumns();
    RevealAnimation reveal(picture);
    QImage first, last;
    reveal.run([&](const QImage& frame, int c) {
        if (c == 0)
            first = frame.copy();
        if (c == W)
            last = frame.copy();
    });

    ASSERT_EQ(first.size(), QSize(W, H));
    EXPECT_TRUE(isWhite(first));
    EXPECT_EQ(last, picture);
}

class RevealFrame : public testing::TestWithParam<int>
{
};

// The frames a run hands out follow the column rule, whether composed step by
// step or computed from scratch.
TEST_P(RevealFrame, FollowsTheColumnRule)
{
    const int c = GetParam();
    const QImage picture = distinctColumns();
    RevealAnimation reveal(picture);
    QImage during;
    reveal.run([&](const QImage& frame, int at) {
        if (at == c)
            during = frame.copy();
    });

    const QImage expected = frameByColumnRule(picture, c);
    EXPECT_EQ(during, expected);
    EXPECT_EQ(reveal.renderFrame(c), expected);
}

INSTANTIATE_TEST_SUITE_P(Frames, RevealFrame, testing::Values(0, 2, 4, 100, 324, 326, 500, 646, 648, 650));

TEST(RevealAnimation, TheRuleHoldsOnEveryFrameOfASmallPicture)
{
    const QImage picture = distinctColumns(12, 3);
    RevealAnimation reveal(picture);
    int checked = 0;
    reveal.run([&](const QImage& frame, int c) {
        EXPECT_EQ(frame, frameByColumnRule(picture, c)) << "frame " << c;
        ++checked;
    });
    EXPECT_EQ(checked, 7);
    EXPECT_EQ(reveal.columnCopies(), 42);
}

TEST(RevealAnimation, BIsCreatedOncePerRunAndReusedForEveryFrame)
{
    RevealAnimation reveal(distinctColumns());
    for (int run = 1; run <= 2; ++run) {
        std::vector<const uchar*> buffers;
        reveal.run([&](const QImage& frame, int) { buffers.push_back(frame.constBits()); });

        EXPECT_EQ(reveal.bufferAllocations(), run);
        ASSERT_EQ(buffers.size(), 326u);
        for (const uchar* b : buffers)
            EXPECT_EQ(b, buffers.front());
        // Each run starts again from a white B.
        EXPECT_EQ(reveal.columnCopies(), 105950);
    }
    EXPECT_TRUE(reveal.frame().isNull()); // discarded after the run
}

TEST(RevealAnimation, AnyPictureFormatIsReadAsTwentyFourBits)
{
    QImage picture = distinctColumns().convertToFormat(QImage::Format_ARGB32);
    RevealAnimation reveal(picture);
    EXPECT_EQ(reveal.picture().format(), QImage::Format_RGB888);
    EXPECT_EQ(reveal.renderFrame(W), distinctColumns());
}
