#include "app/BackupNotice.h"

#include <QFile>
#include <QStringList>

namespace velmora {

std::optional<QString> backupFailureNotice(const QString& executableFolder)
{
    QFile file(executableFolder + QLatin1String(BackupFailureFile));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // One line; more than a few kilobytes is no line the backup wrote.
    const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
    if (line.isEmpty())
        return std::nullopt;
    const QStringList fields = line.split(QLatin1Char('\t'));
    const QString failedAt = fields.value(0).trimmed();
    const QString lastGood = fields.value(1).trimmed();
    const QString why = fields.size() > 2 ? fields.mid(2).join(QLatin1Char(' ')).trimmed() : QString();
    QString text = QStringLiteral("最近一次数据备份失败（%1）。\n").arg(failedAt);
    text += lastGood.isEmpty() ? QStringLiteral("没有任何成功的备份！\n")
                               : QStringLiteral("最近一次成功的备份是 %1 做的。\n").arg(lastGood);
    text += QStringLiteral("请尽快检查备份（velmora-db backup-status；journalctl -u velmora-backup.service）。");
    if (!why.isEmpty())
        text += QStringLiteral("\n\n") + why;
    return text;
}

} // namespace velmora
