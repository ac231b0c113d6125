#pragma once

#include "data/engines/Backup.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace velmora {

// 备份数据's progress: the online backup of the database file (the one velmora-db backup makes) runs on a
// thread of its own while this dialog shows how far it is; 取消, Escape or the close box stop it, and nothing
// is left behind. The dialog closes itself when the backup has ended, accepted when the copy was written.
class BackupDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Outcome { NotStarted, Running, Written, Failed, Cancelled };

    BackupDialog(std::string source, std::string destination, QWidget* parent = nullptr);
    ~BackupDialog() override;
    BackupDialog(const BackupDialog&) = delete;
    BackupDialog& operator=(const BackupDialog&) = delete;

    // Starts the copy; show the dialog modally next.
    void start();
    // Waits for the copy to end, stopping it first when the dialog was closed another way than by its end
    // (the application asked to end). Returns how it ended.
    Outcome finish();

    Outcome outcome() const { return m_outcome; }
    QString failure() const { return m_failure; }
    const data::BackupReport& report() const { return m_report; }

    void reject() override;

    QLabel* status = nullptr;
    QProgressBar* progress = nullptr;
    QPushButton* btcancel = nullptr;

private:
    void poll();
    void ended();

    std::string m_source;
    std::string m_destination;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<std::int64_t> m_pagesDone{0};
    std::atomic<std::int64_t> m_pagesTotal{0};
    std::mutex m_resultLock; // m_report, m_failure and m_cancelled while the worker runs
    data::BackupReport m_report;
    QString m_failure;
    bool m_cancelled = false;
    Outcome m_outcome = Outcome::NotStarted;
    QTimer* m_poll = nullptr;
};

} // namespace velmora
