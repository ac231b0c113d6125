#pragma once

#include <QList>
#include <QString>

#include <stdexcept>
#include <utility>

namespace velmora {

// A profile file that could not be written: "Unable to write to <path>".
class ProfileError : public std::runtime_error
{
public:
    explicit ProfileError(const QString& path);
    QString message() const { return QString::fromUtf8(what()); }
};

// An INI profile file (sections of key=value lines), read and written with
// the rules of the classic private-profile calls: a missing file, section or
// key reads as the default, names match in any letter case, values are cut at
// 2047 characters, and a write creates what is missing. The file is UTF-8, or,
// when it is not valid UTF-8, GB18030 (the Chinese code page older systems
// wrote it in); a write keeps the encoding the file has. A write changes only
// the lines of the keys it sets and keeps every other line byte for byte.
// Each write replaces the whole file atomically, so a crash or a full disk
// never leaves half a file; only where the folder cannot take a new file but
// the file itself may be written is it written in place.
class ProfileFile
{
public:
    static constexpr int MaxValueLength = 2047;
    // Anything larger is not a settings file: it reads as missing and is never
    // overwritten.
    static constexpr qint64 MaxFileSize = 4 * 1024 * 1024;

    using KeyValues = QList<std::pair<QString, QString>>;

    explicit ProfileFile(QString path);

    QString path() const { return m_path; }

    // Never fails: a damaged, unreadable or missing file reads as defaults.
    // A key that is written more than once in the file reads as its first
    // occurrence, as the classic profile calls did.
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;

    // Throws ProfileError when the file cannot be written; the file on disk is
    // then exactly as it was (unless it had to be written in place).
    void writeString(const QString& section, const QString& key, const QString& value);
    // Several keys of one section in one replacement of the file: all or none.
    void writeStrings(const QString& section, const KeyValues& values);

private:
    QString m_path;
};

} // namespace velmora
