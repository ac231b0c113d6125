// Values and text from their stored bytes: the forms no sample file holds (Decimal, Chinese, surrogate pairs,
// double-byte code pages, the ends of Access's date range).
#include "access/AccessFile.h"
#include "access/Text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace velmora::access;

namespace {

std::string utf8(std::initializer_list<std::uint8_t> stored)
{
    return text::unicodeToUtf8(std::vector<std::uint8_t>(stored));
}

} // namespace

// Expected texts computed with Python's datetime (proleptic Gregorian, like Access): 1899-12-30 plus the whole
// days, plus the fraction's magnitude as the time of day, rounded half up to the second.
TEST(AccessDateTime, StoredDaysBecomeCalendarTexts)
{
    const struct
    {
        double days;
        const char* text;
    } cases[] = {
        {0.0, "1899-12-30 00:00:00"},
        {1.0, "1899-12-31 00:00:00"},
        {0.5, "1899-12-30 12:00:00"},
        // Before day zero the whole part counts back and the fraction still runs forward from midnight.
        {-1.0, "1899-12-29 00:00:00"},
        {-1.25, "1899-12-29 06:00:00"},
        {-0.5, "1899-12-30 12:00:00"},
        {-693.75, "1898-02-05 18:00:00"},
        {-728.0, "1898-01-01 00:00:00"},
        // 1900 is no leap year, 2000 is.
        {60.0, "1900-02-28 00:00:00"},
        {61.0, "1900-03-01 00:00:00"},
        {36585.0, "2000-02-29 00:00:00"},
        {44532.0, "2021-12-02 00:00:00"},
        {-462583.0, "0633-06-27 00:00:00"},
        // The first and last seconds Access can hold.
        {-657434.0, "0100-01-01 00:00:00"},
        {-657434.999988426, "0100-01-01 23:59:59"},
        {-657433.5, "0100-01-02 12:00:00"},
        {2958465.0, "9999-12-31 00:00:00"},
        {2958465.999988426, "9999-12-31 23:59:59"},
        {2936916.0, "9940-12-31 00:00:00"},
        // Rounding near midnight: to the nearest second, and half a second before midnight is the next day.
        {0.99999, "1899-12-30 23:59:59"},
        {0.999994, "1899-12-30 23:59:59"},
        {0.999995, "1899-12-31 00:00:00"},
        {-1.999995, "1899-12-30 00:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateTime::fromStored(c.days).text(), c.text) << "stored " << c.days;
}

TEST(AccessDateTime, ValuesOutsideTheYears100To9999AreRefused)
{
    for (const double days : {-657435.0, -1e9, 2958466.0, 1e300, 2958465.999999, std::nan(""),
                              std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()})
        EXPECT_THROW(DateTime::fromStored(days), AccessError) << "stored " << days;
}

TEST(AccessCurrency, TenThousandthsAreShownExactly)
{
    const struct
    {
        std::int64_t stored;
        const char* text;
    } cases[] = {
        {0, "0.0000"},
        {5, "0.0005"},
        {-5, "-0.0005"},
        {127500, "12.7500"},
        {-123400, "-12.3400"},
        {std::numeric_limits<std::int64_t>::max(), "922337203685477.5807"},
        {std::numeric_limits<std::int64_t>::min(), "-922337203685477.5808"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Currency{c.stored}.text(), c.text);
}

// The stored layout: a sign byte, then four little-endian 32-bit words of the unscaled value, most significant
// word first. The byte rows below are written out by hand from that rule.
TEST(AccessDecimal, StoredBytesGiveTheExactValue)
{
    using Stored = std::array<std::uint8_t, 17>;
    const struct
    {
        Stored stored;
        int scale;
        const char* text;
    } cases[] = {
        {{0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0xE2, 0x01, 0x00}, 4, "12.3400"},
        {{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0xE2, 0x01, 0x00}, 4, "-12.3400"},
        {{0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0}, 2, "42949672.96"},
        // 28 nines, the most digits Access keeps: 0x204FCE5E 3E250261 0FFFFFFF.
        {{0x00, 0, 0, 0, 0, 0x5E, 0xCE, 0x4F, 0x20, 0x61, 0x02, 0x25, 0x3E, 0xFF, 0xFF, 0xFF, 0x0F},
         0,
         "9999999999999999999999999999"},
        {{0x80, 0, 0, 0, 0, 0x5E, 0xCE, 0x4F, 0x20, 0x61, 0x02, 0x25, 0x3E, 0xFF, 0xFF, 0xFF, 0x0F},
         28,
         "-0.9999999999999999999999999999"},
        {{0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x07, 0, 0, 0}, 3, "0.007"},
        {{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, "0.00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExactDecimal::fromStored(c.stored, c.scale).text(), c.text);
}

TEST(AccessText, Jet4TextPlainAndCompressedBecomesUtf8)
{
    EXPECT_EQ(utf8({}), "");
    EXPECT_EQ(utf8({0x6F, 0x83, 0xC1, 0x54}), "药品");
    EXPECT_EQ(utf8({0xFF, 0xFE, 'H', 'e', 'l', 'l', 'o'}), "Hello");
    // Compressed runs switch to two-byte characters and back at each 00 byte.
    EXPECT_EQ(utf8({0xFF, 0xFE, 'A', 0x00, 0x6F, 0x83, 0xC1, 0x54, 0x00, 'B'}), "A药品B");
    EXPECT_EQ(utf8({0xFF, 0xFE, 'a', '\r', '\n', 'b'}), "a\r\nb");
    EXPECT_EQ(utf8({0xFF, 0xFE, 0xE9}), "é");
    // A character beyond the first plane, as a surrogate pair (U+20000).
    EXPECT_EQ(utf8({0x40, 0xD8, 0x00, 0xDC}), "\xF0\xA0\x80\x80");
}

TEST(AccessText, BrokenJet4TextIsRefusedNotGuessed)
{
    EXPECT_THROW(utf8({0x41, 0x00, 0x42}), AccessError);                        // odd length
    EXPECT_THROW(utf8({0x00, 0xD8, 0x41, 0x00}), AccessError);                  // lone high surrogate
    EXPECT_THROW(utf8({0x00, 0xDC}), AccessError);                              // lone low surrogate
    EXPECT_THROW(utf8({0xFF, 0xFE, 'A', 0x00, 0x6F, 0x83, 0xC1}), AccessError); // cut inside a character
}

TEST(AccessText, Jet3CharsetComesFromTheArgumentThenTheHeader)
{
    const struct
    {
        std::optional<std::string> given;
        int codePage;
        int sortOrder;
        const char* charset;
    } cases[] = {
        {"GBK", 1252, 0x0409, "GBK"},           // the argument wins over the header
        {std::nullopt, 936, 0x0804, "GBK"},     // Chinese (PRC)
        {std::nullopt, 0, 0x0804, "GBK"},       // no code page: the sort order's language
        {std::nullopt, 0, 0x0404, "CP950"},     // Chinese (Taiwan)
        {std::nullopt, 1251, 0x0419, "CP1251"}, // Russian
        {std::nullopt, 0, 0x0419, "CP1251"},
        {std::nullopt, 0, 0x0C1A, "CP1251"},   // Serbian in Cyrillic script
        {std::nullopt, 0, 0x081A, "CP1250"},   // Serbian in Latin script
        {std::nullopt, 4711, 0x0411, "CP932"}, // an unknown code page: the sort order (Japanese)
        {std::nullopt, 1252, 0x0409, "CP1252"},
        {std::nullopt, 0, 0x0409, "CP1252"}, // General sort order: no hint, the default
        {std::nullopt, 0, 0, "CP1252"},
    };
    for (const auto& c : cases) {
        const auto chosen = text::chooseJet3Charset(c.given, c.codePage, c.sortOrder);
        EXPECT_EQ(chosen.name, c.charset) << c.codePage << " / " << c.sortOrder;
        EXPECT_EQ(chosen.description.rfind(c.charset, 0), 0u) << chosen.description;
    }
    EXPECT_NE(text::chooseJet3Charset(std::nullopt, 936, 0).description.find("936"), std::string::npos);
}

TEST(AccessText, EveryCodePageNameIsOneIconvKnows)
{
    int known = 0;
    for (int codePage = 0; codePage < 65536; ++codePage) {
        if (const auto name = text::charsetForCodePage(codePage)) {
            ++known;
            EXPECT_NO_THROW(text::CodePageDecoder decoder(*name)) << codePage << " " << *name;
        }
    }
    EXPECT_GE(known, 19);
    for (int sortOrder = 0; sortOrder < 0x10000; ++sortOrder) {
        if (const auto page = text::codePageForSortOrder(sortOrder)) {
            EXPECT_TRUE(text::charsetForCodePage(*page)) << sortOrder;
        }
    }
}

TEST(AccessText, CodePageTextBecomesUtf8OrIsRefused)
{
    text::CodePageDecoder gbk("GBK");
    EXPECT_EQ(gbk.toUtf8(std::vector<std::uint8_t>{0xD2, 0xA9, 0xC6, 0xB7}), "药品");
    EXPECT_EQ(gbk.toUtf8(std::vector<std::uint8_t>{0x80}), "€");
    text::CodePageDecoder big5("CP950");
    EXPECT_EQ(big5.toUtf8(std::vector<std::uint8_t>{0xA4, 0xA4}), "中");
    text::CodePageDecoder western("CP1252");
    EXPECT_EQ(western.toUtf8(std::vector<std::uint8_t>{0x4D, 0xE9, 0x78, 0x69, 0x63, 0x6F, 0x0D, 0x0A}), "México\r\n");

    // A byte the code page leaves undefined, and a double-byte character cut in half: an error, never a '?'.
    try {
        western.toUtf8(std::vector<std::uint8_t>{'a', 0x81});
        FAIL() << "0x81 is not a CP1252 character";
    } catch (const AccessError& e) {
        EXPECT_NE(std::string(e.what()).find("CP1252"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("0x81"), std::string::npos) << e.what();
    }
    EXPECT_THROW(gbk.toUtf8(std::vector<std::uint8_t>{'a', 0xD2}), AccessError);
    // The decoder is usable again after a refusal.
    EXPECT_EQ(gbk.toUtf8(std::vector<std::uint8_t>{0xD2, 0xA9}), "药");

    EXPECT_THROW(text::CodePageDecoder(""), AccessError);
    try {
        text::CodePageDecoder unknown("NO-SUCH-CHARSET");
        FAIL() << "an unknown name must be refused";
    } catch (const AccessError& e) {
        EXPECT_NE(std::string(e.what()).find("NO-SUCH-CHARSET"), std::string::npos) << e.what();
    }
}

// Which Western-decoded Jet 3 text has the shape of Chinese in GBK: two GB2312 characters in a row.
TEST(AccessText, ChineseInGbkIsToldFromWesternText)
{
    const struct
    {
        const char* what;
        std::vector<std::uint8_t> stored;
        bool chinese;
    } cases[] = {
        {"阿莫西林 in GBK", {0xB0, 0xA2, 0xC4, 0xAA, 0xCE, 0xF7, 0xC1, 0xD6}, true},
        {"药品 after ASCII", {'A', '1', ' ', 0xD2, 0xA9, 0xC6, 0xB7}, true},
        {"one GBK character alone", {'x', 0xD2, 0xA9, 'y'}, false},
        {"Tradição in CP1252", {'T', 'r', 'a', 'd', 'i', 0xE7, 0xE3, 'o'}, false},
        {"México in CP1252", {'M', 0xE9, 'x', 'i', 'c', 'o'}, false},
        {"Umsätze in CP1252", {'U', 'm', 's', 0xE4, 't', 'z', 'e'}, false},
        {"two characters outside GB2312's hanzi", {0x81, 0x40, 0x81, 0x41}, false},
        {"ASCII only", {'a', 'b', 'c', 'd'}, false},
        {"cut after one and a half", {0xB0, 0xA2, 0xC4}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::hasGbkChinese(c.stored), c.chinese) << c.what;
    for (const char* single : {"CP1252", "CP1251", "IBM850", "CP874"})
        EXPECT_TRUE(text::isSingleByteCharset(single)) << single;
    for (const char* multi : {"GBK", "CP950", "CP932", "CP949", "JOHAB", "UTF-8"})
        EXPECT_FALSE(text::isSingleByteCharset(multi)) << multi;
}
