#include "mainwin/ImageLists.h"

#include <QString>

// The resource lives in a static library, so it has to be registered by hand,
// from the global namespace.
static void registerIconResource()
{
    Q_INIT_RESOURCE(mainwin_icons);
}

namespace velmora::ImageLists {
namespace {

QPixmap load(const char* list, int index, int count)
{
    static const bool registered = (registerIconResource(), true);
    Q_UNUSED(registered);
    if (index < 0 || index >= count)
        return {};
    return QPixmap(
        QStringLiteral(":/mainwin/icons/%1/%2.png").arg(QLatin1String(list)).arg(index, 2, 10, QLatin1Char('0')));
}

} // namespace

QPixmap ImageList1(int index)
{
    return load("large", index, LargeCount);
}

QPixmap ImageList2(int index)
{
    return load("small", index, SmallCount);
}

QIcon commandIcon(int index)
{
    QIcon icon;
    const QPixmap small = ImageList2(index);
    if (!small.isNull())
        icon.addPixmap(small);
    const QPixmap large = ImageList1(index);
    if (!large.isNull())
        icon.addPixmap(large);
    return icon;
}

} // namespace velmora::ImageLists
