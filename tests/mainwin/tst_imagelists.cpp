#include "mainwin/ImageLists.h"

#include <QGuiApplication>
#include <QImage>
#include <QtTest>

using namespace velmora;

namespace {

QImage imageOf(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestImageLists : public QObject
{
    Q_OBJECT

private slots:
    void lists_data()
    {
        QTest::addColumn<bool>("large");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("size");
        QTest::newRow("ImageList1") << true << 18 << 32;
        QTest::newRow("ImageList2") << false << 19 << 16;
    }

    // Every picture is there at its size, outside the list there is none, and
    // no two pictures of a list look alike.
    void lists()
    {
        QFETCH(bool, large);
        QFETCH(int, count);
        QFETCH(int, size);
        const auto get = [large](int i) { return large ? ImageLists::ImageList1(i) : ImageLists::ImageList2(i); };
        QList<QImage> images;
        for (int i = 0; i < count; ++i) {
            const QPixmap p = get(i);
            QVERIFY2(!p.isNull(), qPrintable(QString::number(i)));
            QCOMPARE(p.size(), QSize(size, size));
            const QImage image = imageOf(p);
            for (int j = 0; j < images.size(); ++j)
                QVERIFY2(image != images[j], qPrintable(QStringLiteral("%1 looks like %2").arg(i).arg(j)));
            images << image;
        }
        QVERIFY(get(count).isNull());
        QVERIFY(get(-1).isNull());
    }

    void commandIcon_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("in both lists") << 0 << QList<int>{16, 32};
        QTest::newRow("last of both") << 17 << QList<int>{16, 32};
        QTest::newRow("small list only") << 18 << QList<int>{16};
        QTest::newRow("none") << -1 << QList<int>{};
        QTest::newRow("past both") << 19 << QList<int>{};
    }

    // A command's icon carries the same index from both lists.
    void commandIcon()
    {
        QFETCH(int, index);
        QFETCH(QList<int>, sizes);
        const QIcon icon = ImageLists::commandIcon(index);
        QList<int> got;
        for (const QSize& s : icon.availableSizes())
            got << s.width();
        std::sort(got.begin(), got.end());
        QCOMPARE(got, sizes);
        if (sizes.contains(16))
            QCOMPARE(imageOf(icon.pixmap(16)), imageOf(ImageLists::ImageList2(index)));
        if (sizes.contains(32))
            QCOMPARE(imageOf(icon.pixmap(32)), imageOf(ImageLists::ImageList1(index)));
    }
};

QTEST_MAIN(TestImageLists)
#include "tst_imagelists.moc"
