#pragma once

#include <QIcon>
#include <QPixmap>

namespace velmora {

// The two picture lists the main window's commands draw from. A command's
// picture index selects the same picture in both; the tool bar takes the
// large form, the menu the small one.
namespace ImageLists {

inline constexpr int LargeCount = 18; // ImageList1, 32 x 32
inline constexpr int SmallCount = 19; // ImageList2, 16 x 16
inline constexpr int LargeSize = 32;
inline constexpr int SmallSize = 16;

// A null pixmap for an index outside the list.
QPixmap ImageList1(int index);
QPixmap ImageList2(int index);
// Both forms of a picture (only the small one past the large list); a null
// icon for an index outside both lists.
QIcon commandIcon(int index);

} // namespace ImageLists
} // namespace velmora
