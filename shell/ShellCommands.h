#pragma once

#include <QPointer>
#include <QString>

namespace velmora {

class HelpWindow;
class Platform;
class Tfmain;
namespace data {
class TDMod;
}

// The main window's own commands, those of this shell's field: 更换用户 (relogin), 更换密码 (mm), 用户管理
// (user1), 备份数据 (back1), 系统帮助 (systemhelp) and 关于程序 (about). install() hands each to the main
// window, which runs it when its command is chosen while enabled. Every window they open is a dialog of the
// main window, and every box goes through the platform.
class ShellCommands
{
public:
    ShellCommands(Platform& platform, Tfmain& mainWindow, data::TDMod& dmod);
    ~ShellCommands();
    ShellCommands(const ShellCommands&) = delete;
    ShellCommands& operator=(const ShellCommands&) = delete;

    void install();

    void relogin();
    void changePassword();
    void manageOperators();
    void backUp();
    void showHelp();
    void showAbout();

    // Where DBConn.ini keeps the folder 备份数据 last wrote to: a key of ours beside the connection settings.
    static QString backupFolderSection() { return QStringLiteral("Velmora"); }
    static QString backupFolderKey() { return QStringLiteral("BackupFolder"); }

private:
    void say(const QString& text, bool warning = false);
    QString initialBackupFolder(const QString& database) const;

    Platform& m_platform;
    Tfmain& m_main;
    data::TDMod& m_dmod;
    QPointer<HelpWindow> m_help;
};

} // namespace velmora
