#include "platform/QtPlatform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace velmora;

// Counts its paints and activations.
class WatchedWindow : public QWidget
{
public:
    int paints = 0;
    int activations = 0;
    std::function<void()> onActivate;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::WindowActivate) {
            ++activations;
            if (onActivate)
                onActivate();
        }
        return QWidget::event(event);
    }
};

class TestQtPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installChineseUi(*qApp); }

    void standardButtonsSpeakChinese_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes/no") << int(MsgButtons::YesNo) << QStringList{"是", "否"} << int(MsgAnswer::Yes);
        QTest::newRow("ok") << int(MsgButtons::Ok) << QStringList{"确定"} << int(MsgAnswer::Ok);
    }

    // The box shows the caption, text and Chinese buttons it was given, and
    // Enter presses its default button.
    void standardButtonsSpeakChinese()
    {
        QFETCH(int, buttons);
        QFETCH(QStringList, captions);
        QFETCH(int, answer);

        QtPlatform platform(*qApp);
        QStringList seen;
        QString caption;
        bool pressed = false;
        bool forced = false;
        // Looks for the box every few milliseconds; presses Enter once it is there. Whatever goes wrong, the
        // box is closed within five seconds, so that a failing check fails the test instead of leaving the
        // box's own loop waiting.
        QElapsedTimer clock;
        clock.start();
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog && clock.elapsed() > 5000) // shown but never active: closed all the same
                for (QWidget* window : QApplication::topLevelWidgets())
                    if (window->isVisible() && qobject_cast<QDialog*>(window))
                        dialog = static_cast<QDialog*>(window);
            if (!dialog)
                return;
            if (clock.elapsed() > 5000) {
                forced = true;
                dialog->done(QDialog::Rejected);
                return;
            }
            if (pressed)
                return;
            pressed = true;
            caption = dialog->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(dialog))
                for (QAbstractButton* b : box->buttons())
                    seen << b->text().remove(QLatin1Char('&'));
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        poll.start();
        MessageBoxRequest request;
        request.text = QStringLiteral("联接数据库服务器失败,是否重新配置连接?");
        request.caption = QStringLiteral("提示");
        request.buttons = MsgButtons(buttons);
        request.defaultButton = buttons == int(MsgButtons::YesNo) ? MsgAnswer::Yes : MsgAnswer::Ok;
        request.icon = MsgIcon::Information;
        const MsgAnswer got = platform.messageBox(request);
        poll.stop();

        QVERIFY2(!forced, "Enter did not close the box");
        QCOMPARE(caption, QStringLiteral("提示"));
        // Qt's translation adds the accelerator: "是(Y)".
        for (const QString& c : captions)
            QVERIFY2(std::any_of(seen.cbegin(), seen.cend(), [&](const QString& s) { return s.startsWith(c); }),
                     qPrintable(seen.join(',')));
        QCOMPARE(int(got), answer);
    }

    // A pause keeps windows painted but runs nothing else of the program: a
    // window activated meanwhile hears of it only when the pause is over.
    void pausePaintsAndHoldsActivationUntilItEnds()
    {
        QtPlatform platform(*qApp);
        WatchedWindow other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        WatchedWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        window.paints = 0;
        window.activations = 0;

        QElapsedTimer sincePauseBegan;
        qint64 activatedAt = -1;
        window.onActivate = [&] { activatedAt = sincePauseBegan.elapsed(); };
        window.update();
        window.activateWindow();
        sincePauseBegan.start();
        platform.pause(200);

        QVERIFY(window.paints > 0);
        QVERIFY(window.isActiveWindow());
        QCOMPARE(window.activations, 1);
        QVERIFY2(activatedAt >= 190, qPrintable(QString::number(activatedAt)));
    }

    // When a box closes, the window that was active before it has the
    // keyboard again, whether a window manager hands it back or not.
    void closedBoxHandsTheKeyboardBack()
    {
        QtPlatform platform(*qApp);
        WatchedWindow owner;
        owner.show();
        owner.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&owner));
        QWidget bystander;
        bystander.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bystander));
        owner.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&owner));

        QTimer::singleShot(0, this, [] {
            if (QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }))
                QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
        });
        // A box that never took the key still closes, so a failure cannot hold the run; the timer ends with
        // this case.
        QObject thisCase;
        QTimer::singleShot(10000, &thisCase, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        platform.messageBox(MessageBoxRequest::ok(QStringLiteral("密码不对,请重新录入!"), QStringLiteral("Velmora"),
                                                  MsgIcon::None, &owner));
        QTRY_VERIFY(owner.isActiveWindow());
        QVERIFY(!bystander.isActiveWindow());

        // A window that goes away without the keyboard leaves it where it is.
        bystander.hide();
        QCoreApplication::processEvents();
        QVERIFY(owner.isActiveWindow());
    }

    // A modal dialog minimised by a window manager comes back in front when
    // the window it blocks is activated.
    void minimisedDialogComesBackWithItsOwner()
    {
        QtPlatform platform(*qApp);
        QWidget owner;
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QDialog dialog(&owner);
        bool back = false;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(dialog.isVisible());
            dialog.showMinimized();
            QTRY_VERIFY(dialog.isMinimized());
            owner.activateWindow();
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.isMinimized() && dialog.isActiveWindow(), 5000);
            back = !dialog.isMinimized() && dialog.isActiveWindow();
            dialog.done(QDialog::Accepted);
        });
        QTimer::singleShot(10000, &dialog, [&] { dialog.done(QDialog::Rejected); });
        platform.showModal(dialog);
        QVERIFY(back);
    }

    void executableFolderEndsWithSeparator()
    {
        QtPlatform platform(*qApp);
        const QString folder = platform.executableFolder();
        QVERIFY(folder.endsWith('/'));
        QCOMPARE(folder, QCoreApplication::applicationDirPath() + '/');
    }

    void endRequestSkipsMessageLoop()
    {
        QtPlatform platform(*qApp);
        QWidget window;
        platform.requestEnd();
        QVERIFY(platform.endRequested());
        QCOMPARE(platform.runMessageLoop(&window), 0);
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestQtPlatform)
#include "tst_qtplatform.moc"
