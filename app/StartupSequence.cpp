#include "app/StartupSequence.h"

#include "app/BackupNotice.h"
#include "data/module/Rights.h"
#include "data/module/SchemaVersion.h"

#include "data/module/DMod.h"
#include "login/TFlogin.h"
#include "mainwin/Tfmain.h"
#include "platform/Platform.h"
#include "settings/Tfrm_DBini.h"
#include "shell/ShellCommands.h"
#include "splash/Tfac.h"

#include <QLabel>
#include <QPushButton>

#include <exception>

namespace velmora {

namespace {

const QString RetryQuestion = QStringLiteral("联接数据库服务器失败,是否重新配置连接?");
const QString FailureLine = QStringLiteral("联接失败，请检验后台数据库状态！");
const QString SuccessLine = QStringLiteral("联接成功！请继续操作");
const QString ApplicationTitle = QStringLiteral("Velmora");

} // namespace

StartupSequence::StartupSequence(Platform& platform)
    : m_platform(platform), m_settings(platform.executableFolder()),
      m_commandTimeout(data::DefaultCommandTimeoutSeconds)
{
}

StartupSequence::~StartupSequence()
{
    endProgram();
}

int StartupSequence::run()
{
    try {
        return runSteps();
    } catch (const std::exception& e) {
        // The general error report: the only failure nobody recovers from
        // (a start-up dataset that cannot open). The dataset's text comes
        // first as it is; the file it was read from follows, so whoever
        // mends the database knows which one.
        QString report = QString::fromUtf8(e.what());
        const std::string location = m_dmod ? m_dmod->ADOCON().location() : std::string();
        if (!location.empty()) {
            // A shared server's location is its URI (without the password).
            const bool server = location.find("://") != std::string::npos;
            report += (server ? QStringLiteral("\n数据库服务器: ") : QStringLiteral("\n数据库文件: ")) +
                      QString::fromStdString(location);
        }
        showErrorReport(m_platform, report);
        endProgram();
        return 1;
    }
}

int StartupSequence::runSteps()
{
    showSplash();
    m_platform.pause(1000);
    m_platform.setApplicationTitle(ApplicationTitle);
    m_dmod = std::make_unique<data::TDMod>(m_platform.executableFolder().toStdString());
    m_dmod->ADOCON().setCommandTimeout(m_commandTimeout);

    m_settings.ReadConnectionSettings(FirstReadDefaults);
    m_settings.BuildConnectionString();
    assignConnectionString();

    if (!tryConnect() && !reconfigureUntilConnected()) {
        m_platform.requestEnd();
        endProgram();
        return 0;
    }

    openStartupDatasets();
    showMainWindowAndLogin();
    closeSplash();
    signOnAndRun();
    endProgram();
    return 0;
}

void StartupSequence::showSplash()
{
    m_fac = new Tfac();
    m_fac->BitBtn1->setVisible(false);
    m_fac->Label4->setVisible(true);
    m_fac->show();
    m_platform.repaintNow(*m_fac);
}

void StartupSequence::assignConnectionString()
{
    m_dmod->ADOCON().setConnectionString(m_settings.DBConnString.toStdString());
}

bool StartupSequence::tryConnect()
{
    m_connectAttempts.push_back(m_settings.DBConnString);
    try {
        m_dmod->ADOCON().open();
        return true;
    } catch (const std::exception&) {
        // The cause is not shown: the question that follows offers the fix.
        return false;
    }
}

bool StartupSequence::reconfigureUntilConnected()
{
    for (;;) {
        const auto question = MessageBoxRequest::yesNo(RetryQuestion, QStringLiteral("提示"), MsgIcon::Information);
        if (m_platform.messageBox(question) == MsgAnswer::No)
            return false;

        {
            Tfrm_DBini dialog(m_platform, m_platform.executableFolder());
            m_platform.showModal(dialog);
        }

        m_settings.ReadConnectionSettings(ReReadDefaults);
        m_settings.BuildConnectionString();
        assignConnectionString();
        if (tryConnect())
            return true;

        if (m_fac) {
            m_fac->Label4->setText(FailureLine);
            m_platform.repaintNow(*m_fac);
        }
        m_platform.pause(500);
    }
}

void StartupSequence::openStartupDatasets()
{
    // A database a newer version made or upgraded: what this one would write could go past what that one expects.
    // Refused through the general error report, before anything is read into the windows or written.
    data::refuseNewerSchema(m_dmod->ADOCON().backend());
    for (data::Dataset* dataset :
         {&m_dmod->toper(), &m_dmod->tuser(), &m_dmod->typzdk(), &m_dmod->tkc(), &m_dmod->tbm(), &m_dmod->tdw()})
        dataset->open();
}

void StartupSequence::closeSplash()
{
    if (!m_fac)
        return;
    m_fac->Label4->setText(SuccessLine);
    m_fac->close();
    delete m_fac.data(); // no-op when closing already destroyed it
}

// The main window and the login dialog are on the screen and painted before
// the splash goes, so that the hand-over shows neither an empty screen nor an
// unpainted window. The sign-on writes into the main window, so it exists
// first; the login stands in front of it, as its dialog.
void StartupSequence::showMainWindowAndLogin()
{
    m_main = std::make_unique<Tfmain>(m_platform);
    m_main->showMaximized();
    m_commands = std::make_unique<ShellCommands>(m_platform, *m_main, *m_dmod);
    m_commands->install();
    m_platform.repaintNow(*m_main);

    m_login = std::make_unique<TFlogin>(m_platform, *m_main, *m_dmod, m_main.get());
    // Modal from its first showing, so the main window behind it is blocked
    // already while the splash goes.
    m_login->setWindowModality(Qt::ApplicationModal);
    m_login->show();
    m_platform.repaintNow(*m_login);
}

void StartupSequence::signOnAndRun()
{
    m_platform.showModal(*m_login);
    tellAboutAFailedBackup();

    m_platform.runMessageLoop(m_main.get());
}

void StartupSequence::tellAboutAFailedBackup()
{
    // Only after a sign-on, and only to whoever administers the system: the others could do nothing about it.
    const qint64 rights = m_main->session().rightsWord;
    if (m_platform.endRequested() || rights == 0 || !data::groupGranted(rights, BackupNoticeGroup))
        return;
    if (const std::optional<QString> notice = backupFailureNotice(m_platform.executableFolder()))
        m_platform.messageBox(MessageBoxRequest::ok(*notice, QStringLiteral("提示"), MsgIcon::Warning));
}

void StartupSequence::endProgram()
{
    m_login.reset();
    m_commands.reset();
    m_main.reset();
    m_dmod.reset();
    if (m_fac)
        delete m_fac.data();
}

} // namespace velmora
