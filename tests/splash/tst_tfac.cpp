#include "splash/RevealAnimation.h"
#include "splash/Tfac.h"

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QtTest/qtestspontaneevent.h>
#include <QtTest>

using namespace velmora;

namespace {

constexpr int W = 650;
constexpr int H = 270;

// Distinct colours per column and per row, none white: shows which picture
// pixel lands where.
QImage testPicture()
{
    QImage picture(W, H, QImage::Format_RGB888);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            picture.setPixelColor(x, y, QColor(x % 256, (x / 256) * 64 + y % 64, y / 64 * 50));
    return picture;
}

QImage grabOnScreen(Tfac& fac)
{
    return fac.screen()->grabWindow(fac.winId(), 0, 0, W, H).toImage().convertToFormat(QImage::Format_RGB32);
}

// Frame numbers painted per run.
struct FrameLog
{
    explicit FrameLog(Tfac& fac)
    {
        QObject::connect(&fac, &Tfac::revealFramePainted, &fac, [this](int c) {
            if (c == 0)
                runs.append(QList<int>());
            if (!runs.isEmpty())
                runs.last().append(c);
        });
    }
    QList<QList<int>> runs;
};

QList<int> wholeRun()
{
    QList<int> frames;
    for (int c = 0; c <= W; c += 2)
        frames.append(c);
    return frames;
}

} // namespace

class TestTfac : public QObject
{
    Q_OBJECT

private slots:
    void windowIsBorderlessCentredAndSized()
    {
        Tfac fac;
        QCOMPARE(fac.objectName(), QStringLiteral("fac"));
        QVERIFY(fac.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(fac.isWindow());
        QCOMPARE(fac.size(), QSize(W, H));
        QCOMPARE(fac.font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(fac.font().pixelSize(), 13);
        QCOMPARE(fac.geometry().center(), fac.screen()->geometry().center());
        QVERIFY(fac.autoFillBackground());
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        const QString formFont = QStringLiteral("MS Sans Serif");
        QTest::newRow("Label1") << "Label1" << QRect(57, 46, 440, 67) << "Velmora"
                                << "楷体_GB2312" << 32 << true;
        QTest::newRow("Label2") << "Label2" << QRect(14, 248, 153, 17) << "版本号：1.0.0.0102" << formFont << 13
                                << false;
        QTest::newRow("Label3") << "Label3" << QRect(246, 247, 259, 18) << "版权所有 © Korvex工作室" << formFont << 13
                                << false;
        QTest::newRow("Label4") << "Label4" << QRect(14, 190, 531, 25)
                                << "欢迎使用Korvex工作室出品软件，程序正在连接后台数据库，请稍候..."
                                << "幼圆" << 16 << false;
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QRect, place);
        QFETCH(QString, text);
        QFETCH(QString, family);
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);

        Tfac fac;
        auto* label = fac.findChild<QLabel*>(name);
        QVERIFY(label != nullptr);
        QCOMPARE(label->geometry(), place);
        QCOMPARE(label->text(), text);
        QCOMPARE(label->font().family(), family);
        QCOMPARE(label->font().pixelSize(), pixelSize);
        QCOMPARE(label->font().bold(), bold);
        QVERIFY(!label->autoFillBackground());
        QVERIFY(!label->wordWrap());

        // Fixed size: a longer text is cut, the label does not grow.
        label->setText(text.repeated(4));
        fac.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fac));
        QCOMPARE(label->geometry(), place);
    }

    void titleIsNavy()
    {
        Tfac fac;
        QCOMPARE(fac.Label1->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    }

    void buttons()
    {
        Tfac fac;
        QCOMPARE(fac.findChild<QPushButton*>("Button1"), fac.Button1);
        QCOMPARE(fac.Button1->geometry(), QRect(548, 20, 75, 25));
        QCOMPARE(fac.Button1->text(), QStringLiteral("Button1"));
        QVERIFY(fac.Button1->isHidden());

        QCOMPARE(fac.findChild<QPushButton*>("BitBtn1"), fac.BitBtn1);
        QCOMPARE(fac.BitBtn1->geometry(), QRect(542, 222, 75, 25));
        QCOMPARE(fac.BitBtn1->text(), QStringLiteral("确定"));
        QVERIFY(!fac.BitBtn1->icon().isNull());
        QVERIFY(fac.BitBtn1->isDefault());
        QVERIFY(!fac.BitBtn1->isHidden());
        QCOMPARE(fac.Button1->nextInFocusChain(), fac.BitBtn1);
    }

    void pictureIsTheShippedArtwork()
    {
        Tfac fac;
        QCOMPARE(fac.findChild<QLabel*>("Image1"), fac.Image1);
        QCOMPARE(fac.Image1->geometry(), QRect(2, 0, W, H));
        QCOMPARE(fac.picture().size(), QSize(W, H));
        QCOMPARE(fac.picture().format(), QImage::Format_RGB888);

        // The resource is a true-colour PNG of 8 bits per channel, no alpha.
        QFile png(QStringLiteral(":/splash/splash.png"));
        QVERIFY(png.open(QIODevice::ReadOnly));
        const QByteArray head = png.read(26);
        QCOMPARE(head.mid(12, 4), QByteArray("IHDR"));
        QCOMPARE(qFromBigEndian<quint32>(head.constData() + 16), quint32(W));
        QCOMPARE(qFromBigEndian<quint32>(head.constData() + 20), quint32(H));
        QCOMPARE(int(head.at(24)), 8); // bits per channel
        QCOMPARE(int(head.at(25)), 2); // RGB
    }

    void shape_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("inside");
        QTest::newRow("top left corner") << QPoint(0, 0) << false;
        QTest::newRow("top right corner") << QPoint(649, 0) << false;
        QTest::newRow("bottom left corner") << QPoint(0, 269) << false;
        QTest::newRow("bottom right corner") << QPoint(649, 269) << false;
        QTest::newRow("near top left") << QPoint(3, 3) << false;
        QTest::newRow("near bottom right") << QPoint(646, 266) << false;
        QTest::newRow("corner arc inside") << QPoint(6, 6) << true;
        QTest::newRow("past the corner") << QPoint(15, 0) << true;
        QTest::newRow("centre") << QPoint(325, 135) << true;
        QTest::newRow("top middle") << QPoint(325, 0) << true;
        QTest::newRow("bottom middle") << QPoint(325, 269) << true;
        QTest::newRow("left middle") << QPoint(0, 135) << true;
        QTest::newRow("right middle") << QPoint(649, 135) << true;
        QTest::newRow("beyond the right edge") << QPoint(650, 135) << false;
        QTest::newRow("beyond the bottom edge") << QPoint(325, 270) << false;
    }

    void shape()
    {
        QFETCH(QPoint, point);
        QFETCH(bool, inside);
        Tfac fac;
        QCOMPARE(fac.windowShape().contains(point), inside);
        QCOMPARE(fac.mask().contains(point), inside);
    }

    void shapeIsSymmetric()
    {
        Tfac fac;
        const QRegion shape = fac.windowShape();
        QCOMPARE(shape.boundingRect(), QRect(0, 0, W, H));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool in = shape.contains(QPoint(x, y));
                if (in != shape.contains(QPoint(W - 1 - x, y)) || in != shape.contains(QPoint(x, H - 1 - y)))
                    QFAIL(qPrintable(QStringLiteral("asymmetric at %1,%2").arg(x).arg(y)));
            }
    }

    // Any key, with or without modifiers, and on the window or on a control,
    // plays the whole animation once, from frame 0.
    void keyRunsTheAnimation_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("onButton");
        QTest::addColumn<int>("presses"); // QTest presses each modifier key first
        QTest::newRow("shift alone") << int(Qt::Key_Shift) << int(Qt::NoModifier) << false << 1;
        QTest::newRow("control alone") << int(Qt::Key_Control) << int(Qt::NoModifier) << false << 1;
        QTest::newRow("alt alone") << int(Qt::Key_Alt) << int(Qt::NoModifier) << false << 1;
        QTest::newRow("letter") << int(Qt::Key_A) << int(Qt::NoModifier) << false << 1;
        QTest::newRow("shift, then F1") << int(Qt::Key_F1) << int(Qt::ShiftModifier) << false << 2;
        QTest::newRow("ctrl, alt, then delete")
            << int(Qt::Key_Delete) << int(Qt::ControlModifier | Qt::AltModifier) << false << 3;
        QTest::newRow("escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << false << 1;
        QTest::newRow("shift alone on BitBtn1") << int(Qt::Key_Shift) << int(Qt::NoModifier) << true << 1;
        QTest::newRow("space on BitBtn1") << int(Qt::Key_Space) << int(Qt::NoModifier) << true << 1;
        QTest::newRow("letter on BitBtn1") << int(Qt::Key_B) << int(Qt::NoModifier) << true << 1;
        QTest::newRow("shift, then tab on BitBtn1") << int(Qt::Key_Tab) << int(Qt::ShiftModifier) << true << 2;
    }

    void keyRunsTheAnimation()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, onButton);
        QFETCH(int, presses);

        Tfac fac;
        FrameLog log(fac);
        fac.show();
        QVERIFY(QTest::qWaitForWindowActive(&fac));
        const int before = fac.revealRuns();
        log.runs.clear();

        QWidget* target = onButton ? static_cast<QWidget*>(fac.BitBtn1) : &fac;
        QTest::keyPress(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(fac.revealRuns(), before + presses);
        QTest::keyRelease(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(fac.revealRuns(), before + presses);

        QCOMPARE(log.runs.size(), presses);
        for (const QList<int>& run : std::as_const(log.runs))
            QCOMPARE(run, wholeRun());
        QCOMPARE(fac.lastReveal()->framesComposed(), 326);
        QCOMPARE(fac.lastReveal()->columnCopies(), qint64(105950));
    }

    void eachActivationRunsTheAnimation()
    {
        Tfac fac;
        FrameLog log(fac);
        fac.show();
        QVERIFY(QTest::qWaitForWindowActive(&fac));
        QTRY_COMPARE(fac.revealRuns(), 1);

        QWidget other;
        for (int round = 2; round <= 3; ++round) {
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            QCOMPARE(fac.revealRuns(), round - 1);
            fac.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&fac));
            QTRY_COMPARE(fac.revealRuns(), round);
            QCOMPARE(log.runs.last(), wholeRun());
        }
        // B was made once per run, not once per frame.
        QCOMPARE(fac.lastReveal()->bufferAllocations(), 3);
    }

    // The frames land at (2, 10) over the picture and the labels; the next
    // ordinary paint shows Image1 and the labels again.
    void framesAreDrawnOverTheLabels()
    {
        Tfac fac;
        const QImage picture = testPicture();
        fac.Image1->setPixmap(QPixmap::fromImage(picture));
        fac.show();
        QVERIFY(QTest::qWaitForWindowActive(&fac));
        QTRY_COMPARE(fac.revealRuns(), 1);

        QImage first, last;
        connect(&fac, &Tfac::revealFrameShown, &fac, [&](int c) {
            if (c == 0)
                first = grabOnScreen(fac);
            if (c == W)
                last = grabOnScreen(fac);
        });
        QTest::keyClick(&fac, Qt::Key_Shift);
        QVERIFY(!first.isNull());
        QVERIFY(!last.isNull());

        // Away from the rounded corners, frame 0 is white from (2, 10) on,
        // across Label1 and Label4; above it the picture still shows.
        const QRgb white = qRgb(255, 255, 255);
        for (const QPoint p : {QPoint(60, 50), QPoint(100, 80), QPoint(20, 200), QPoint(300, 195), QPoint(2, 135),
                               QPoint(640, 135), QPoint(325, 269)})
            QCOMPARE(first.pixel(p), white);
        QCOMPARE(first.pixel(300, 5), picture.pixel(298, 5));

        // The last frame is the whole picture, 10 pixels lower than its place.
        for (const QPoint p : {QPoint(60, 50), QPoint(100, 80), QPoint(20, 200), QPoint(300, 150), QPoint(640, 135)})
            QCOMPARE(last.pixel(p), picture.pixel(p.x() - 2, p.y() - 10));

        // Afterwards Image1 is back in its own place.
        QTRY_COMPARE(grabOnScreen(fac).pixel(300, 150), picture.pixel(298, 150));
        QCOMPARE(grabOnScreen(fac).pixel(640, 135), picture.pixel(638, 135));
    }

    void animationReadsImage1sOwnPicture()
    {
        Tfac fac;
        const QImage picture = testPicture();
        fac.Image1->setPixmap(QPixmap::fromImage(picture));
        QImage last;
        connect(&fac, &Tfac::revealFrameShown, &fac, [&](int c) {
            if (c == 100)
                last = fac.lastReveal()->frame().copy();
        });
        fac.show();
        QVERIFY(QTest::qWaitForWindowActive(&fac));
        QTRY_COMPARE(fac.revealRuns(), 1);
        QCOMPARE(last, RevealAnimation(picture).renderFrame(100));
    }

    void closing_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("BitBtn1 clicked") << false;
        QTest::newRow("Enter on the default button") << true;
    }

    // BitBtn1 closes the window, which destroys itself exactly once.
    void closing()
    {
        QFETCH(bool, byKey);
        QPointer<Tfac> fac = new Tfac;
        int destroyed = 0;
        connect(fac, &QObject::destroyed, this, [&] { ++destroyed; });
        fac->show();
        QVERIFY(QTest::qWaitForWindowActive(fac));

        if (byKey)
            QTest::keyClick(fac, Qt::Key_Return);
        else
            QTest::mouseClick(fac->BitBtn1, Qt::LeftButton);
        QTRY_VERIFY(fac.isNull());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(destroyed, 1);
    }

    // With BitBtn1 hidden, as at start-up, no key and no request from the
    // window system closes the splash.
    void hiddenButtonLeavesNoWayToClose_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("return") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("escape") << int(Qt::Key_Escape) << int(Qt::NoModifier);
        QTest::newRow("space") << int(Qt::Key_Space) << int(Qt::NoModifier);
        QTest::newRow("alt+F4") << int(Qt::Key_F4) << int(Qt::AltModifier);
    }

    void hiddenButtonLeavesNoWayToClose()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QPointer<Tfac> fac = new Tfac;
        fac->BitBtn1->hide();
        fac->show();
        QVERIFY(QTest::qWaitForWindowActive(fac));

        QTest::keyClick(fac, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCloseEvent fromWindowSystem;
        QSpontaneKeyEvent::setSpontaneous(&fromWindowSystem);
        // notify() keeps the event spontaneous, as the window system's is.
        QCoreApplication::instance()->notify(fac, &fromWindowSystem);
        QVERIFY(!fromWindowSystem.isAccepted());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        QVERIFY(!fac.isNull());
        QVERIFY(fac->isVisible());
        delete fac.data();
    }
};

QTEST_MAIN(TestTfac)
#include "tst_tfac.moc"
