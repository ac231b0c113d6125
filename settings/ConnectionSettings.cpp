#include "settings/ConnectionSettings.h"

#include "data/provider/ConnectionString.h"
#include "settings/ProfileFile.h"

#include <QStringList>

namespace velmora {

namespace {

// Where the settings live in DBConn.ini.
const QString SettingsSection = QStringLiteral("Velmora");
const QString SourceKey = QStringLiteral("DB_Source");
const QString UserKey = QStringLiteral("DB_User");
const QString PasswordKey = QStringLiteral("DB_Password");

// Quoted by the data layer's own rule, so that the provider reads back exactly what was set.
QString connectionStringValue(const QString& value)
{
    return QString::fromStdString(data::quoteValue(value.toStdString()));
}

} // namespace

QString settingsFilePath(const QString& executableFolder)
{
    return executableFolder + QStringLiteral("DBConn.ini");
}

data::LockoutPolicy readLockoutPolicy(const QString& executableFolder)
{
    const ProfileFile file(settingsFilePath(executableFolder));
    data::LockoutPolicy policy;
    auto read = [&](const QString& key, int& value) {
        bool ok = false;
        const int number = file.readString(SettingsSection, key, QString()).trimmed().toInt(&ok);
        if (ok && number >= 0)
            value = number;
    };
    read(QStringLiteral("LockoutAttempts"), policy.attempts);
    read(QStringLiteral("LockoutMinutes"), policy.minutes);
    return policy;
}

ConnectionSettings::ConnectionSettings(QString executableFolder) : m_executableFolder(std::move(executableFolder)) {}

QString ConnectionSettings::iniPath() const
{
    return settingsFilePath(m_executableFolder);
}

void ConnectionSettings::ReadConnectionSettings(const SettingsDefaults& defaults)
{
    const ProfileFile file(iniPath());
    DBSource = file.readString(SettingsSection, SourceKey, defaults.source);
    DBUser = file.readString(SettingsSection, UserKey, defaults.user);
    DBPassword = file.readString(SettingsSection, PasswordKey, defaults.password);
}

void ConnectionSettings::WriteConnectionSettings() const
{
    ProfileFile(iniPath()).writeStrings(SettingsSection,
                                        {{SourceKey, DBSource}, {UserKey, DBUser}, {PasswordKey, DBPassword}});
}

void ConnectionSettings::BuildConnectionString()
{
    // The provider's own property list; the doubled quotes give empty values.
    const QStringList pieces{
        QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Password=\"\";User ID="),
        connectionStringValue(DBUser),
        QStringLiteral(";Data Source="),
        connectionStringValue(DBSource),
        QStringLiteral(";"),
        QStringLiteral("Mode=Share Deny None;Extended Properties=\"\";"),
        QStringLiteral("Locale Identifier=1028;Jet OLEDB:System database=\"\";"),
        QStringLiteral("Jet OLEDB:Registry Path=\"\";Jet OLEDB:"),
        QStringLiteral("Database Password="),
        connectionStringValue(DBPassword),
        QStringLiteral(";Jet OLEDB:Engine Type=5;"),
        QStringLiteral("Jet OLEDB:Database Locking Mode=1;"),
        QStringLiteral("Jet OLEDB:Global Partial Bulk Ops=2;"),
        QStringLiteral("Jet OLEDB:Global Bulk Transactions=1;"),
        QStringLiteral("Jet OLEDB:New Database Password=\"\";"),
        QStringLiteral("Jet OLEDB:Create System Database=False;"),
        QStringLiteral("Jet OLEDB:Encrypt Database=False;"),
        QStringLiteral("Jet OLEDB:"),
        QStringLiteral("Don"),
        QStringLiteral("'t Copy Locale on Compact=False;"),
        QStringLiteral("Jet OLEDB:Compact Without Replica Repair=False;"),
        QStringLiteral("Jet OLEDB:SFP=False;"),
    };
    DBConnString = pieces.join(QString());
}

} // namespace velmora
