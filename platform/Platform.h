#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace velmora {

enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No, Failed };
enum class MsgIcon { None, Information, Warning, Error, Question };

struct MessageBoxRequest
{
    QString text;
    QString caption;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer defaultButton = MsgAnswer::Ok;
    MsgIcon icon = MsgIcon::None;
    QWidget* owner = nullptr; // nullptr: the application's own window

    // A box with one OK button.
    static MessageBoxRequest ok(const QString& text, const QString& caption, MsgIcon icon, QWidget* owner = nullptr)
    {
        return {text, caption, MsgButtons::Ok, MsgAnswer::Ok, icon, owner};
    }
    // A Yes/No question whose default button is Yes.
    static MessageBoxRequest yesNo(const QString& text, const QString& caption, MsgIcon icon, QWidget* owner = nullptr)
    {
        return {text, caption, MsgButtons::YesNo, MsgAnswer::Yes, icon, owner};
    }
};

// The services the program asks of its desktop. The start-up sequence and the
// windows take them as a parameter, so tests can answer boxes and skip pauses.
class Platform
{
public:
    virtual ~Platform() = default;

    virtual MsgAnswer messageBox(const MessageBoxRequest& request) = 0;
    // Blocks the GUI thread. Only the window system's exposures and paints are
    // handled meanwhile, so the windows on screen stay drawn; the operator's
    // keys and clicks wait until a modal or the message loop runs.
    virtual void pause(int milliseconds) = 0;
    // Runs the dialog's own modal loop and returns its result code.
    virtual int showModal(QDialog& dialog) = 0;
    // Carries out a window's pending paint now, before any event loop runs,
    // and returns once it is on the screen (a newly shown window is given a
    // bounded time to be mapped and exposed first).
    virtual void repaintNow(QWidget& window) = 0;

    virtual void setApplicationTitle(const QString& title) = 0;
    virtual QString applicationTitle() const = 0;

    // Asks the application to end: open modal loops return and the message
    // loop will not (or no longer) run.
    virtual void requestEnd() = 0;
    virtual bool endRequested() const = 0;
    // Runs the message loop with mainWindow as the application's main window;
    // returns at once when an end was requested or there is no main window.
    virtual int runMessageLoop(QWidget* mainWindow) = 0;

    // Folder of the running executable, with a trailing separator.
    virtual QString executableFolder() const = 0;
};

// The general error report: an error box with the error's own text.
void showErrorReport(Platform& platform, const QString& text, QWidget* owner = nullptr);

} // namespace velmora
