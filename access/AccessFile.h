#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Reading Microsoft Access database files (Jet 3, Jet 4 and ACE) through mdbtools' libmdb. Every value comes
// from its stored bytes, so nothing is rounded or re-encoded on the way except text, which always arrives as
// UTF-8.
namespace velmora::access {

// A file that cannot be opened or read; the text names the file or the table, row and column, and the cause.
class AccessError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class Kind {
    Text,
    Memo,
    Byte,
    Integer,
    LongInteger,
    AutoNumber, // a Long Integer that Access numbers itself
    Currency,
    Decimal,
    Single,
    Double,
    DateTime,
    Boolean,
    Binary, // OLE objects and binary columns
    ReplicationId,
};

// The kind as Access's table designer names it ("Long Integer", "Yes/No").
std::string_view kindName(Kind kind);

struct Column
{
    std::string name;
    Kind kind = Kind::Text;
    int size = 0;          // Text: characters; Binary: bytes; otherwise 0
    int precision = 0;     // Decimal only
    int scale = 0;         // Decimal only
    bool required = false; // Access's Required property: every row holds a value
};

struct Table
{
    std::string name;
    std::vector<Column> columns;
    std::int64_t rowCount = 0;           // as the table's definition records it
    std::vector<std::string> primaryKey; // its primary key's columns in key order; empty when it has none
};

struct DateTime
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;

    // Access stores a date-time as days since 1899-12-30: a negative whole part counts days before it, and the
    // fraction is always the (positive) time of that day. Rounded to the nearest second. Throws AccessError
    // for values outside the years 100 to 9999, the range Access can hold, and for NaN or infinity.
    static DateTime fromStored(double days);

    std::string text() const; // YYYY-MM-DD HH:MM:SS, four-digit year
    bool operator==(const DateTime&) const = default;
};

struct Currency
{
    std::int64_t tenThousandths = 0;

    std::string text() const; // exact, four decimals: "-12.3400"
    bool operator==(const Currency&) const = default;
};

struct ExactDecimal
{
    bool negative = false;
    unsigned __int128 unscaled = 0; // the value is (negative ? -1 : 1) * unscaled / 10^scale
    int scale = 0;

    // A Decimal column's 17 stored bytes: a sign byte (0x80 when negative), then the 128-bit unscaled value
    // as four little-endian 32-bit words, the most significant word first.
    static ExactDecimal fromStored(std::span<const std::uint8_t, 17> stored, int scale);

    std::string text() const; // plain notation with exactly `scale` decimals: "-12.3400", "0.00"
    bool operator==(const ExactDecimal&) const = default;
};

// A table that lives elsewhere, which the file only links to: its rows are not in the file.
struct LinkedTable
{
    std::string name;
    std::string source; // the Access file it is read from, or "an ODBC data source"
};

using Bytes = std::vector<std::uint8_t>;

// One value. Byte, Integer, Long Integer and AutoNumber are std::int64_t; Single is widened to double
// (exactly); Text, Memo and Replication ID ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}") are UTF-8 text;
// Binary and OLE objects are their stored bytes.
using Value =
    std::variant<std::monostate, bool, std::int64_t, Currency, ExactDecimal, double, std::string, Bytes, DateTime>;

// An open Access file, read-only. Each File is independent of any other (files may be open side by side);
// one File is not for use by several threads at once.
class File
{
public:
    // jet3Charset is the iconv name of the code page that Jet 3 text was written in ("GBK", "CP1251");
    // without it the file's own header decides, and CP1252 when the header names none that is known. It does
    // not apply to Jet 4 and ACE files, whose text is Unicode, but an unknown name is refused either way.
    static File open(const std::string& path, std::optional<std::string> jet3Charset = {});

    File(File&&) noexcept;
    File& operator=(File&&) noexcept;
    ~File();

    std::string formatName() const;    // "Jet 3", "Jet 4", "ACE 12 (Access 2007)", ...
    std::string textEncoding() const;  // what text is decoded from, and why: "CP1252 (the file's code page 1252)"
    std::vector<Table> tables() const; // user tables in the file's order; no system (MSys*) tables
    std::vector<LinkedTable> linkedTables() const; // in the file's order

    // Calls onRow for each row, values in the table's column order. onRow may return false to stop. Throws
    // AccessError naming the table, row and column for a value that cannot be read, and when the rows found
    // are fewer or more than the table records (a damaged file), so no row is silently left out.
    void readRows(const std::string& table, const std::function<bool(const std::vector<Value>&)>& onRow) const;

    // What the rows read so far give reason to doubt, one text each: Jet 3 text read in the file's own Western
    // code page that reads as Chinese in GBK (a Chinese shop's file whose header names no Chinese code page).
    std::vector<std::string> warnings() const;

private:
    struct Impl;
    explicit File(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace velmora::access
