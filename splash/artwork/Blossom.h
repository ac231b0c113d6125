#pragma once

// The plum blossom and bud of the splash's artwork, drawn alike by the splash's generator and by the program
// icon's, so that the icon shows the splash's own flower.

#include <QColor>
#include <QPainter>
#include <QPointF>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace velmora::artwork {

struct BlossomLook
{
    bool deep = true;    // the deep pink of the branch's front flowers, else the pale one
    bool stamens = true; // fine stamens blur a small picture
    double stamenWidth = 0.8;
    int stamenAlpha = 200;
    double tipScale = 0.07; // a stamen's yellow tip: radius * tipScale + tipExtra
    double tipExtra = 0.5;
};

// Five petals around a crimson heart, `turn` radians round.
inline void drawBlossom(QPainter& p, QPointF centre, double radius, double turn, const BlossomLook& look = {})
{
    const QColor inner = look.deep ? QColor(252, 206, 220) : QColor(255, 240, 245);
    const QColor outer = look.deep ? QColor(226, 92, 132) : QColor(244, 158, 186);
    p.setPen(Qt::NoPen);
    for (int k = 0; k < 5; ++k) {
        const double a = turn + k * 2 * std::numbers::pi / 5;
        const QPointF petal = centre + QPointF(std::cos(a), std::sin(a)) * radius * 0.55;
        QRadialGradient g(centre, radius * 1.15);
        g.setColorAt(0.0, inner);
        g.setColorAt(1.0, outer);
        p.setBrush(g);
        p.drawEllipse(petal, radius * 0.52, radius * 0.52);
    }
    p.setBrush(QColor(196, 40, 80));
    p.drawEllipse(centre, radius * 0.2, radius * 0.2);
    if (!look.stamens)
        return;
    // Stamens: fine lines with yellow tips around the heart.
    for (int k = 0; k < 9; ++k) {
        const double a = turn + k * 2 * std::numbers::pi / 9;
        const QPointF tip = centre + QPointF(std::cos(a), std::sin(a)) * radius * 0.42;
        p.setPen(QPen(QColor(190, 60, 90, look.stamenAlpha), look.stamenWidth));
        p.drawLine(centre, tip);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 204, 60));
        p.drawEllipse(tip, radius * look.tipScale + look.tipExtra, radius * look.tipScale + look.tipExtra);
    }
}

// A closed bud; with its sepal where the branch holds it.
inline void drawBud(QPainter& p, QPointF centre, double radius, bool sepal = true)
{
    QRadialGradient g(centre - QPointF(radius * 0.3, radius * 0.3), radius * 1.3);
    g.setColorAt(0.0, QColor(250, 190, 208));
    g.setColorAt(1.0, QColor(200, 60, 104));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);
    if (!sepal)
        return;
    p.setBrush(QColor(96, 60, 44));
    p.drawEllipse(centre + QPointF(radius * 0.5, radius * 0.6), radius * 0.35, radius * 0.3);
}

} // namespace velmora::artwork
