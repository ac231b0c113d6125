#include "shell/ShellCommands.h"

#include "data/engines/Backup.h"
#include "data/engines/PgBackend.h"
#include "data/module/DMod.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/Platform.h"
#include "settings/ConnectionSettings.h"
#include "settings/ProfileFile.h"
#include "shell/AboutDialog.h"
#include "shell/BackupDialog.h"
#include "shell/ChangePasswordDialog.h"
#include "shell/HelpWindow.h"
#include "shell/OperatorsDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <ctime>
#include <exception>

namespace velmora {

ShellCommands::ShellCommands(Platform& platform, Tfmain& mainWindow, data::TDMod& dmod)
    : m_platform(platform), m_main(mainWindow), m_dmod(dmod)
{
}

ShellCommands::~ShellCommands() = default;

void ShellCommands::install()
{
    m_main.setCommandAction(QStringLiteral("relogin"), [this] { relogin(); });
    m_main.setCommandAction(QStringLiteral("mm"), [this] { changePassword(); });
    m_main.setCommandAction(QStringLiteral("user1"), [this] { manageOperators(); });
    m_main.setCommandAction(QStringLiteral("back1"), [this] { backUp(); });
    m_main.setCommandAction(QStringLiteral("about"), [this] { showAbout(); });
    // The manual stays open beside the main window.
    m_main.setCommandAction(QStringLiteral("systemhelp"), [this] { showHelp(); });
}

void ShellCommands::say(const QString& text, bool warning)
{
    m_platform.messageBox(MessageBoxRequest::ok(text, QStringLiteral("提示"),
                                                warning ? MsgIcon::Warning : MsgIcon::Information, &m_main));
}

// ---------------------------------------------------------------- 更换用户

void ShellCommands::relogin()
{
    // Whatever a sign-on that fails part way writes into the Session is taken back when nobody signs on: the
    // operator before stays signed on with everything as it was.
    const Session previous = m_main.session();
    try {
        // The operators as they are now: 用户管理 may have added or disabled some since the start.
        m_dmod.tuser().close();
        m_dmod.tuser().open();
    } catch (const std::exception& error) {
        showErrorReport(m_platform, QString::fromUtf8(error.what()), &m_main);
        return;
    }
    TFlogin dialog(m_platform, m_main, m_dmod, &m_main);
    dialog.setKeepsPreviousOperator(true);
    m_platform.showModal(dialog);
    if (!dialog.loggedIn())
        m_main.session() = previous;
}

// ---------------------------------------------------------------- 更换密码, 用户管理

void ShellCommands::changePassword()
{
    try {
        ChangePasswordDialog dialog(m_platform, m_dmod.ADOCON().backend(), m_main.session().operatorId, &m_main);
        m_platform.showModal(dialog);
    } catch (const std::exception& error) {
        showErrorReport(m_platform, QString::fromUtf8(error.what()), &m_main);
    }
}

void ShellCommands::manageOperators()
{
    try {
        OperatorsDialog dialog(m_platform, m_dmod.ADOCON().backend(), m_main.session().operatorId, &m_main);
        dialog.reload();
        m_platform.showModal(dialog);
    } catch (const std::exception& error) {
        showErrorReport(m_platform, QString::fromUtf8(error.what()), &m_main);
    }
}

// ---------------------------------------------------------------- 备份数据

QString ShellCommands::initialBackupFolder(const QString& database) const
{
    const ProfileFile settings(settingsFilePath(m_platform.executableFolder()));
    const QString remembered = settings.readString(backupFolderSection(), backupFolderKey(), QString());
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    // Where the daily backup puts its copies, when there is such a folder.
    const QString beside = QFileInfo(database).absolutePath();
    const QString daily = QDir(beside).filePath(QStringLiteral("backup"));
    return QFileInfo(daily).isDir() ? daily : beside;
}

void ShellCommands::backUp()
{
    const std::string location = m_dmod.ADOCON().location();
    if (data::isServerSource(location)) {
        // A server's database is copied by the server's own tool, as velmora-db backup tells too.
        say(QStringLiteral("本店的数据库在 PostgreSQL 服务器上：\n%1\n\n"
                           "服务器上的数据库不能从收银台备份，要用服务器自己的工具 pg_dump 备份"
                           "（它在收银台工作时也读取一致的数据）。管理员用能读取所有表的角色运行：\n"
                           "    %2\n"
                           "恢复时，把备份装入一个新的空数据库：\n"
                           "    %3")
                .arg(QString::fromStdString(data::redactedServerUri(location)),
                     QString::fromStdString(data::serverDumpCommand(location)),
                     QString::fromStdString(data::serverRestoreCommand())));
        return;
    }
    const QString database = QString::fromStdString(location);

    QFileDialog chooser(&m_main, QStringLiteral("选择备份文件夹"), initialBackupFolder(database));
    chooser.setObjectName(QStringLiteral("backupFolder"));
    chooser.setFileMode(QFileDialog::Directory);
    // The same dialog on every desktop, also where no desktop portal answers.
    chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    if (m_platform.showModal(chooser) != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    const QString folder = QDir::cleanPath(chooser.selectedFiles().constFirst());

    QString notRemembered;
    try {
        ProfileFile(settingsFilePath(m_platform.executableFolder()))
            .writeString(backupFolderSection(), backupFolderKey(), folder);
    } catch (const ProfileError& error) {
        notRemembered = QStringLiteral("\n\n这个文件夹没能记下来（%1），下次要重新选择。").arg(error.message());
    }

    // A dated name, as the daily backup gives its copies; never over an earlier copy.
    const QString name = QString::fromStdString(data::datedBackupName(location, std::time(nullptr)));
    QString destination = QDir(folder).filePath(name);
    for (int n = 2; QFileInfo::exists(destination); ++n)
        destination = QDir(folder).filePath(QFileInfo(name).completeBaseName() + QStringLiteral("-%1.mdb").arg(n));

    BackupDialog progress(location, destination.toStdString(), &m_main);
    progress.start();
    m_platform.showModal(progress);
    switch (progress.finish()) {
    case BackupDialog::Outcome::Written:
        say(QStringLiteral("数据已备份到：\n%1\n（%2 页，完整性检查通过）")
                .arg(QString::fromStdString(progress.report().destination))
                .arg(progress.report().pages) +
            notRemembered);
        break;
    case BackupDialog::Outcome::Cancelled:
        say(QStringLiteral("备份已取消，没有留下副本。") + notRemembered);
        break;
    default:
        say(QStringLiteral("备份失败，没有留下副本：\n%1").arg(progress.failure()) + notRemembered, true);
        break;
    }
}

// ---------------------------------------------------------------- 系统帮助, 关于程序

void ShellCommands::showHelp()
{
    if (!m_help)
        m_help = new HelpWindow(m_platform.executableFolder(), &m_main);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void ShellCommands::showAbout()
{
    const std::string location = m_dmod.ADOCON().location();
    const bool server = data::isServerSource(location);
    AboutDialog dialog(QString::fromStdString(location), server, &m_main);
    m_platform.showModal(dialog);
}

} // namespace velmora
