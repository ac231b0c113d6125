#pragma once

#include <QImage>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;

namespace velmora {

class RevealAnimation;
class RevealSurface;

// The splash window: product title, version, copyright and the status line
// through which the start-up reports the connection, over a picture that a
// reveal animation plays in on activation and at every key press.
//
// Closing the window (FormClose) makes it delete itself later. Whoever also
// destroys it at once holds it in a QPointer and deletes through that:
//     QPointer<Tfac> fac = new Tfac;  ...  fac->close();  delete fac.data();
// The explicit delete drops the pending deferred delete, and a splash that is
// already gone leaves a null pointer, so it is destroyed exactly once.
class Tfac : public QWidget
{
    Q_OBJECT

public:
    explicit Tfac(QWidget* parent = nullptr);
    ~Tfac() override;
    Tfac(const Tfac&) = delete;
    Tfac& operator=(const Tfac&) = delete;

    static constexpr int ClientWidth = 650;
    static constexpr int ClientHeight = 270;
    // Where the animation's frames land, 10 pixels below the picture's place.
    static constexpr QPoint FrameOrigin{2, 10};

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QPushButton* Button1;
    QPushButton* BitBtn1;

    // The product title, version line and copyright line the splash shows
    // (Label1, Label2, Label3), which 关于程序 shows too.
    static QString productTitle();
    static QString versionLine();
    static QString copyrightLine();
    // The title's look (Label1's 楷体 in navy), for every window that shows it.
    static void styleProductTitle(QLabel& label);

    // The window's rounded shape as set by FormCreate.
    QRegion windowShape() const { return m_shape; }
    // Image1's picture as the animation reads it (24 bits per pixel).
    QImage picture() const;

    // Runs of the animation so far, and the animation of the current or last
    // run (null before the first).
    int revealRuns() const { return m_revealRuns; }
    const RevealAnimation* lastReveal() const { return m_reveal.get(); }

signals:
    // A frame was painted onto the window (from inside the paint).
    void revealFramePainted(int c);
    // A frame's synchronous paint has returned.
    void revealFrameShown(int c);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    void FormCreate();
    void FormActivate();
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void Button1Click();
    void BitBtn1Click();
    void FormClose(QCloseEvent* event);

    void watchKeys(QObject* object);

    QRegion m_shape;
    RevealSurface* m_surface = nullptr;
    std::unique_ptr<RevealAnimation> m_reveal;
    mutable QImage m_picture;
    mutable qint64 m_pictureKey = 0;
    int m_revealRuns = 0;
    bool m_forwardingKey = false;
    bool m_revealing = false;
};

} // namespace velmora
