#pragma once

#include <QString>

#include <optional>

namespace velmora {

// The file in which the daily backup (packaging/velmora-backup) leaves one line when a run failed, in the program's
// data folder ("data/" beside the executable, /var/lib/velmora/data for the package), and removes after a good run.
inline constexpr const char* BackupFailureFile = "data/velmora-backup.failed";

// The rights group whose operators are told (the system's administration group).
inline constexpr int BackupNoticeGroup = 6;

// What an administrator is told at sign-on while the last backup failed: when it failed, when the newest good copy
// was made and what went wrong; none while the last run was good. The line is "FAILED_AT<TAB>LAST_GOOD<TAB>WHY".
std::optional<QString> backupFailureNotice(const QString& executableFolder);

} // namespace velmora
