#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Text as Access stores it, turned into UTF-8. Used by File; apart so the tests can feed it stored bytes that
// no sample file holds (Chinese, surrogate pairs, double-byte code pages).
namespace velmora::access::text {

// Jet 4 and ACE text: UTF-16LE, or "compressed" when it starts with FF FE (runs of one-byte Latin-1
// characters and of two-byte characters, each switch marked by a 00 byte). Throws AccessError for an odd
// number of bytes or a lone surrogate, which no valid text holds.
std::string unicodeToUtf8(std::span<const std::uint8_t> stored);

// The iconv name for a Windows code page number, or none for a number not known here.
std::optional<std::string> charsetForCodePage(int codePage);

// The ANSI code page of the language of a sort order (a Windows locale id, as Jet 3 stores it), or none when
// the sort order tells nothing beyond the default (General, 0x0409, serves all Western languages).
std::optional<int> codePageForSortOrder(int sortOrder);

struct Jet3Charset
{
    std::string name;        // for iconv
    std::string description; // where it came from, for the summary
};

// What Jet 3 text is decoded from: the name given; else the header's code page, else the code page of its
// sort order; else CP1252, the Western Windows code page.
Jet3Charset chooseJet3Charset(const std::optional<std::string>& given, int codePage, int sortOrder);

// Whether stored 8-bit text has the shape of Chinese in GBK: two characters of its GB2312 area (each a lead
// byte 0xB0-0xF7 and a trail byte 0xA1-0xFE) one after the other. Western text rarely has four such bytes in
// a row; "Tradição" in CP1252 has two.
bool hasGbkChinese(std::span<const std::uint8_t> stored);

// Whether the charset's characters are one byte each (CP1252, CP1251, IBM850, ...), as iconv names them here.
bool isSingleByteCharset(const std::string& charset);

// 8-bit (or double-byte) code page text to UTF-8 through iconv. Refuses characters the code page does not
// define rather than putting '?' in their place.
class CodePageDecoder
{
public:
    // Throws AccessError when iconv does not know the name.
    explicit CodePageDecoder(const std::string& charset);
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    std::string toUtf8(std::span<const std::uint8_t> stored);
    const std::string& charset() const { return m_charset; }

private:
    std::string m_charset;
    void* m_iconv; // iconv_t, kept out of this header
};

} // namespace velmora::access::text
