#pragma once

#include "data/module/SignOnAttempts.h"

#include <QString>

namespace velmora {

struct SettingsDefaults
{
    QString source, user, password;
};

// The first read at start-up and the settings dialog use these ...
inline const SettingsDefaults FirstReadDefaults{"data/velmdb.mdb", "admin", "mivotelq"};
// ... the read after each showing of the settings dialog these.
inline const SettingsDefaults ReReadDefaults{"velmdb.mdb", "admin", "739015"};

// Path of the settings file in a folder given with its trailing separator.
QString settingsFilePath(const QString& executableFolder);

// The sign-on's lock-out from keys of ours in DBConn.ini's section Velmora: LockoutAttempts (failed attempts
// for one operator, default 5) and LockoutMinutes (within how many minutes, and how long the lock lasts,
// default 15); 0 in either turns the lock-out off. A missing, negative or unreadable value is the default.
data::LockoutPolicy readLockoutPolicy(const QString& executableFolder);

// The connection settings of DBConn.ini and the connection string built from
// them, for the start-up sequence and the settings dialog alike.
class ConnectionSettings
{
public:
    explicit ConnectionSettings(QString executableFolder);

    // Never fails: a missing or damaged file reads as the defaults.
    void ReadConnectionSettings(const SettingsDefaults& defaults);
    // The three settings into the file in one replacement of it, so that a
    // failure can never leave a new source beside an old password. Throws
    // ProfileError; the file is then as it was.
    void WriteConnectionSettings() const;
    // The provider's 22-piece connection string. A value that the connection
    // string would otherwise misread (one holding ';', '"' or '\'', with a
    // blank at either end, or starting with '=') is inserted in double quotes,
    // inner ones doubled. Every other value is inserted unchanged.
    void BuildConnectionString();

    QString DBSource, DBUser, DBPassword, DBConnString;

    QString iniPath() const;

private:
    QString m_executableFolder;
};

} // namespace velmora
