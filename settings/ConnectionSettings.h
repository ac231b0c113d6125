#pragma once

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

// Where the settings live in DBConn.ini.
inline constexpr char16_t SettingsSection[] = u"Velmora";
inline constexpr char16_t SourceKey[] = u"DB_Source";
inline constexpr char16_t UserKey[] = u"DB_User";
inline constexpr char16_t PasswordKey[] = u"DB_Password";

// Path of the settings file in a folder given with its trailing separator.
QString settingsFilePath(const QString& executableFolder);

// The start-up sequence's connection settings and the connection string built
// from them.
class ConnectionSettings
{
public:
    explicit ConnectionSettings(QString executableFolder);

    // Never fails: a missing or damaged file reads as the defaults.
    void ReadConnectionSettings(const SettingsDefaults& defaults);
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
