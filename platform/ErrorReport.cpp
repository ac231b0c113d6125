#include "platform/Platform.h"

namespace velmora {

void showErrorReport(Platform& platform, const QString& text, QWidget* owner)
{
    platform.messageBox(MessageBoxRequest::ok(text, platform.applicationTitle(), MsgIcon::Error, owner));
}

} // namespace velmora
