// The INI reading rules over any file content: reading never fails, never
// hangs, cuts values at 2047 characters and gives the same answer twice.
#include "fuzz/FuzzCheck.h"
#include "settings/ProfileFile.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

// A folder of its own for the file, removed when the fuzzer exits.
class Scratch
{
public:
    Scratch()
    {
        char folder[] = "/tmp/velmora-fuzz-profile-XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        m_folder = folder;
        m_file = m_folder + "/DBConn.ini";
    }
    ~Scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
    }
    const std::string& file() const { return m_file; }

private:
    std::string m_folder;
    std::string m_file;
};

const std::string& iniPath()
{
    static const Scratch scratch;
    return scratch.file();
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
