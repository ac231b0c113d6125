#include "platform/Platform.h"

namespace velmora {

void showErrorReport(Platform& platform, const QString& text, QWidget* owner)
{
    MessageBoxRequest request;
    request.text = text;
    request.caption = platform.applicationTitle();
    request.buttons = MsgButtons::Ok;
    request.defaultButton = MsgAnswer::Ok;
    request.icon = MsgIcon::Error;
    request.owner = owner;
    platform.messageBox(request);
}

} // namespace velmora
