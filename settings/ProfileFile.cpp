#include "settings/ProfileFile.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// The file is read and changed as lines, so that every line a save does not
// own (comments, blank lines, lines without "=", other sections) stays byte
// for byte where it was; a whole-file INI model would rewrite them.

enum class Encoding { Utf8, Gb18030 };

// GB18030 is the 8-bit Chinese code page that older settings files were written in (it holds GBK and all of
// Unicode); Qt's converters read and write it through ICU.
constexpr const char* Gb18030 = "GB18030";

QString decode(const QByteArray& bytes, Encoding encoding, bool* lossy = nullptr)
{
    if (encoding == Encoding::Utf8)
        return QString::fromUtf8(bytes);
    QStringDecoder decoder(Gb18030);
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    // A sequence that is no GB18030 becomes U+FFFD.
    const QString text = decoder.decode(bytes);
    if (lossy && decoder.hasError())
        *lossy = true;
    return text;
}

std::optional<QByteArray> encode(const QString& text, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return text.toUtf8();
    QStringEncoder encoder(Gb18030);
    if (!encoder.isValid())
        return std::nullopt;
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}

bool isValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

bool isIniSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool isQuote(QChar c)
{
    return c == u'"' || c == u'\'';
}

QString trimmedIni(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isIniSpace(text[begin]))
        ++begin;
    while (end > begin && isIniSpace(text[end - 1]))
        --end;
    return text.mid(begin, end - begin).toString();
}

struct Line
{
    enum class Kind { Other, Section, Key };

    QByteArray raw;    // the line's bytes as in the file, its ending included
    QByteArray ending; // "\n", "\r\n" or nothing (the last line)
    Kind kind = Kind::Other;
    QString name;  // a section's or a key's name, trimmed
    QString value; // a key's value, trimmed, quotes still on
};

struct ParsedFile
{
    Encoding encoding = Encoding::Utf8;
    QList<Line> lines;
    // From the first NUL byte on the file is not read, but kept.
    QByteArray tail;

    QByteArray bytes() const
    {
        QByteArray all;
        for (const Line& line : lines)
            all.append(line.raw);
        all.append(tail);
        return all;
    }

    QByteArray lineEnding() const
    {
        for (const Line& line : lines) {
            if (!line.ending.isEmpty())
                return line.ending;
        }
        return "\n";
    }
};

Line parseLine(QByteArray raw, Encoding encoding, bool first, bool* lossy)
{
    Line line;
    line.raw = std::move(raw);
    QByteArray content = line.raw;
    if (content.endsWith('\n')) {
        content.chop(1);
        line.ending = "\n";
        if (content.endsWith('\r')) {
            content.chop(1);
            line.ending = "\r\n";
        }
    }
    if (first && content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);
    const QString text = trimmedIni(decode(content, encoding, lossy));
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close > 0) {
            line.kind = Line::Kind::Section;
            line.name = trimmedIni(QStringView(text).mid(1, close - 1));
        }
    } else if (!text.isEmpty() && text.front() != u';' && text.front() != u'#') {
        const qsizetype equals = text.indexOf(u'=');
        if (equals > 0) {
            line.kind = Line::Kind::Key;
            line.name = trimmedIni(QStringView(text).left(equals));
            line.value = trimmedIni(QStringView(text).mid(equals + 1));
        }
    }
    return line;
}

enum class Loaded { Missing, Read, Unusable };

// Reads the whole file into `file`. Only a regular file is opened, so a FIFO
// or a device in its place cannot block or flood the reader.
Loaded load(const QString& path, ParsedFile& file)
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
    QByteArray data = device.read(std::min<qint64>(info.size(), ProfileFile::MaxFileSize) + 1);
    if (device.error() != QFileDevice::NoError || data.size() > ProfileFile::MaxFileSize)
        return Loaded::Unusable;

    const qsizetype nul = data.indexOf('\0');
    if (nul >= 0) {
        file.tail = data.mid(nul);
        data.truncate(nul);
    }
    // A file that is not UTF-8 was written by a Chinese system in its code page.
    file.encoding = isValidUtf8(data) ? Encoding::Utf8 : Encoding::Gb18030;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype newline = data.indexOf('\n', start);
        const qsizetype end = newline < 0 ? data.size() : newline + 1;
        file.lines.append(parseLine(data.mid(start, end - start), file.encoding, start == 0, nullptr));
        start = end;
    }
    return Loaded::Read;
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
    return !hasLineBreakOrNul(section) && !section.contains(u']') && trimmedIni(section) == section;
}

bool isStorableKey(const QString& key)
{
    return !key.isEmpty() && !hasLineBreakOrNul(key) && !key.contains(u'=') && trimmedIni(key) == key &&
           key.front() != u';' && key.front() != u'#' && key.front() != u'[';
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Calls visit(index) for each key line of `section` in file order.
template <typename Visit> void forEachKeyLine(const ParsedFile& file, const QString& section, Visit visit)
{
    bool inSection = false;
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        const Line& line = file.lines[i];
        if (line.kind == Line::Kind::Section)
            inSection = sameName(line.name, section);
        else if (inSection && line.kind == Line::Kind::Key)
            visit(i);
    }
}

// Where a key new to the section goes: after the section's last key line, or
// right after its header; -1 when the file has no such section.
qsizetype insertionPoint(const ParsedFile& file, const QString& section)
{
    qsizetype at = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        const Line& line = file.lines[i];
        if (line.kind == Line::Kind::Section) {
            inSection = sameName(line.name, section);
            if (inSection && at < 0)
                at = i + 1;
        } else if (inSection && line.kind == Line::Kind::Key) {
            at = i + 1;
        }
    }
    return at;
}

// A whole line of the file in its encoding; nothing when a character has no
// place in it.
std::optional<QByteArray> encodedLine(const QString& text, Encoding encoding, const QByteArray& ending)
{
    auto bytes = encode(text, encoding);
    if (bytes)
        bytes->append(ending);
    return bytes;
}

// The bytes the file holds after setting these keys of `section`. Lines the
// keys own are rewritten (a key written more than once keeps its first place
// and loses the others); every other line is kept as it was.
std::optional<QByteArray> withValues(ParsedFile file, const QString& section, const ProfileFile::KeyValues& values)
{
    const QByteArray ending = file.lineEnding();
    // A last line without its ending gets one before anything follows it.
    const auto endLastLine = [&] {
        if (!file.lines.isEmpty() && file.lines.back().ending.isEmpty()) {
            file.lines.back().raw.append(ending);
            file.lines.back().ending = ending;
        }
    };
    for (const auto& [key, value] : values) {
        const auto line = encodedLine(key + u'=' + quotedForFile(value), file.encoding, {});
        if (!line)
            return std::nullopt;
        QList<qsizetype> owned;
        forEachKeyLine(file, section, [&](qsizetype i) {
            if (sameName(file.lines[i].name, key))
                owned.append(i);
        });
        if (!owned.isEmpty()) {
            Line& first = file.lines[owned.front()];
            first = parseLine(*line + first.ending, file.encoding, false, nullptr);
            for (auto it = owned.crbegin(); it != owned.crend() - 1; ++it)
                file.lines.removeAt(*it);
            continue;
        }
        qsizetype at = insertionPoint(file, section);
        if (at < 0) {
            endLastLine();
            const auto header = encodedLine(u'[' + section + u']', file.encoding, ending);
            if (!header)
                return std::nullopt;
            file.lines.append(parseLine(*header, file.encoding, false, nullptr));
            at = file.lines.size();
        } else if (at == file.lines.size()) {
            endLastLine();
        }
        file.lines.insert(at, parseLine(*line + ending, file.encoding, false, nullptr));
    }
    return file.bytes();
}

// Overwrites the file's bytes where it is, without the atomic replacement:
// the way left when its folder takes no new file. A failure puts the old
// bytes back as far as it can.
bool writeInPlace(const QString& path, const QByteArray& text, const QByteArray& original)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const auto put = [&](const QByteArray& bytes) {
        return file.seek(0) && file.write(bytes) == bytes.size() && file.resize(bytes.size()) && file.flush() &&
               ::fsync(file.handle()) == 0;
    };
    if (put(text))
        return true;
    put(original);
    return false;
}

} // namespace

ProfileError::ProfileError(const QString& path)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(path).toStdString())
{
}

ProfileFile::ProfileFile(QString path) : m_path(std::move(path)) {}

QString ProfileFile::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    ParsedFile file;
    if (load(m_path, file) != Loaded::Read)
        return cut(defaultValue);
    std::optional<QString> found;
    forEachKeyLine(file, section, [&](qsizetype i) {
        if (!found && sameName(file.lines[i].name, key))
            found = file.lines[i].value;
    });
    return cut(found ? unquoted(*found) : defaultValue);
}

void ProfileFile::writeString(const QString& section, const QString& key, const QString& value)
{
    writeStrings(section, {{key, value}});
}

namespace {

// Whether the folder the file is written in (the folder of a link's target, as
// the save writes there) is set-group-ID: shared by the group it gives its
// new files.
bool sharedByGroup(QString path)
{
    for (int links = 0; links < 40 && QFileInfo(path).isSymLink(); ++links)
        path = QFileInfo(path).symLinkTarget();
    struct stat folder = {};
    const QByteArray name = QFileInfo(path).absolutePath().toLocal8Bit();
    return ::stat(name.constData(), &folder) == 0 && (folder.st_mode & S_ISGID);
}

} // namespace

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

    ParsedFile file;
    const Loaded loaded = load(m_path, file);
    // Rewriting a file we could not read whole would throw part of it away.
    if (loaded == Loaded::Unusable)
        throw ProfileError(m_path);
    const QByteArray original = file.bytes();
    const auto text = withValues(std::move(file), section, values);
    if (!text)
        throw ProfileError(m_path);

    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly)) {
        // A folder that takes no new file (an installed program's) around a
        // settings file the user may write: the file is written in place.
        if (loaded != Loaded::Read || !writeInPlace(m_path, *text, original))
            throw ProfileError(m_path);
        return;
    }
    // The file holds a database password: its owner's alone, or, in a folder
    // shared by its group (set-group-ID, whose new files take that group),
    // the group's too, so that an operator who makes it anew does not keep
    // every other operator of the till out. An existing file keeps the
    // permissions it has.
    QFileDevice::Permissions mode =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    if (sharedByGroup(m_path))
        mode |= QFileDevice::ReadGroup | QFileDevice::WriteGroup;
    if (loaded == Loaded::Missing && !out.setPermissions(mode)) {
        out.cancelWriting();
        throw ProfileError(m_path);
    }
    // QSaveFile::commit() ignores a failed final flush or sync and would put
    // the short file in place, so both are checked here first.
    if (out.write(*text) != text->size() || !out.flush() || ::fsync(out.handle()) != 0) {
        out.cancelWriting();
        throw ProfileError(m_path);
    }
    if (!out.commit())
        throw ProfileError(m_path);
}

} // namespace velmora
