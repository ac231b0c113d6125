#include "mainwin/PageScroller.h"

#include <QToolButton>
#include <QtTest>

using namespace velmora;

class TestPageScroller : public QObject
{
    Q_OBJECT

private slots:
    void arrowsOnlyWhenNarrower_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("arrows");
        QTest::newRow("narrower") << 400 << true;
        QTest::newRow("one pixel short") << 1010 << true;
        QTest::newRow("exact") << 1011 << false;
        QTest::newRow("wider") << 1400 << false;
    }

    void arrowsOnlyWhenNarrower()
    {
        QFETCH(int, width);
        QFETCH(bool, arrows);
        PageScroller scroller;
        auto* child = new QWidget;
        child->setFixedSize(1011, 54);
        scroller.setWidget(child);
        scroller.resize(width, 54);
        scroller.show();
        QVERIFY(QTest::qWaitForWindowExposed(&scroller));
        QCOMPARE(scroller.leftArrow()->isVisible(), arrows);
        QCOMPARE(scroller.rightArrow()->isVisible(), arrows);
    }

    // A press on an arrow scrolls, and goes on scrolling while the arrow is held; hovering does not, however
    // long; the ends are respected.
    void arrowsScrollWhilePressed()
    {
        PageScroller scroller;
        auto* child = new QWidget;
        child->setFixedSize(1011, 54);
        scroller.setWidget(child);
        scroller.resize(300, 54);
        scroller.show();
        QVERIFY(QTest::qWaitForWindowExposed(&scroller));
        QCOMPARE(scroller.position(), 0);

        // Ten times the arrow's repeat interval: a hover that scrolled would show in it, and ends the wait.
        constexpr int RepeatWindowMs = 400;
        const auto moves = [&](int from) {
            return QTest::qWaitFor([&] { return scroller.position() != from; }, RepeatWindowMs);
        };
        QTest::mouseMove(scroller.rightArrow());
        QVERIFY(!scroller.rightArrow()->isDown());
        QVERIFY(!moves(0));
        QCOMPARE(scroller.position(), 0);

        QTest::mouseClick(scroller.rightArrow(), Qt::LeftButton);
        const int once = scroller.position();
        QVERIFY(once > 0);
        QTest::mouseClick(scroller.rightArrow(), Qt::LeftButton);
        QCOMPARE(scroller.position(), 2 * once);

        QTest::mouseClick(scroller.leftArrow(), Qt::LeftButton);
        QTest::mouseClick(scroller.leftArrow(), Qt::LeftButton);
        QTest::mouseClick(scroller.leftArrow(), Qt::LeftButton);
        QCOMPARE(scroller.position(), 0);

        // Held, the arrow repeats; released, it stops.
        QTest::mousePress(scroller.rightArrow(), Qt::LeftButton);
        QTRY_VERIFY(scroller.position() >= 3 * once);
        QTest::mouseRelease(scroller.rightArrow(), Qt::LeftButton);
        const int held = scroller.position();
        QVERIFY(!scroller.rightArrow()->isDown());
        QVERIFY(!moves(held));
        QCOMPARE(scroller.position(), held);

        for (int i = 0; i < 100; ++i)
            QTest::mouseClick(scroller.rightArrow(), Qt::LeftButton);
        const int end = scroller.position();
        QVERIFY(end > 0);
        // The whole child can be brought into view, no further.
        QVERIFY(end >= 1011 - 300);
        QVERIFY(end <= 1011);

        // Widening the scroller so the child fits takes the arrows away and shows the start.
        scroller.resize(1200, 54);
        QTRY_VERIFY(!scroller.rightArrow()->isVisible());
        QCOMPARE(scroller.position(), 0);
    }
};

QTEST_MAIN(TestPageScroller)
#include "tst_pagescroller.moc"
