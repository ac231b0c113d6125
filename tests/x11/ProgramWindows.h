#pragma once

// What velmora's own windows look like on the screen, for the tests and the
// screenshots that drive the real program.

#include "tests/x11/XDriver.h"

namespace velmora::xtest {

inline const QString QuestionCaption = QStringLiteral("提示");
inline const QString SettingsCaption = QStringLiteral("配置数库库连接");
inline const QString LoginCaption = QStringLiteral("登录");
inline const QString MainWindowCaption = QStringLiteral("Tarvin医药管理系统");
inline const QString ApplicationTitle = QStringLiteral("Velmora");

constexpr QSize SplashSize{650, 270};
// Places within the splash, in window coordinates.
constexpr QPoint SplashPictureOrigin{2, 0};
inline const QRect SplashTitle{57, 46, 440, 67};
inline const QRect SplashStatusLine{14, 190, 531, 25};

// The splash's own artwork, as the program draws it.
const QImage& splashPicture();
// Pixels of the splash's screen image that differ from its picture: the
// labels' text, where the labels lie over it.
int inkIn(const QImage& splash, const QRect& area);
// The splash drawn in its own places: the picture at its centre, the title
// and the status line over it (not an animation frame, which covers them).
bool splashShowsPictureAndLabels(const QImage& splash);

std::optional<WindowInfo> splashOf(const Screen& screen, pid_t pid);

struct PaintedSplash
{
    QImage image;
    QRect place;
    // The last look that found no splash on the screen yet, and the first
    // that found it drawn (its picture, or a frame of its animation, not one
    // colour): the start-up pauses 1000 ms after it has painted the splash, so
    // a splash not drawn before the pause ends stays undrawn for 1000 ms or
    // more after it was mapped.
    Clock::time_point lastAbsent;
    Clock::time_point firstDrawn;
};
// Waits, while the program starts, for its splash to be on the screen with
// its picture and labels; fails when another of its windows comes first.
PaintedSplash waitForPaintedSplash(Screen& screen, ProgramRun& program, std::chrono::milliseconds limit = 30s);

// Which items of an open menu, shot whole from the screen, are drawn enabled, top to bottom (separators and
// hidden items are not items here): an enabled item's caption is drawn in the menu's dark text colour, a
// disabled one's only in grey.
std::vector<bool> menuItemsEnabled(const QImage& menu);

} // namespace velmora::xtest
