#pragma once

#include "platform/Platform.h"

#include <memory>

class QApplication;

namespace velmora {

class WindowRules;

// The platform on a real Qt application.
class QtPlatform final : public Platform
{
public:
    explicit QtPlatform(QApplication& app);
    ~QtPlatform() override;
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

    MsgAnswer messageBox(const MessageBoxRequest& request) override;
    void pause(int milliseconds) override;
    int showModal(QDialog& dialog) override;
    void repaintNow(QWidget& window) override;
    void setApplicationTitle(const QString& title) override;
    QString applicationTitle() const override;
    void requestEnd() override;
    bool endRequested() const override { return m_endRequested; }
    int runMessageLoop(QWidget* mainWindow) override;
    QString executableFolder() const override;

private:
    QApplication& m_app;
    QString m_title;
    bool m_endRequested = false;
    // Every window's desktop rules, for as long as this platform is in use.
    std::unique_ptr<WindowRules> m_windowRules;
};

// Chinese standard buttons (是/否/确定) and the Windows font names of the
// windows mapped onto installed Chinese fonts.
void installChineseUi(QApplication& app);

} // namespace velmora
