// Draws the splash picture: a pale sky with soft clouds and a branch of plum
// blossoms at its right edge, 650 x 270, 24 bits per pixel. The program ships
// the result as splash/splash.png; run this again after changing the drawing:
//     velmora-splash-artwork splash/splash.png
#include "splash/artwork/Blossom.h"

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

namespace {

constexpr int Width = 650;
constexpr int Height = 270;

// A fixed seed: the same picture on every run.
std::mt19937 rng(20240102);

double uniform(double low, double high)
{
    return low + (high - low) * (static_cast<double>(rng() - std::mt19937::min()) /
                                 static_cast<double>(std::mt19937::max() - std::mt19937::min()));
}

void drawSky(QPainter& p)
{
    QLinearGradient sky(0, 0, 0, Height);
    sky.setColorAt(0.0, QColor(158, 203, 236));
    sky.setColorAt(0.55, QColor(212, 233, 248));
    sky.setColorAt(1.0, QColor(247, 250, 253));
    p.fillRect(0, 0, Width, Height, sky);

    // A warm haze where the blossoms are.
    QRadialGradient glow(QPointF(610, 60), 260);
    glow.setColorAt(0.0, QColor(255, 236, 240, 120));
    glow.setColorAt(1.0, QColor(255, 236, 240, 0));
    p.fillRect(0, 0, Width, Height, glow);
}

void drawPuff(QPainter& p, QPointF centre, double rx, double ry, int alpha)
{
    QRadialGradient puff(centre, std::max(rx, ry));
    puff.setColorAt(0.0, QColor(255, 255, 255, alpha));
    puff.setColorAt(0.6, QColor(255, 255, 255, alpha * 2 / 3));
    puff.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.save();
    p.translate(centre);
    p.scale(rx / std::max(rx, ry), ry / std::max(rx, ry));
    p.translate(-centre);
    p.setPen(Qt::NoPen);
    p.setBrush(puff);
    p.drawEllipse(centre, std::max(rx, ry), std::max(rx, ry));
    p.restore();
}

void drawCloud(QPainter& p, QPointF base, double size)
{
    for (int i = 0; i < 9; ++i) {
        const double dx = uniform(-1.6, 1.6) * size;
        const double dy = uniform(-0.35, 0.2) * size;
        const double r = uniform(0.55, 1.0) * size;
        drawPuff(p, base + QPointF(dx, dy), r * 1.5, r * 0.75, static_cast<int>(uniform(70, 120)));
    }
}

// A tapered limb: a cubic curve stroked in short pieces of shrinking width.
void drawLimb(QPainter& p, QPointF a, QPointF c1, QPointF c2, QPointF b, double w0, double w1)
{
    QPainterPath path(a);
    path.cubicTo(c1, c2, b);
    const int steps = 60;
    QPointF last = path.pointAtPercent(0);
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const QPointF next = path.pointAtPercent(t);
        const double w = w0 + (w1 - w0) * t;
        p.setPen(QPen(QColor(84, 52, 40), w, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(last, next);
        // A lighter edge along the top gives the bark some roundness.
        p.setPen(QPen(QColor(128, 88, 66, 140), std::max(0.8, w * 0.3), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(last - QPointF(0, w * 0.25), next - QPointF(0, w * 0.25));
        last = next;
    }
}

void drawFallingPetal(QPainter& p, QPointF at, double size, double angle)
{
    p.save();
    p.translate(at);
    p.rotate(angle);
    QRadialGradient g(QPointF(0, 0), size);
    g.setColorAt(0.0, QColor(255, 232, 240, 230));
    g.setColorAt(1.0, QColor(238, 140, 172, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QPointF(0, 0), size, size * 0.62);
    p.restore();
}

QImage drawSplash()
{
    QImage image(Width, Height, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    drawSky(p);
    drawCloud(p, QPointF(110, 34), 26);
    drawCloud(p, QPointF(330, 78), 20);
    drawCloud(p, QPointF(215, 150), 30);
    drawCloud(p, QPointF(470, 205), 24);
    drawCloud(p, QPointF(60, 232), 22);

    // The branch enters from the right edge and reaches into the sky.
    struct Limb
    {
        QPointF a, c1, c2, b;
        double w0, w1;
    };
    const Limb limbs[] = {
        {{652, 30}, {610, 48}, {575, 70}, {520, 118}, 11, 3},   // main limb
        {{520, 118}, {500, 134}, {486, 150}, {468, 176}, 3, 1}, // its tip
        {{598, 58}, {592, 92}, {604, 126}, {590, 168}, 5, 1.5}, // down
        {{560, 88}, {548, 70}, {546, 52}, {530, 34}, 4, 1},     // up
        {{652, 150}, {630, 160}, {612, 178}, {596, 214}, 7, 1.5},
        {{630, 40}, {626, 22}, {640, 10}, {634, -4}, 4, 1.5},
        {{540, 104}, {528, 96}, {512, 96}, {496, 86}, 2.5, 1},
        // Short spurs that carry the blossoms standing apart.
        {{556, 98}, {560, 108}, {562, 118}, {564, 128}, 2, 1},
        {{614, 50}, {622, 64}, {630, 78}, {636, 92}, 2.5, 1},
        {{604, 52}, {612, 56}, {618, 60}, {624, 64}, 2, 1},
    };
    for (const Limb& l : limbs)
        drawLimb(p, l.a, l.c1, l.c2, l.b, l.w0, l.w1);

    struct Flower
    {
        double x, y, r;
        bool deep;
    };
    const Flower flowers[] = {
        {612, 44, 13, false}, {576, 66, 11, true},   {546, 96, 12, false},  {520, 120, 10, true}, {494, 146, 9, false},
        {472, 172, 7, true},  {596, 98, 11, true},   {602, 132, 12, false}, {590, 166, 9, true},  {546, 54, 9, true},
        {532, 36, 8, false},  {630, 174, 12, false}, {606, 204, 10, true},  {638, 14, 10, false}, {636, 92, 8, false},
        {500, 88, 7, false},  {564, 128, 7, false},  {624, 64, 9, true},
    };
    for (const Flower& f : flowers)
        velmora::artwork::drawBlossom(p, QPointF(f.x, f.y), f.r, uniform(0, 2 * std::numbers::pi), {.deep = f.deep});

    const QPointF buds[] = {{562, 78}, {510, 108}, {586, 184}, {482, 162}, {618, 28}, {540, 30}, {614, 150}};
    for (const QPointF& b : buds)
        velmora::artwork::drawBud(p, b, uniform(3.2, 4.6));

    const QPointF petals[] = {{452, 196}, {418, 150}, {470, 232}, {392, 208}, {522, 236}, {436, 112}};
    for (const QPointF& at : petals)
        drawFallingPetal(p, at, uniform(3.0, 4.5), uniform(0, 180));

    p.end();
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    if (!drawSplash().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
