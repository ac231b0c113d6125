#include "settings/ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

// Only the char interface is used: the file's UTF-8 bytes pass through as they
// are and Qt decodes them, so SimpleIni needs no converter of its own. Debian's
// header keeps the template bodies behind SI_IMPLEMENTATION; this is the one
// file that uses them.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <algorithm>
#include <string>

#include <unistd.h>

namespace velmora {

namespace {

// SimpleIni's case-insensitive char variant: section and key names match in
// any (ASCII) letter case.
using Ini = CSimpleIniA;

enum class Loaded { Missing, Read, Unusable };

struct IniFile
{
    IniFile() { ini.SetSpaces(false); } // key=value, as the classic calls write it

    Ini ini{/*unicode*/ true, /*multiKey*/ true};
    bool hasSignature = false;
};

// Reads the whole file into `file`. Only a regular file is opened, so a FIFO
// or a device in its place cannot block or flood the reader.
Loaded load(const QString& path, IniFile& file)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Loaded::Missing;
    if (!info.isFile() || info.size() > ProfileFile::MaxFileSize)
        return Loaded::Unusable;
    QFile device(path);
    if (!device.open(QIODevice::ReadOnly))
        return Loaded::Unusable;
    // read(n) allocates n bytes up front: ask only for what the file holds.
    const QByteArray data = device.read(std::min<qint64>(info.size(), ProfileFile::MaxFileSize) + 1);
    if (device.error() != QFileDevice::NoError || data.size() > ProfileFile::MaxFileSize)
        return Loaded::Unusable;
    file.hasSignature = data.startsWith("\xEF\xBB\xBF");
    // Parsing stops at a NUL byte; whatever precedes it still counts.
    if (file.ini.LoadData(data.constData(), size_t(data.size())) < 0)
        return Loaded::Unusable;
    return Loaded::Read;
}

bool isIniSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool isQuote(QChar c)
{
    return c == u'"' || c == u'\'';
}

// A value in matching quotes reads without them, as with the classic calls;
// that is also the only way to keep blanks at either end of a value.
QString unquoted(const QString& value)
{
    if (value.size() >= 2 && isQuote(value.front()) && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

QString quotedForFile(const QString& value)
{
    if (value.isEmpty())
        return value;
    const bool wouldChange = isIniSpace(value.front()) || isIniSpace(value.back()) ||
                             (value.size() >= 2 && isQuote(value.front()) && value.back() == value.front());
    return wouldChange ? u'"' + value + u'"' : value;
}

// Cuts after MaxValueLength characters without splitting a surrogate pair.
QString cut(QString value)
{
    if (value.size() <= ProfileFile::MaxValueLength)
        return value;
    qsizetype i = 0;
    for (int count = 0; i < value.size() && count < ProfileFile::MaxValueLength; ++count)
        i += (value.at(i).isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate()) ? 2 : 1;
    value.truncate(i);
    return value;
}

bool hasLineBreakOrNul(const QString& text)
{
    return text.contains(u'\n') || text.contains(u'\r') || text.contains(QChar(u'\0'));
}

// Names that a line-based INI file can hold and read back as the same name.
bool isStorableSection(const QString& section)
{
    return !hasLineBreakOrNul(section) && !section.contains(u']') && section.trimmed() == section;
}

bool isStorableKey(const QString& key)
{
    return !key.isEmpty() && !hasLineBreakOrNul(key) && !key.contains(u'=') && key.trimmed() == key &&
           key.front() != u';' && key.front() != u'#' && key.front() != u'[';
}

} // namespace

ProfileError::ProfileError(const QString& path)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(path).toStdString())
{
}

ProfileFile::ProfileFile(QString path) : m_path(std::move(path)) {}

QString ProfileFile::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    IniFile file;
    if (load(m_path, file) != Loaded::Read)
        return cut(defaultValue);
    const char* raw = file.ini.GetValue(section.toUtf8().constData(), key.toUtf8().constData(), nullptr);
    if (raw == nullptr)
        return cut(defaultValue);
    return cut(unquoted(QString::fromUtf8(raw)));
}

void ProfileFile::writeString(const QString& section, const QString& key, const QString& value)
{
    writeStrings(section, {{key, value}});
}

void ProfileFile::writeStrings(const QString& section, const KeyValues& values)
{
    if (!isStorableSection(section))
        throw ProfileError(m_path);
    // A line break or NUL in a value would end the line early and could plant
    // other keys; such a value cannot be stored, so the write fails instead.
    for (const auto& [key, value] : values) {
        if (!isStorableKey(key) || hasLineBreakOrNul(value))
            throw ProfileError(m_path);
    }

    IniFile file;
    const Loaded loaded = load(m_path, file);
    // Rewriting a file we could not read would throw its contents away.
    if (loaded == Loaded::Unusable)
        throw ProfileError(m_path);

    const QByteArray sectionName = section.toUtf8();
    for (const auto& [key, value] : values) {
        const SI_Error rc = file.ini.SetValue(sectionName.constData(), key.toUtf8().constData(),
                                              quotedForFile(value).toUtf8().constData(), nullptr,
                                              /*replace every duplicate*/ true);
        if (rc < 0)
            throw ProfileError(m_path);
    }
    std::string text;
    if (file.ini.Save(text, file.hasSignature) < 0)
        throw ProfileError(m_path);

    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly))
        throw ProfileError(m_path);
    // The file holds a database password. An existing file keeps the
    // permissions it has.
    if (loaded == Loaded::Missing && !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                         QFileDevice::ReadUser | QFileDevice::WriteUser)) {
        out.cancelWriting();
        throw ProfileError(m_path);
    }
    // QSaveFile::commit() ignores a failed final flush or sync and would put
    // the short file in place, so both are checked here first.
    if (out.write(text.data(), qint64(text.size())) != qint64(text.size()) || !out.flush() ||
        ::fsync(out.handle()) != 0) {
        out.cancelWriting();
        throw ProfileError(m_path);
    }
    if (!out.commit())
        throw ProfileError(m_path);
}

} // namespace velmora
