// Reading real Access files that nobody here wrote (tests/data, from mdbtools' public test data). The expected
// figures come from mdb-reader 3.2.0, a JavaScript reader written apart from mdbtools, run once over the same
// files; where a figure is also long published (the Northwind freight total), the comment says so.
#include "access/AccessFile.h"
#include "tests/support/SampleBytes.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

using namespace velmora::access;
using velmora::test::bytesOfFile;
using velmora::test::TempFolder;

namespace {

const std::string nwind = VELMORA_TEST_DATA "/nwind.mdb";
const std::string dateTest = VELMORA_TEST_DATA "/DateTestDatabase.mdb";

std::vector<std::vector<Value>> allRows(const File& file, const std::string& table)
{
    std::vector<std::vector<Value>> rows;
    file.readRows(table, [&](const std::vector<Value>& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

std::size_t columnIndex(const File& file, const std::string& table, const std::string& column)
{
    for (const Table& t : file.tables())
        if (t.name == table)
            for (std::size_t i = 0; i < t.columns.size(); ++i)
                if (t.columns[i].name == column)
                    return i;
    throw std::runtime_error("no column " + table + "." + column);
}

// The row whose first column holds `key`; reading stops there.
template <typename Key> std::vector<Value> rowWithKey(const File& file, const std::string& table, const Key& key)
{
    std::vector<Value> found;
    file.readRows(table, [&](const std::vector<Value>& row) {
        if (row.at(0) == Value(key))
            found = row;
        return found.empty();
    });
    if (found.empty())
        throw std::runtime_error("no row with that key in " + table);
    return found;
}

// "Name Kind(size)" for each column, so a table's whole shape is one readable line.
std::string shape(const Table& table)
{
    std::string out;
    for (const Column& c : table.columns) {
        out += (out.empty() ? "" : ", ") + c.name + " " + std::string(kindName(c.kind));
        if (c.size)
            out += "(" + std::to_string(c.size) + ")";
    }
    return out;
}

std::uint64_t fnv1a(const Bytes& bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::uint8_t b : bytes)
        hash = (hash ^ b) * 0x100000001b3ULL;
    return hash;
}

std::string messageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const AccessError& e) {
        return e.what();
    }
    return "(no AccessError)";
}

// Scratch files in a folder of the test's own.
class AccessFileTest : public ::testing::Test
{
protected:
    std::string scratch(const std::string& name) const { return m_folder.file(name); }
    std::string write(const std::string& name, const std::string& bytes)
    {
        const std::string path = scratch(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

private:
    TempFolder m_folder;
};

// A copy of nwind.mdb whose header names another code page and sort order. Jet 3 keeps the header from 0x18
// on under RC4 with a fixed key, so the two fields are read and written through the same key stream.
std::string withJet3Locale(std::string bytes, int codePage, int sortOrder)
{
    const unsigned char key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    unsigned char s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % 4]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (int n = 0, i = 0, j = 0; n < 126; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        const auto stream = s[(s[i] + s[j]) & 0xFF];
        const std::size_t at = 0x18 + n;
        unsigned char plain = static_cast<unsigned char>(bytes[at]) ^ stream;
        if (at == 0x3A || at == 0x3B)
            plain = static_cast<unsigned char>(sortOrder >> (8 * (at - 0x3A)));
        if (at == 0x3C || at == 0x3D)
            plain = static_cast<unsigned char>(codePage >> (8 * (at - 0x3C)));
        bytes[at] = static_cast<char>(plain ^ stream);
    }
    return bytes;
}

} // namespace

TEST_F(AccessFileTest, Jet3TablesRowCountsAndKinds)
{
    const File file = File::open(nwind);
    EXPECT_EQ(file.formatName(), "Jet 3");
    EXPECT_EQ(file.textEncoding(), "CP1252 (the file's code page 1252)");

    const std::string orders = "OrderID AutoNumber, CustomerID Text(5), EmployeeID Long Integer, OrderDate Date/Time, "
                               "RequiredDate Date/Time, ShippedDate Date/Time, ShipVia Long Integer, Freight Currency, "
                               "ShipName Text(40), ShipAddress Text(60), ShipCity Text(15), ShipRegion Text(15), "
                               "ShipPostalCode Text(10), ShipCountry Text(15)";
    const std::vector<std::tuple<std::string, std::int64_t, std::string>> expected = {
        {"Order Details", 2155,
         "OrderID Long Integer, ProductID Long Integer, UnitPrice Currency, Quantity Integer, Discount Single"},
        {"Orders", 830, orders},
        {"Products", 77,
         "ProductID AutoNumber, ProductName Text(40), SupplierID Long Integer, CategoryID Long Integer, "
         "QuantityPerUnit Text(20), UnitPrice Currency, UnitsInStock Integer, UnitsOnOrder Integer, "
         "ReorderLevel Integer, Discontinued Yes/No"},
        {"Shippers", 3, "ShipperID AutoNumber, CompanyName Text(40), Phone Text(24)"},
        {"Categories", 8, "CategoryID AutoNumber, CategoryName Text(15), Description Memo, Picture Binary"},
        {"Customers", 91,
         "CustomerID Text(5), CompanyName Text(40), ContactName Text(30), ContactTitle Text(30), Address Text(60), "
         "City Text(15), Region Text(15), PostalCode Text(10), Country Text(15), Phone Text(24), Fax Text(24)"},
        {"Employees", 9,
         "EmployeeID AutoNumber, LastName Text(20), FirstName Text(10), Title Text(30), TitleOfCourtesy Text(25), "
         "BirthDate Date/Time, HireDate Date/Time, Address Text(60), City Text(15), Region Text(15), "
         "PostalCode Text(10), Country Text(15), HomePhone Text(24), Extension Text(4), Photo Binary, Notes Memo, "
         "ReportsTo Long Integer"},
        {"Suppliers", 29,
         "SupplierID AutoNumber, CompanyName Text(40), ContactName Text(30), ContactTitle Text(30), "
         "Address Text(60), City Text(15), Region Text(15), PostalCode Text(10), Country Text(15), Phone Text(24), "
         "Fax Text(24), HomePage Memo"},
        {"Umsätze", 830, orders},
    };
    const std::vector<Table> tables = file.tables();
    ASSERT_EQ(tables.size(), expected.size());
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const auto& [name, rows, columns] = expected[i];
        EXPECT_EQ(tables[i].name, name);
        EXPECT_EQ(tables[i].rowCount, rows) << name;
        EXPECT_EQ(shape(tables[i]), columns) << name;
        std::int64_t read = 0;
        file.readRows(name, [&](const std::vector<Value>& row) {
            EXPECT_EQ(row.size(), tables[i].columns.size());
            ++read;
            return true;
        });
        EXPECT_EQ(read, rows) << name;
    }
}

TEST_F(AccessFileTest, Jet4TableRowCountAndKinds)
{
    const File file = File::open(dateTest);
    EXPECT_EQ(file.formatName(), "Jet 4");
    const std::vector<Table> tables = file.tables();
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].name, "DateTest");
    EXPECT_EQ(tables[0].rowCount, 6);
    // Jet 4 records a text column's size in bytes of UTF-16; 510 bytes are 255 characters.
    EXPECT_EQ(shape(tables[0]), "IDCol Long Integer, DateTimeCol Date/Time, DateCol Date/Time, TimeCol Date/Time, "
                                "LongTextCol Memo, ShortTextCol Text(255)");
    EXPECT_EQ(allRows(file, "DateTest").size(), 6u);
}

// The primary key, from the table's indexes (the other indexes and the relations' do not count); a table
// without one has none.
TEST_F(AccessFileTest, PrimaryKeys)
{
    std::map<std::string, std::vector<std::string>> keys;
    for (const Table& table : File::open(nwind).tables())
        keys[table.name] = table.primaryKey;
    EXPECT_EQ(keys["Order Details"], (std::vector<std::string>{"OrderID", "ProductID"}));
    EXPECT_EQ(keys["Orders"], (std::vector<std::string>{"OrderID"}));
    EXPECT_EQ(keys["Customers"], (std::vector<std::string>{"CustomerID"}));
    EXPECT_EQ(keys["Umsätze"], (std::vector<std::string>{"OrderID"}));
    EXPECT_EQ(File::open(dateTest).tables().at(0).primaryKey, std::vector<std::string>{});
}

TEST_F(AccessFileTest, Jet4DatesOfEveryCenturyAndMemoLineBreaks)
{
    const File file = File::open(dateTest);
    const auto dt = [](int y, int mo, int d) { return Value(DateTime{y, mo, d, 0, 0, 0}); };
    const auto id = [](std::int64_t v) { return Value(v); };
    const auto s = [](const char* text) { return Value(std::string(text)); };
    const std::vector<std::vector<Value>> expected = {
        {id(1), dt(2021, 12, 2), dt(2021, 12, 2), dt(2021, 12, 2), s("Hello"), s("Hello")},
        {id(2), dt(9999, 1, 1), dt(9999, 1, 1), dt(9999, 1, 1), s("Year 9999"), s("Year 1999")},
        {id(3), dt(1898, 1, 1), dt(1899, 1, 1), dt(1900, 1, 1), s("Pre-1900 years"), s("Pre-1900 years")},
        {id(4), dt(632, 1, 1), dt(633, 1, 1), dt(634, 1, 1), s("Pre-1000 years"), s("Pre-1000 years")},
        // Row 5 holds a backslash, an r, a backslash and an n; row 6 a real line break in its memo.
        {id(5), dt(2021, 12, 2), dt(2021, 12, 2), dt(2021, 12, 2), s("Escaped new line \\r\\n in field"),
         s("Escaped new line \\r\\n in field")},
        {id(6), dt(2021, 12, 2), dt(2021, 12, 2), dt(2021, 12, 2), s("New line\r\nin field"), s("No new line")},
    };
    EXPECT_EQ(allRows(file, "DateTest"), expected);
    EXPECT_EQ(std::get<DateTime>(expected[3][1]).text(), "0632-01-01 00:00:00");
}

TEST_F(AccessFileTest, Jet3ValuesOfEachKind)
{
    const File file = File::open(nwind);

    const auto anatr = rowWithKey(file, "Customers", std::string("ANATR"));
    EXPECT_EQ(anatr[columnIndex(file, "Customers", "City")], Value(std::string("México D.F.")));
    EXPECT_EQ(anatr[columnIndex(file, "Customers", "Address")], Value(std::string("Avda. de la Constitución 2222")));
    EXPECT_EQ(anatr[columnIndex(file, "Customers", "Region")], Value());
    const auto bergs = rowWithKey(file, "Customers", std::string("BERGS"));
    EXPECT_EQ(bergs[1], Value(std::string("Berglunds snabbköp")));
    EXPECT_EQ(bergs[columnIndex(file, "Customers", "City")], Value(std::string("Luleå")));

    const auto order = rowWithKey(file, "Orders", std::int64_t{10330});
    EXPECT_EQ(order[columnIndex(file, "Orders", "OrderDate")], Value(DateTime{1994, 11, 16, 0, 0, 0}));
    EXPECT_EQ(order[columnIndex(file, "Orders", "Freight")], Value(Currency{127500}));
    EXPECT_EQ(order[columnIndex(file, "Orders", "ShipAddress")],
              Value(std::string("Carrera 52 con Ave. Bolívar #65-98 Llano Largo")));
    const auto unshipped = rowWithKey(file, "Orders", std::int64_t{11077});
    EXPECT_EQ(unshipped[columnIndex(file, "Orders", "ShippedDate")], Value());

    // Yes/No: Chef Anton's Gumbo Mix is discontinued, Chai is not; eight products are.
    const auto gumbo = rowWithKey(file, "Products", std::int64_t{5});
    EXPECT_EQ(gumbo[columnIndex(file, "Products", "Discontinued")], Value(true));
    EXPECT_EQ(gumbo[columnIndex(file, "Products", "UnitPrice")], Value(Currency{213500}));
    EXPECT_EQ(rowWithKey(file, "Products", std::int64_t{1})[columnIndex(file, "Products", "Discontinued")],
              Value(false));
    int discontinued = 0;
    for (const auto& row : allRows(file, "Products"))
        discontinued += std::get<bool>(row[columnIndex(file, "Products", "Discontinued")]) ? 1 : 0;
    EXPECT_EQ(discontinued, 8);

    // Integer and Single (widened exactly, so 0.15 stays the float nearest 0.15).
    for (const auto& row : allRows(file, "Order Details"))
        if (row[0] == Value(std::int64_t{10250}) && row[1] == Value(std::int64_t{51})) {
            EXPECT_EQ(row[2], Value(Currency{424000}));
            EXPECT_EQ(row[3], Value(std::int64_t{35}));
            EXPECT_EQ(row[4], Value(static_cast<double>(0.15f)));
        }

    // Text and memo line breaks as stored, dates before 1970, NULL numbers, and OLE objects byte for byte
    // (sizes and FNV-1a hashes from mdb-reader; the photos span several pages).
    const auto nancy = rowWithKey(file, "Employees", std::int64_t{1});
    EXPECT_EQ(nancy[columnIndex(file, "Employees", "Address")], Value(std::string("507 - 20th Ave. E.\r\nApt. 2A")));
    EXPECT_EQ(nancy[columnIndex(file, "Employees", "BirthDate")], Value(DateTime{1948, 12, 8, 0, 0, 0}));
    const auto& photo = std::get<Bytes>(nancy[columnIndex(file, "Employees", "Photo")]);
    EXPECT_EQ(photo.size(), 21626u);
    EXPECT_EQ(fnv1a(photo), 0x723bd3b06e34e9b7ULL);
    const auto& notes = std::get<std::string>(nancy[columnIndex(file, "Employees", "Notes")]);
    EXPECT_EQ(notes.rfind("Education includes a BA in psychology", 0), 0u);
    EXPECT_EQ(rowWithKey(file, "Employees", std::int64_t{2})[columnIndex(file, "Employees", "ReportsTo")], Value());
    const auto janet = rowWithKey(file, "Employees", std::int64_t{3});
    EXPECT_EQ(std::get<Bytes>(janet[columnIndex(file, "Employees", "Photo")]).size(), 21722u);
    EXPECT_EQ(fnv1a(std::get<Bytes>(janet[columnIndex(file, "Employees", "Photo")])), 0xfc417c77c9443c21ULL);
    EXPECT_EQ(std::get<std::string>(janet[columnIndex(file, "Employees", "Notes")]).size(), 239u);

    const auto beverages = rowWithKey(file, "Categories", std::int64_t{1});
    EXPECT_EQ(beverages[2], Value(std::string("Soft drinks, coffees, teas, beers, and ales")));
    EXPECT_EQ(std::get<Bytes>(beverages[3]).size(), 10746u);
    EXPECT_EQ(fnv1a(std::get<Bytes>(beverages[3])), 0xeaad4faa3388935dULL);

    const auto homePage = columnIndex(file, "Suppliers", "HomePage");
    EXPECT_EQ(rowWithKey(file, "Suppliers", std::int64_t{2})[homePage], Value(std::string("#CAJUN.HTM#")));
    EXPECT_EQ(rowWithKey(file, "Suppliers", std::int64_t{1})[homePage], Value());
}

// The freight total of the 830 orders is 64,942.69, as the Northwind sample has long been published with, and
// as mdb-reader reads this file (summing its exact four-decimal texts as integers). Here it is summed from the
// stored integers, so no floating point is involved anywhere.
TEST_F(AccessFileTest, CurrencyIsExactFreightSum)
{
    const File file = File::open(nwind);
    for (const std::string table : {"Orders", "Umsätze"}) {
        const auto freight = columnIndex(file, table, "Freight");
        std::int64_t sum = 0;
        for (const auto& row : allRows(file, table))
            sum += std::get<Currency>(row[freight]).tenThousandths;
        EXPECT_EQ(Currency{sum}.text(), "64942.6900") << table;
    }
}

TEST_F(AccessFileTest, ReadingStopsWhenAsked)
{
    const File file = File::open(nwind);
    int seen = 0;
    file.readRows("Orders", [&](const std::vector<Value>&) { return ++seen < 3; });
    EXPECT_EQ(seen, 3);
}

TEST_F(AccessFileTest, UnknownTableIsAnError)
{
    const File file = File::open(nwind);
    const std::string message = messageOf([&] { file.readRows("umsätze", [](const auto&) { return true; }); });
    EXPECT_NE(message.find("'umsätze'"), std::string::npos) << message;
    EXPECT_NE(message.find("nwind.mdb"), std::string::npos) << message;
}

// The charset given wins over the header, for names as for values; each file keeps its own.
TEST_F(AccessFileTest, Jet3CharsetGivenAppliesToNamesAndValues)
{
    const File cyrillic = File::open(nwind, "CP1251");
    const File western = File::open(nwind);
    EXPECT_EQ(cyrillic.textEncoding(), "CP1251 (given)");
    EXPECT_EQ(cyrillic.tables().back().name, "Umsдtze");
    EXPECT_EQ(rowWithKey(cyrillic, "Customers", std::string("ANATR"))[5], Value(std::string("Mйxico D.F.")));
    EXPECT_EQ(rowWithKey(western, "Customers", std::string("ANATR"))[5], Value(std::string("México D.F.")));
    EXPECT_EQ(western.tables().back().name, "Umsätze");

    // A Jet 4 file ignores the name (its text is Unicode) but a misspelt one is still refused.
    const File unicode = File::open(dateTest, "GBK");
    EXPECT_EQ(std::get<std::string>(allRows(unicode, "DateTest")[0][4]), "Hello");
    for (const std::string& path : {nwind, dateTest}) {
        const std::string message = messageOf([&] { File::open(path, "NO-SUCH-CHARSET"); });
        EXPECT_NE(message.find("'NO-SUCH-CHARSET'"), std::string::npos) << message;
    }
}

// mdbtools decodes names by the environment (MDBICONV, MDB_JET3_CHARSET); the reader must not.
TEST_F(AccessFileTest, EnvironmentDoesNotChangeTheDecoding)
{
    ::setenv("MDB_JET3_CHARSET", "CP1251", 1);
    ::setenv("MDBICONV", "UTF-16LE", 1);
    std::string name, city, jet4;
    try {
        const File file = File::open(nwind);
        name = file.tables().back().name;
        city = std::get<std::string>(rowWithKey(file, "Customers", std::string("ANATR"))[5]);
        jet4 = File::open(dateTest).tables().at(0).columns.at(5).name;
    } catch (...) {
    }
    ::unsetenv("MDB_JET3_CHARSET");
    ::unsetenv("MDBICONV");
    EXPECT_EQ(name, "Umsätze");
    EXPECT_EQ(city, "México D.F.");
    EXPECT_EQ(jet4, "ShortTextCol");
}

// What the header says decides when no charset is given: its code page, else its sort order's language.
// Expected texts are Python's decoding of the stored bytes ("M\xe9xico D.F.".decode("gbk"), ...).
TEST_F(AccessFileTest, Jet3CharsetFromTheHeader)
{
    const std::string original = bytesOfFile(nwind);
    const struct
    {
        int codePage;
        int sortOrder;
        const char* encoding;
        const char* city;
    } cases[] = {
        {936, 0x0804, "GBK (the file's code page 936)", "M閤ico D.F."},
        {1251, 0x0419, "CP1251 (the file's code page 1251)", "Mйxico D.F."},
        {0, 0x0419, "CP1251 (the code page of the file's sort order 0x0419)", "Mйxico D.F."},
        {0, 0x0409, "CP1252 (the file names no code page known here)", "México D.F."},
    };
    for (const auto& c : cases) {
        const std::string path =
            write("locale-" + std::to_string(c.codePage) + ".mdb", withJet3Locale(original, c.codePage, c.sortOrder));
        const File file = File::open(path);
        EXPECT_EQ(file.textEncoding(), c.encoding);
        EXPECT_EQ(rowWithKey(file, "Customers", std::string("ANATR"))[5], Value(std::string(c.city))) << c.encoding;
    }
}

// Text that is not valid in the charset is an error that names its place, never a '?' in its stead.
TEST_F(AccessFileTest, TextTheCharsetCannotDecodeNamesItsPlace)
{
    // In GBK the name "Umsätze" is a valid (if meaningless) pair of bytes, but BERGS's city "Luleå", on the
    // fifth row, ends with half a character.
    const File file = File::open(nwind, "GBK");
    const std::string message = messageOf([&] { allRows(file, "Customers"); });
    EXPECT_NE(message.find("table 'Customers', row 5, column 'City'"), std::string::npos) << message;
    EXPECT_NE(message.find("GBK"), std::string::npos) << message;

    // Names are held to the same rule: in UTF-8 the catalogue's "Umsätze" is no text at all.
    const std::string names = messageOf([&] { File::open(nwind, "UTF-8"); });
    EXPECT_NE(names.find("catalogue of tables"), std::string::npos) << names;
    EXPECT_NE(names.find("UTF-8"), std::string::npos) << names;
}

// Access's Required property, read from the table's properties.
TEST_F(AccessFileTest, RequiredColumns)
{
    std::map<std::string, std::vector<std::string>> required;
    for (const Table& table : File::open(nwind).tables())
        for (const Column& column : table.columns)
            if (column.required)
                required[table.name].push_back(column.name);
    EXPECT_EQ(required["Order Details"], (std::vector<std::string>{"ProductID", "UnitPrice", "Quantity", "Discount"}));
    EXPECT_EQ(required["Customers"], std::vector<std::string>{"CompanyName"});
    EXPECT_EQ(required["Orders"], std::vector<std::string>{});
    // Kept by name: a range-for does not keep the temporary tables() alive past at(0).
    const std::vector<Table> dateTables = File::open(dateTest).tables();
    for (const Column& column : dateTables.at(0).columns)
        EXPECT_FALSE(column.required) << column.name;
    // Neither sample links to tables elsewhere.
    EXPECT_TRUE(File::open(nwind).linkedTables().empty());
    EXPECT_TRUE(File::open(dateTest).linkedTables().empty());
}

// A copy of nwind.mdb whose "Alfreds " (in Customers and in two tables of orders) is other bytes.
std::string withAlfredsAs(const std::string& replacement)
{
    return velmora::test::withEvery(velmora::test::bytesOfFile(nwind), "Alfreds ", replacement);
}

// A Chinese shop's Jet 3 file whose header names the Western code page: its text is read as the file says, but
// never silently: text that reads as Chinese in GBK is doubted, once per column, naming the option that reads it
// so. Given a code page, the file is read as told; the sample itself raises no doubt.
TEST_F(AccessFileTest, Jet3TextThatReadsAsChineseInGbkIsDoubted)
{
    const std::string path = write("gbk.mdb", withAlfredsAs("\xB0\xA2\xC4\xAA\xCE\xF7\xC1\xD6"));
    const File file = File::open(path);
    allRows(file, "Customers");
    allRows(file, "Customers");
    const std::vector<std::string> warnings = file.warnings();
    ASSERT_EQ(warnings.size(), 1u);
    for (const char* part :
         {"table 'Customers', column 'CompanyName', row 1", "阿莫西林Futterkiste", "CP1252", "--jet3-charset GBK"})
        EXPECT_NE(warnings[0].find(part), std::string::npos) << warnings[0];

    const File given = File::open(path, "CP1252");
    allRows(given, "Customers");
    EXPECT_TRUE(given.warnings().empty());

    const File sample = File::open(nwind);
    for (const Table& table : sample.tables())
        allRows(sample, table.name);
    EXPECT_EQ(sample.warnings(), std::vector<std::string>{});

    // Bytes the Western code page has no character for, that GBK reads (丂): the error says how to read them.
    const File undecodable = File::open(write("gbk-8140.mdb", withAlfredsAs("\x81\x40"
                                                                            "freds ")));
    const std::string message = messageOf([&] { allRows(undecodable, "Customers"); });
    EXPECT_NE(message.find("table 'Customers', row 1, column 'CompanyName'"), std::string::npos) << message;
    EXPECT_NE(message.find("--jet3-charset GBK"), std::string::npos) << message;
}

TEST_F(AccessFileTest, TwoFilesOpenSideBySide)
{
    const File jet3 = File::open(nwind);
    const File jet4 = File::open(dateTest);
    std::vector<std::string> seen;
    jet3.readRows("Shippers", [&](const std::vector<Value>& shipper) {
        jet4.readRows("DateTest", [&](const std::vector<Value>& date) {
            seen.push_back(std::get<std::string>(shipper[1]) + "/" + std::get<std::string>(date[5]));
            return false;
        });
        return true;
    });
    EXPECT_EQ(seen,
              (std::vector<std::string>{"Speedy Express/Hello", "United Package/Hello", "Federal Shipping/Hello"}));
}

// Whatever is wrong with the file, the caller gets an AccessError that names it: never a crash, never fewer
// rows without a word.
TEST_F(AccessFileTest, DamagedOrForeignFilesAreClearErrors)
{
    const std::string jet3 = bytesOfFile(nwind);
    const std::string jet4 = bytesOfFile(dateTest);
    std::string zeroedData = jet3;
    std::fill(zeroedData.begin() + 40 * 2048, zeroedData.end(), '\0');
    const std::string folder = scratch("folder");
    std::filesystem::create_directory(folder);

    const struct
    {
        std::string name;
        std::string path;
        std::string says;
    } cases[] = {
        {"missing", scratch("missing.mdb"), "No such file"},
        {"folder", folder, "not a regular file"},
        {"empty", write("empty.mdb", ""), "not an Access database file"},
        {"text", write("text.mdb", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=velmdb.mdb\r\n"),
         "not an Access database file"},
        {"cut mid-page", write("cut.mdb", jet3.substr(0, 100000)), "damaged"},
        {"Jet 4 cut mid-page", write("cut4.mdb", jet4.substr(0, jet4.size() / 2 + 100)), "damaged"},
        {"cut at a page", write("cut-page.mdb", jet3.substr(0, 300 * 2048)), "damaged"},
        {"Jet 4 cut at a page", write("cut4-page.mdb", jet4.substr(0, 20 * 4096)), "damaged"},
        {"Jet 4 catalogue cut", write("cut4-catalogue.mdb", jet4.substr(0, 8 * 4096)), "damaged"},
        {"data pages zeroed", write("zeroed.mdb", zeroedData), "damaged"},
        {"header only", write("header.mdb", jet3.substr(0, 2 * 2048)), "damaged"},
    };
    for (const auto& c : cases) {
        const std::string message = messageOf([&] {
            const File file = File::open(c.path);
            for (const Table& table : file.tables())
                file.readRows(table.name, [](const std::vector<Value>&) { return true; });
        });
        EXPECT_NE(message.find(c.path), std::string::npos) << c.name << ": " << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << c.name << ": " << message;
    }
}
