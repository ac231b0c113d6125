#pragma once

#include "settings/ConnectionSettings.h"

#include <QPointer>
#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace velmora {

class Platform;
class ShellCommands;
class Tfac;
class Tfmain;
class TFlogin;
namespace data {
class TDMod;
}

// Everything from process start to process end, in its fixed order: splash,
// data module, settings, connect (asking for new settings while it fails),
// the six start-up datasets, sign-on, then the message loop. run() returns
// the process exit status.
class StartupSequence
{
public:
    explicit StartupSequence(Platform& platform);
    ~StartupSequence();
    StartupSequence(const StartupSequence&) = delete;
    StartupSequence& operator=(const StartupSequence&) = delete;

    int run();

    // The working connection's command time-out in seconds (data::DefaultCommandTimeoutSeconds unless set).
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds; }

    // The connection string of every connect attempt, in order.
    const std::vector<QString>& connectAttempts() const { return m_connectAttempts; }

private:
    int runSteps();
    void showSplash();
    void assignConnectionString();
    bool tryConnect();
    bool reconfigureUntilConnected();
    void openStartupDatasets();
    void showMainWindowAndLogin();
    void closeSplash();
    void signOnAndRun();
    void tellAboutAFailedBackup();
    void endProgram();

    Platform& m_platform;
    ConnectionSettings m_settings;
    // The splash closes itself on close; QPointer tells whether it is still
    // there, so it is destroyed exactly once whoever closes it first.
    QPointer<Tfac> m_fac;
    std::unique_ptr<data::TDMod> m_dmod;
    std::unique_ptr<Tfmain> m_main;
    std::unique_ptr<TFlogin> m_login;
    std::unique_ptr<ShellCommands> m_commands;
    std::vector<QString> m_connectAttempts;
    int m_commandTimeout;
};

} // namespace velmora
