#include "access/Text.h"

#include "access/AccessFile.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <utility>

namespace velmora::access::text {

namespace {

void appendUtf8(std::string& out, std::uint32_t codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

std::string hex(unsigned value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%04X", value);
    return buffer;
}

void utf16ToUtf8(const std::vector<std::uint16_t>& units, std::string& out)
{
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            throw AccessError("text holds a lone UTF-16 surrogate " + hex(unit) + ", which is no character");
        } else {
            appendUtf8(out, unit);
        }
    }
}

} // namespace

std::string unicodeToUtf8(std::span<const std::uint8_t> stored)
{
    std::vector<std::uint16_t> units;
    units.reserve(stored.size());
    if (stored.size() >= 2 && stored[0] == 0xFF && stored[1] == 0xFE) {
        bool compressed = true;
        std::size_t i = 2;
        while (i < stored.size()) {
            if (stored[i] == 0x00) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                units.push_back(stored[i]);
                ++i;
            } else if (i + 1 < stored.size()) {
                units.push_back(static_cast<std::uint16_t>(stored[i] | (stored[i + 1] << 8)));
                i += 2;
            } else {
                throw AccessError("compressed text ends in the middle of a character");
            }
        }
    } else {
        if (stored.size() % 2 != 0)
            throw AccessError("Unicode text has an odd number of bytes (" + std::to_string(stored.size()) + ")");
        for (std::size_t i = 0; i < stored.size(); i += 2)
            units.push_back(static_cast<std::uint16_t>(stored[i] | (stored[i + 1] << 8)));
    }
    std::string out;
    out.reserve(units.size());
    utf16ToUtf8(units, out);
    return out;
}

std::optional<std::string> charsetForCodePage(int codePage)
{
    // Names as glibc's iconv spells them; 936 is GBK (glibc's GBK has the euro sign at 0x80, as Windows does).
    static constexpr std::array<std::pair<int, const char*>, 19> known{{
        {437, "IBM437"},  {850, "IBM850"},  {852, "IBM852"},  {866, "IBM866"},  {874, "CP874"},
        {932, "CP932"},   {936, "GBK"},     {949, "CP949"},   {950, "CP950"},   {1250, "CP1250"},
        {1251, "CP1251"}, {1252, "CP1252"}, {1253, "CP1253"}, {1254, "CP1254"}, {1255, "CP1255"},
        {1256, "CP1256"}, {1257, "CP1257"}, {1258, "CP1258"}, {1361, "JOHAB"},
    }};
    for (const auto& [number, name] : known)
        if (number == codePage)
            return name;
    return std::nullopt;
}

std::optional<int> codePageForSortOrder(int sortOrder)
{
    switch (sortOrder) { // Chinese locales share one primary language; their scripts differ
    case 0x0804:         // PRC
    case 0x1004:         // Singapore
        return 936;
    case 0x0404: // Taiwan
    case 0x0C04: // Hong Kong
    case 0x1404: // Macao
        return 950;
    case 0x0C1A: // Serbian, Cyrillic script
        return 1251;
    default:
        break;
    }
    switch (sortOrder & 0x3FF) { // primary language
    case 0x05:                   // Czech
    case 0x0E:                   // Hungarian
    case 0x15:                   // Polish
    case 0x18:                   // Romanian
    case 0x1A:                   // Croatian, Serbian in Latin script
    case 0x1B:                   // Slovak
    case 0x1C:                   // Albanian
    case 0x24:                   // Slovenian
        return 1250;
    case 0x02: // Bulgarian
    case 0x19: // Russian
    case 0x22: // Ukrainian
    case 0x23: // Belarusian
    case 0x2F: // Macedonian
        return 1251;
    case 0x08: // Greek
        return 1253;
    case 0x1F: // Turkish
        return 1254;
    case 0x0D: // Hebrew
        return 1255;
    case 0x01: // Arabic
        return 1256;
    case 0x25: // Estonian
    case 0x26: // Latvian
    case 0x27: // Lithuanian
        return 1257;
    case 0x2A: // Vietnamese
        return 1258;
    case 0x1E: // Thai
        return 874;
    case 0x11: // Japanese
        return 932;
    case 0x12: // Korean
        return 949;
    default:
        return std::nullopt;
    }
}

Jet3Charset chooseJet3Charset(const std::optional<std::string>& given, int codePage, int sortOrder)
{
    if (given)
        return {*given, *given + " (given)"};
    if (const auto name = charsetForCodePage(codePage))
        return {*name, *name + " (the file's code page " + std::to_string(codePage) + ")"};
    if (const auto page = codePageForSortOrder(sortOrder)) {
        const auto name = charsetForCodePage(*page).value_or("CP1252");
        return {name, name + " (the code page of the file's sort order " + hex(static_cast<unsigned>(sortOrder)) + ")"};
    }
    return {"CP1252", "CP1252 (the file names no code page known here)"};
}

bool hasGbkChinese(std::span<const std::uint8_t> stored)
{
    const auto lead = [](std::uint8_t b) { return b >= 0xB0 && b <= 0xF7; };
    const auto trail = [](std::uint8_t b) { return b >= 0xA1 && b <= 0xFE; };
    int run = 0; // GB2312 characters in a row
    for (std::size_t i = 0; i < stored.size();) {
        if (stored[i] < 0x80) {
            run = 0;
            ++i;
        } else if (i + 1 < stored.size() && lead(stored[i]) && trail(stored[i + 1])) {
            if (++run == 2)
                return true;
            i += 2;
        } else {
            // Another two-byte character, or a byte that starts none: a run ends there.
            run = 0;
            i += stored[i] >= 0x81 && stored[i] <= 0xFE && i + 1 < stored.size() ? 2 : 1;
        }
    }
    return false;
}

bool isSingleByteCharset(const std::string& charset)
{
    for (const char* multi : {"GBK", "CP932", "CP936", "CP949", "CP950", "JOHAB", "BIG5", "GB18030", "GB2312"})
        if (charset == multi)
            return false;
    return charset.rfind("CP", 0) == 0 || charset.rfind("IBM", 0) == 0 || charset.rfind("ISO-8859", 0) == 0;
}

CodePageDecoder::CodePageDecoder(const std::string& charset)
    // iconv would read an empty name as the locale's own charset, so the result would depend on the machine.
    : m_charset(charset),
      m_iconv(charset.empty() ? reinterpret_cast<iconv_t>(-1) : iconv_open("UTF-8", charset.c_str()))
{
    if (static_cast<iconv_t>(m_iconv) == reinterpret_cast<iconv_t>(-1))
        throw AccessError("unknown character set '" + charset +
                          "' for Jet 3 text; give a name iconv knows, such as GBK, BIG5, CP1251 or CP1252");
}

CodePageDecoder::~CodePageDecoder()
{
    iconv_close(static_cast<iconv_t>(m_iconv));
}

std::string CodePageDecoder::toUtf8(std::span<const std::uint8_t> stored)
{
    auto cd = static_cast<iconv_t>(m_iconv);
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // a fresh shift state for each value
    std::string out(stored.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(stored.data()));
    std::size_t inLeft = stored.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG) {
            const std::size_t used = out.size() - outLeft;
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        const std::size_t at = stored.size() - inLeft;
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", stored[at]);
        throw AccessError("text is not valid " + m_charset + ": byte " + byte + " at position " + std::to_string(at) +
                          (errno == EINVAL ? " ends in the middle of a character" : " is no character there"));
    }
    // Close any shift state (stateful encodings only).
    while (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1) && errno == E2BIG) {
        const std::size_t used = out.size() - outLeft;
        out.resize(out.size() * 2);
        outPtr = out.data() + used;
        outLeft = out.size() - used;
    }
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace velmora::access::text
