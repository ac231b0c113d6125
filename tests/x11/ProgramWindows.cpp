#include "tests/x11/ProgramWindows.h"

#include <cstdlib>

namespace velmora::xtest {

const QImage& splashPicture()
{
    static const QImage picture =
        QImage(sourceFolder() + QStringLiteral("/splash/splash.png")).convertToFormat(QImage::Format_RGB32);
    return picture;
}

int inkIn(const QImage& splash, const QRect& area)
{
    const QImage& picture = splashPicture();
    int ink = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb shown = splash.pixel(x, y);
            const QRgb drawn = picture.pixel(x - SplashPictureOrigin.x(), y - SplashPictureOrigin.y());
            const int distance = std::abs(qRed(shown) - qRed(drawn)) + std::abs(qGreen(shown) - qGreen(drawn)) +
                                 std::abs(qBlue(shown) - qBlue(drawn));
            if (distance > 150)
                ++ink;
        }
    }
    return ink;
}

bool splashShowsPictureAndLabels(const QImage& splash)
{
    if (splash.size() != SplashSize)
        return false;
    const QPoint centre(SplashSize.width() / 2, SplashSize.height() / 2);
    return splash.pixel(centre) == splashPicture().pixel(centre - SplashPictureOrigin) &&
           inkIn(splash, SplashTitle) > 200 && inkIn(splash, SplashStatusLine) > 100;
}

std::optional<WindowInfo> splashOf(const Screen& screen, pid_t pid)
{
    return screen.findWindow(pid, [](const WindowInfo& w) { return w.geometry.size() == SplashSize; });
}

namespace {

// Drawn: more than two colours among points spread over the window (an
// unpainted window shows one colour, its background or what lay beneath).
bool drawn(const QImage& shown)
{
    QList<QRgb> colours;
    for (int y = 5; y < shown.height(); y += shown.height() / 10)
        for (int x = 5; x < shown.width(); x += shown.width() / 10)
            if (!colours.contains(shown.pixel(x, y)))
                colours << shown.pixel(x, y);
    return colours.size() > 2;
}

} // namespace

PaintedSplash waitForPaintedSplash(Screen& screen, ProgramRun& program, std::chrono::milliseconds limit)
{
    Clock::time_point lastAbsent = Clock::now();
    std::optional<Clock::time_point> firstDrawn;
    return waitFor("the splash painted on the screen", limit, [&]() -> std::optional<PaintedSplash> {
        const Clock::time_point look = Clock::now();
        if (!program.running())
            throw DriverError("the program ended before its splash was seen painted");
        for (const WindowInfo& w : screen.windowsOf(program.pid())) {
            if (w.geometry.size() != SplashSize)
                throw DriverError("\"" + w.netName.toStdString() + "\" came before the splash was seen painted");
        }
        const auto splash = splashOf(screen, program.pid());
        if (!splash) {
            lastAbsent = look;
            return std::nullopt;
        }
        QImage shown = screen.grab(splash->geometry);
        if (!firstDrawn && drawn(shown))
            firstDrawn = Clock::now();
        if (!splashShowsPictureAndLabels(shown))
            return std::nullopt;
        return PaintedSplash{std::move(shown), splash->geometry, lastAbsent, firstDrawn.value_or(Clock::now())};
    });
}

std::vector<bool> menuItemsEnabled(const QImage& menu)
{
    // Captions start right of the picture column; the frame's last pixels are left out.
    const int left = 30;
    const int right = menu.width() - 8;
    // A row that is one colour across is background or a separator line; a caption is a run of other rows.
    const auto uniform = [&](int y) {
        for (int x = left; x < right; ++x) {
            if (menu.pixel(x, y) != menu.pixel(left, y))
                return false;
        }
        return true;
    };
    std::vector<bool> items;
    int rows = 0;
    int darkest = 255;
    const auto close = [&] {
        // The disabled caption's grey (128) blends only lighter into its background; the enabled one is black.
        if (rows >= 5)
            items.push_back(darkest < 100);
        rows = 0;
        darkest = 255;
    };
    for (int y = 2; y < menu.height() - 2; ++y) {
        if (uniform(y)) {
            close();
            continue;
        }
        ++rows;
        for (int x = left; x < right; ++x) {
            const QRgb c = menu.pixel(x, y);
            darkest = std::min(darkest, (qRed(c) + qGreen(c) + qBlue(c)) / 3);
        }
    }
    close();
    return items;
}

} // namespace velmora::xtest
