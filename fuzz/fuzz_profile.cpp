// The INI reading rules over any file content: reading never fails, never
// hangs, cuts values at 2047 characters and gives the same answer twice.
#include "fuzz/FuzzCheck.h"
#include "settings/ProfileFile.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

const std::string& iniPath()
{
    static const std::string path = [] {
        char folder[] = "/tmp/velmora-fuzz-profile-XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        return std::string(folder) + "/DBConn.ini";
    }();
    return path;
}

int codePoints(const QString& s)
{
    return int(s.toUcs4().size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FILE* out = std::fopen(iniPath().c_str(), "wb");
    if (!out)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size)
        std::abort();
    std::fclose(out);

    const velmora::ProfileFile file(QString::fromStdString(iniPath()));
    const QString missing = QStringLiteral("\x01missing");
    for (const char* key : {"DB_Source", "DB_User", "DB_Password", "db_source"}) {
        const QString value = file.readString(QStringLiteral("Velmora"), QString::fromLatin1(key), missing);
        FUZZ_CHECK(codePoints(value) <= velmora::ProfileFile::MaxValueLength);
        FUZZ_CHECK(value == file.readString(QStringLiteral("VELMORA"), QString::fromLatin1(key), missing));
    }
    // Names taken from the input itself: whatever they are, reading is safe.
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString section = text.section(u'\n', 0, 0).trimmed().remove(u'[').remove(u']');
    const QString key = text.section(u'\n', 1, 1).section(u'=', 0, 0).trimmed();
    const QString value = file.readString(section, key, missing);
    FUZZ_CHECK(codePoints(value) <= velmora::ProfileFile::MaxValueLength);
    return 0;
}
