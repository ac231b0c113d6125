#include "shell/BackupDialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace velmora {

namespace {

constexpr int PollMs = 50;

} // namespace

BackupDialog::BackupDialog(std::string source, std::string destination, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_source(std::move(source)), m_destination(std::move(destination))
{
    setObjectName(QStringLiteral("Fbackup"));
    setWindowTitle(QStringLiteral("备份数据"));

    status = new QLabel(QStringLiteral("正在备份 %1\n到 %2")
                            .arg(QString::fromStdString(m_source), QString::fromStdString(m_destination)),
                        this);
    status->setObjectName(QStringLiteral("status"));
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 0);
    progress->setMinimumWidth(400);
    btcancel = new QPushButton(QStringLiteral("取消"), this);
    btcancel->setObjectName(QStringLiteral("btcancel"));
    connect(btcancel, &QPushButton::clicked, this, &BackupDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status);
    layout->addWidget(progress);
    layout->addWidget(btcancel, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_poll = new QTimer(this);
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, &BackupDialog::poll);
}

BackupDialog::~BackupDialog()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}

void BackupDialog::start()
{
    if (m_outcome != Outcome::NotStarted)
        return;
    m_outcome = Outcome::Running;
    m_worker = std::thread([this] {
        try {
            data::BackupReport report =
                data::backupDatabaseFile(m_source, m_destination, [this](std::int64_t done, std::int64_t total) {
                    m_pagesTotal = total;
                    m_pagesDone = done;
                    return !m_stop.load();
                });
            const std::lock_guard lock(m_resultLock);
            m_report = std::move(report);
        } catch (const data::BackupCancelled&) {
            const std::lock_guard lock(m_resultLock);
            m_cancelled = true;
        } catch (const std::exception& error) {
            const std::lock_guard lock(m_resultLock);
            m_failure = QString::fromUtf8(error.what());
        }
        m_done = true;
    });
    m_poll->start();
}

void BackupDialog::poll()
{
    const std::int64_t total = m_pagesTotal;
    const std::int64_t done = m_pagesDone;
    if (m_done) {
        ended();
        return;
    }
    if (total > 0 && done >= total) {
        // Every page is copied: the integrity check of the copy runs, with no measure of its own.
        status->setText(QStringLiteral("正在检查副本 %1").arg(QString::fromStdString(m_destination)));
        progress->setRange(0, 0);
    } else if (total > 0) {
        progress->setRange(0, 1000);
        progress->setValue(static_cast<int>(done * 1000 / total));
    }
}

void BackupDialog::ended()
{
    m_poll->stop();
    if (m_worker.joinable())
        m_worker.join();
    {
        const std::lock_guard lock(m_resultLock);
        m_outcome = m_cancelled ? Outcome::Cancelled : !m_failure.isEmpty() ? Outcome::Failed : Outcome::Written;
    }
    if (isVisible())
        QDialog::done(m_outcome == Outcome::Written ? QDialog::Accepted : QDialog::Rejected);
}

BackupDialog::Outcome BackupDialog::finish()
{
    if (m_outcome == Outcome::Running) {
        if (!m_done)
            m_stop = true;
        ended();
    }
    return m_outcome;
}

void BackupDialog::reject()
{
    // Closing stops the copy; the dialog goes once the copy has ended and cleaned up behind itself.
    if (m_outcome != Outcome::Running) {
        QDialog::reject();
        return;
    }
    m_stop = true;
    btcancel->setEnabled(false);
    status->setText(QStringLiteral("正在取消备份…"));
}

} // namespace velmora
