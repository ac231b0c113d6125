// Draws the program's icon from the splash's artwork: one plum blossom of the splash's branch on its pale sky,
// in a rounded tile. Built and run at build time; writes OUTDIR/<n>x<n>/apps/NAME.png for each hicolor size.
//     velmora-make-icon OUTDIR NAME
#include "splash/artwork/Blossom.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <numbers>

using namespace velmora;

namespace {

constexpr int Sizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};

// The drawing is made on a 256-unit square and scaled.
constexpr double Unit = 256;

void drawTile(QPainter& p)
{
    QPainterPath tile;
    tile.addRoundedRect(QRectF(8, 8, Unit - 16, Unit - 16), 44, 44);
    // The splash's sky, with its warm haze where the blossoms are.
    QLinearGradient sky(0, 8, 0, Unit - 8);
    sky.setColorAt(0.0, QColor(158, 203, 236));
    sky.setColorAt(0.55, QColor(212, 233, 248));
    sky.setColorAt(1.0, QColor(247, 250, 253));
    p.fillPath(tile, sky);
    QRadialGradient glow(QPointF(170, 90), 170);
    glow.setColorAt(0.0, QColor(255, 236, 240, 150));
    glow.setColorAt(1.0, QColor(255, 236, 240, 0));
    p.fillPath(tile, glow);
    p.setPen(QPen(QColor(84, 52, 40, 90), 3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tile);
}

// The splash's bark colours, one tapered stroke.
void drawBranch(QPainter& p, bool small)
{
    QPainterPath path(QPointF(238, 228));
    path.cubicTo(QPointF(200, 190), QPointF(170, 170), QPointF(128, 128));
    const int steps = 40;
    QPointF last = path.pointAtPercent(0);
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const QPointF next = path.pointAtPercent(t);
        const double w = (small ? 30 : 22) + ((small ? 16 : 8) - (small ? 30 : 22)) * t;
        p.setPen(QPen(QColor(84, 52, 40), w, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(last, next);
        last = next;
    }
}

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / Unit, size / Unit);
    const bool small = size < 32;
    drawTile(p);
    drawBranch(p, small);
    if (!small)
        artwork::drawBud(p, QPointF(214, 200), 14, /*sepal*/ false);
    // Bolder stamens than the splash's, so that they still read at 48 pixels.
    artwork::drawBlossom(
        p, QPointF(116, 118), small ? 96 : 84, -std::numbers::pi / 2,
        {.deep = true, .stamens = !small, .stamenWidth = 2.2, .stamenAlpha = 220, .tipScale = 0.06, .tipExtra = 1.5});
    p.end();
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing needs no display; the build machine may have none.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTDIR NAME\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int size : Sizes) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(folder, name);
        if (!QDir().mkpath(folder) || !drawIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
