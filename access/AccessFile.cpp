#include "access/AccessFile.h"

#include "access/Text.h"

#include <mdbtools.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace velmora::access {

namespace {

constexpr int offsetMask = 0x1FFF; // row offsets on a page carry flags in their top bits
constexpr int rowDeleted = 0x4000;
constexpr std::size_t longValueHeader = 12; // memo and OLE: length and flags, page and row, unused
// MSysObjects' types of a linked table, as stored (libmdb's catalogue folds the ODBC one into reports').
constexpr std::int64_t ObjectLinkedOdbcTable = 4;
constexpr std::int64_t ObjectLinkedAccessTable = 6;

struct TableDefDeleter
{
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};
using TableDefPtr = std::unique_ptr<MdbTableDef, TableDefDeleter>;

std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t le64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

std::string formatOf(std::uint32_t version)
{
    switch (version) {
    case MDB_VER_JET3:
        return "Jet 3";
    case MDB_VER_JET4:
        return "Jet 4";
    case MDB_VER_ACCDB_2007:
        return "ACE 12 (Access 2007)";
    case MDB_VER_ACCDB_2010:
        return "ACE 14 (Access 2010)";
    case MDB_VER_ACCDB_2013:
        return "ACE 15 (Access 2013)";
    case MDB_VER_ACCDB_2016:
        return "ACE 16 (Access 2016)";
    case MDB_VER_ACCDB_2019:
        return "ACE 16 (Access 2019)";
    default:
        return {};
    }
}

// What libmdb cannot be trusted to tell apart: a missing file, a file of another kind, a cut-off copy. Returns
// the format's name and page size.
std::pair<std::string, std::size_t> checkHeader(const std::string& path)
{
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
        throw AccessError("cannot open the Access file " + quoted(path) + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw AccessError("cannot open the Access file " + quoted(path) + ": it is not a regular file");
    std::ifstream in(path, std::ios::binary);
    std::array<char, 0x18> header{};
    if (!in)
        throw AccessError("cannot open the Access file " + quoted(path) + ": " + std::strerror(errno));
    in.read(header.data(), header.size());
    static constexpr char jetSignature[] = "\x00\x01\x00\x00Standard Jet DB";
    static constexpr char aceSignature[] = "\x00\x01\x00\x00Standard ACE DB";
    const std::size_t signatureSize = sizeof jetSignature; // the names end in a NUL byte in the file too
    if (in.gcount() != static_cast<std::streamsize>(header.size()) ||
        (std::memcmp(header.data(), jetSignature, signatureSize) != 0 &&
         std::memcmp(header.data(), aceSignature, signatureSize) != 0))
        throw AccessError(quoted(path) + " is not an Access database file (it lacks the Jet/ACE signature)");
    const auto version = le32(reinterpret_cast<const std::uint8_t*>(header.data()) + 0x14);
    std::string format = formatOf(version);
    if (format.empty())
        throw AccessError(quoted(path) + " is an Access file of a version not known here (" + std::to_string(version) +
                          ")");
    const std::size_t pageSize = version == MDB_VER_JET3 ? 2048 : 4096;
    const auto size = static_cast<std::size_t>(info.st_size);
    // Jet writes whole pages; anything else is a copy cut short.
    if (size < 2 * pageSize || size % pageSize != 0)
        throw AccessError(quoted(path) + " is damaged: its size (" + std::to_string(size) +
                          " bytes) is not a whole number of " + std::to_string(pageSize) + "-byte pages");
    return {format, pageSize};
}

} // namespace

struct File::Impl
{
    std::string path;
    std::string format;
    std::string encoding;
    MdbHandle* mdb = nullptr;
    bool unicode = false; // Jet 4 and ACE
    std::unique_ptr<text::CodePageDecoder> jet3;
    // Jet 3 text read in a Western code page the file chose: GBK to tell whether it is Chinese after all.
    std::unique_ptr<text::CodePageDecoder> gbk;
    std::vector<std::unique_ptr<MdbCatalogEntry>> userTables;
    std::map<std::string, std::set<std::string>> requiredColumns; // by table
    std::vector<LinkedTable> linkedTables;
    // The last text decoded, when it reads as Chinese in GBK: as GBK reads it.
    mutable std::optional<std::string> lastAsGbk;
    mutable std::vector<std::string> warnings;
    mutable std::set<std::pair<std::string, std::string>> doubted; // table, column: warned once

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl()
    {
        if (mdb)
            mdb_close(mdb);
    }

    [[noreturn]] void damaged(const std::string& what) const
    {
        throw AccessError(quoted(path) + " is damaged: " + what);
    }

    MdbCatalogEntry* entry(const std::string& name) const
    {
        for (const auto& e : userTables)
            if (name == e->object_name)
                return e.get();
        throw AccessError(quoted(path) + " holds no table " + quoted(name));
    }

    TableDefPtr readTable(MdbCatalogEntry* e) const
    {
        TableDefPtr table(mdb_read_table(e));
        if (!table)
            damaged("the definition of table " + quoted(e->object_name) + " cannot be read");
        if (!mdb_read_columns(table.get()) || table->num_cols != table->columns->len)
            damaged("the columns of table " + quoted(e->object_name) + " cannot be read");
        return table;
    }

    // Calls onFields(fields, rowNumber) for each row; it returns false to stop. libmdb walks the pages and
    // skips deleted rows, but its own copy of a row's values cannot tell NULL from an empty text, so the row
    // it stopped at is taken apart again here for the NULL flags and offsets. libmdb passes over pages and
    // rows it cannot read without a word, so a table that yields another number of rows than its definition
    // records is damaged.
    template <typename OnFields>
    void forEachRow(MdbTableDef& table, const std::string& label, OnFields&& onFields) const
    {
        std::vector<MdbField> fields(table.num_cols);
        std::int64_t rowNumber = 0;
        mdb_rewind_table(&table);
        while (mdb_fetch_row(&table)) {
            ++rowNumber;
            const std::string where = label + ", row " + std::to_string(rowNumber) + ": ";
            int start = 0;
            std::size_t size = 0;
            if (table.cur_row == 0 || mdb_find_row(mdb, static_cast<int>(table.cur_row - 1), &start, &size) != 0 ||
                (start & rowDeleted) != 0)
                throw AccessError(where + "the row just read cannot be found again on its page");
            if (mdb_crack_row(&table, start & offsetMask, size, fields.data()) < 0)
                throw AccessError(where + "the row cannot be taken apart into its columns");
            for (const MdbField& field : fields)
                if (field.colnum < 0 || static_cast<unsigned>(field.colnum) >= table.num_cols)
                    throw AccessError(where + "a value names a column the table does not have");
            if (!onFields(fields, rowNumber))
                return;
        }
        if (rowNumber != static_cast<std::int64_t>(table.num_rows))
            throw AccessError(label + ": " + std::to_string(rowNumber) +
                              " rows could be read where the table records " + std::to_string(table.num_rows) +
                              "; the file is damaged (Access's Compact and Repair may mend it)");
    }

    // The user tables from MSysObjects. Read here rather than by libmdb's catalogue, which also parses every
    // object's properties: on a damaged file that can run for hours, and this reader needs none of them.
    void readCatalogue()
    {
        MdbCatalogEntry catalogue{};
        catalogue.mdb = mdb;
        catalogue.object_type = MDB_TABLE;
        catalogue.table_pg = 2; // MSysObjects always starts there
        std::snprintf(catalogue.object_name, sizeof catalogue.object_name, "MSysObjects");
        const TableDefPtr table = readTable(&catalogue);
        const auto column = [&](const char* name, int type) {
            for (unsigned i = 0; i < table->num_cols; ++i) {
                const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
                if (std::strcmp(col->name, name) == 0 && col->col_type == type)
                    return i;
            }
            damaged(std::string("its catalogue of tables lacks the column ") + name);
        };
        const unsigned id = column("Id", MDB_LONGINT), name = column("Name", MDB_TEXT), type = column("Type", MDB_INT),
                       flags = column("Flags", MDB_LONGINT);
        const auto optionalColumn = [&](const char* wanted, int kind) -> std::optional<unsigned> {
            for (unsigned i = 0; i < table->num_cols; ++i) {
                const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
                if (std::strcmp(col->name, wanted) == 0 && col->col_type == kind)
                    return i;
            }
            return std::nullopt;
        };
        const std::optional<unsigned> properties = optionalColumn("LvProp", MDB_OLE),
                                      database = optionalColumn("Database", MDB_MEMO);
        const std::string label = quoted(path) + ", catalogue of tables (MSysObjects)";
        forEachRow(*table, label, [&](const std::vector<MdbField>& fields, std::int64_t rowNumber) {
            const auto read = [&](unsigned index, Kind kind) {
                for (const MdbField& field : fields) {
                    if (static_cast<unsigned>(field.colnum) != index)
                        continue;
                    try {
                        return value(kind, *static_cast<MdbColumn*>(g_ptr_array_index(table->columns, index)), field);
                    } catch (const AccessError& e) {
                        throw AccessError(label + ", row " + std::to_string(rowNumber) + ": " + e.what());
                    }
                }
                return Value{};
            };
            // Only tables' names are decoded: the names of queries, forms and the like play no part here.
            const Value objectType = read(type, Kind::Integer);
            const Value objectId = read(id, Kind::LongInteger);
            if (!std::holds_alternative<std::int64_t>(objectType))
                return true;
            // A table linked from another Access file (6) or an ODBC data source (4); reports are 4 too, with the
            // top bit set.
            const std::int64_t rawType = std::get<std::int64_t>(objectType);
            if (rawType == ObjectLinkedAccessTable || rawType == ObjectLinkedOdbcTable) {
                const Value linkedName = read(name, Kind::Text);
                if (const auto* text = std::get_if<std::string>(&linkedName)) {
                    std::string source = "an ODBC data source"; // its connection text may hold a password
                    if (rawType == ObjectLinkedAccessTable && database)
                        if (const Value path = read(*database, Kind::Memo); std::holds_alternative<std::string>(path))
                            source = std::get<std::string>(path);
                    linkedTables.push_back({*text, source});
                }
                return true;
            }
            if ((rawType & 0x7F) != MDB_TABLE || !std::holds_alternative<std::int64_t>(objectId))
                return true;
            const Value nameValue = read(name, Kind::Text);
            const auto* objectName = std::get_if<std::string>(&nameValue);
            if (!objectName)
                return true;
            if (objectName->size() >= sizeof MdbCatalogEntry::object_name)
                damaged("its catalogue names a table with a name too long for Access");
            auto entry = std::make_unique<MdbCatalogEntry>();
            *entry = MdbCatalogEntry{};
            entry->mdb = mdb;
            entry->object_type = MDB_TABLE;
            entry->table_pg = static_cast<unsigned long>(std::get<std::int64_t>(objectId) & 0x00FFFFFF);
            const Value objectFlags = read(flags, Kind::LongInteger);
            entry->flags = std::holds_alternative<std::int64_t>(objectFlags)
                               ? static_cast<int>(std::get<std::int64_t>(objectFlags))
                               : 0;
            std::memcpy(entry->object_name, objectName->c_str(), objectName->size() + 1);
            if (mdb_is_user_table(entry.get()) && g_ascii_strncasecmp(entry->object_name, "MSys", 4) != 0) {
                if (properties) {
                    // Only NOT NULL comes from them: properties that cannot be read leave every column nullable.
                    try {
                        if (const Value stored = read(*properties, Kind::Binary); std::holds_alternative<Bytes>(stored))
                            requiredColumns[*objectName] = requiredIn(std::get<Bytes>(stored));
                    } catch (const AccessError&) {
                    }
                }
                userTables.push_back(std::move(entry));
            }
            return true;
        });
    }

    Column describe(const MdbTableDef& table, const MdbColumn& col) const
    {
        Column column;
        column.name = col.name;
        switch (col.col_type) {
        case MDB_BOOL:
            column.kind = Kind::Boolean;
            break;
        case MDB_BYTE:
            column.kind = Kind::Byte;
            break;
        case MDB_INT:
            column.kind = Kind::Integer;
            break;
        case MDB_LONGINT:
            column.kind = col.is_long_auto ? Kind::AutoNumber : Kind::LongInteger;
            break;
        case MDB_MONEY:
            column.kind = Kind::Currency;
            break;
        case MDB_FLOAT:
            column.kind = Kind::Single;
            break;
        case MDB_DOUBLE:
            column.kind = Kind::Double;
            break;
        case MDB_DATETIME:
            column.kind = Kind::DateTime;
            break;
        case MDB_BINARY:
            column.kind = Kind::Binary;
            column.size = col.col_size;
            break;
        case MDB_OLE:
            column.kind = Kind::Binary;
            break;
        case MDB_TEXT:
            column.kind = Kind::Text;
            // Jet 4 and ACE record the size in bytes of UTF-16.
            column.size = unicode ? col.col_size / 2 : col.col_size;
            break;
        case MDB_MEMO:
            column.kind = Kind::Memo;
            break;
        case MDB_REPID:
            column.kind = Kind::ReplicationId;
            break;
        case MDB_NUMERIC:
            column.kind = Kind::Decimal;
            column.precision = col.col_prec;
            column.scale = col.col_scale;
            break;
        default: {
            // Attachments and multi-valued fields (0x12) live in hidden tables, and later kinds are unknown to
            // libmdb; reading them as numbers would lose them quietly.
            char type[8];
            std::snprintf(type, sizeof type, "0x%02X", static_cast<unsigned>(col.col_type) & 0xFFu);
            throw AccessError("column " + quoted(col.name) + " of table " + quoted(table.name) + " in " + quoted(path) +
                              " is of a kind that cannot be read here (type " + type +
                              (col.col_type == MDB_COMPLEX ? ", an attachment or multi-valued field)" : ")"));
        }
        }
        return column;
    }

    // The columns of the primary key. Only messages use it, so a definition whose indexes libmdb cannot read
    // has none rather than making the whole table unreadable.
    std::vector<std::string> primaryKey(MdbTableDef& table) const
    {
        constexpr unsigned char primaryIndex = 1;
        std::vector<std::string> key;
        mdb_read_indices(&table); // fills table.indices; what it returns tells nothing
        if (!table.indices)
            return key;
        for (unsigned i = 0; i < table.indices->len; ++i) {
            const auto* index = static_cast<const MdbIndex*>(g_ptr_array_index(table.indices, i));
            if (index->index_type != primaryIndex || index->num_keys > MDB_MAX_IDX_COLS)
                continue;
            for (unsigned k = 0; k < index->num_keys; ++k) {
                const int column = index->key_col_num[k] - 1;
                if (column < 0 || static_cast<unsigned>(column) >= table.num_cols)
                    return {};
                key.emplace_back(static_cast<const MdbColumn*>(g_ptr_array_index(table.columns, column))->name);
            }
            return key;
        }
        return key;
    }

    std::vector<Column> describeAll(const MdbTableDef& table) const
    {
        const auto required = requiredColumns.find(table.name);
        std::vector<Column> columns;
        for (unsigned i = 0; i < table.num_cols; ++i) {
            columns.push_back(describe(table, *static_cast<MdbColumn*>(g_ptr_array_index(table.columns, i))));
            columns.back().required =
                required != requiredColumns.end() && required->second.contains(columns.back().name);
        }
        return columns;
    }

    // The columns a table's properties (MSysObjects.LvProp: "KKD" in Jet 3, "MR2" later) mark Required. Blocks
    // of property names, then one block per column (and one for the table) of values that index those names.
    // Every length is checked against what holds it: a damaged block ends the reading, never the import.
    std::set<std::string> requiredIn(std::span<const std::uint8_t> stored) const
    {
        std::set<std::string> required;
        const auto le16 = [](const std::uint8_t* p) { return static_cast<std::size_t>(p[0] | p[1] << 8); };
        if (stored.size() < 4 ||
            (std::memcmp(stored.data(), "KKD", 4) != 0 && std::memcmp(stored.data(), "MR2", 4) != 0))
            return required;
        std::vector<std::string> names;
        for (std::size_t at = 4; at + 6 <= stored.size();) {
            const std::size_t length = le32(stored.data() + at);
            const std::size_t kind = le16(stored.data() + at + 4);
            if (length < 6 || length > stored.size() - at)
                break;
            const std::span<const std::uint8_t> block = stored.subspan(at + 6, length - 6);
            at += length;
            if (kind == 0x80) {
                names.clear();
                for (std::size_t p = 0; p + 2 <= block.size();) {
                    const std::size_t size = le16(block.data() + p);
                    p += 2;
                    if (size > block.size() - p)
                        break;
                    names.push_back(decodeText(block.subspan(p, size)));
                    p += size;
                }
            } else if (kind <= 2 && block.size() >= 6) {
                const std::size_t ownerSize = le16(block.data() + 4);
                if (ownerSize > block.size() - 6)
                    continue;
                const std::string owner = decodeText(block.subspan(6, ownerSize));
                for (std::size_t p = 6 + ownerSize; p + 8 <= block.size();) {
                    const std::size_t entry = le16(block.data() + p);
                    const std::uint8_t type = block[p + 3];
                    const std::size_t name = le16(block.data() + p + 4);
                    const std::size_t size = le16(block.data() + p + 6);
                    if (entry < 8 || entry > block.size() - p || size > entry - 8)
                        break;
                    if (type == MDB_BOOL && size >= 1 && name < names.size() && names[name] == "Required" &&
                        block[p + 8] != 0)
                        required.insert(owner);
                    p += entry;
                }
            }
        }
        return required;
    }

    std::string decodeText(std::span<const std::uint8_t> stored) const
    {
        if (unicode)
            return text::unicodeToUtf8(stored);
        lastAsGbk.reset();
        if (!gbk)
            return jet3->toUtf8(stored);
        const auto asGbk = [&]() -> std::optional<std::string> {
            try {
                return gbk->toUtf8(stored);
            } catch (const AccessError&) {
                return std::nullopt;
            }
        };
        std::string decoded;
        try {
            decoded = jet3->toUtf8(stored);
        } catch (const AccessError& e) {
            if (asGbk())
                throw AccessError(std::string(e.what()) + ", but the text is valid GBK: a Chinese shop's Jet 3 file "
                                                          "is read with --jet3-charset GBK");
            throw;
        }
        if (text::hasGbkChinese(stored))
            lastAsGbk = asGbk();
        return decoded;
    }

    // One row of a long-value (LVAL) page, copied out: libmdb reads it into its second page buffer, which the
    // next read reuses.
    std::span<const std::uint8_t> longValueRow(std::uint32_t pageRow) const
    {
        void* page = nullptr;
        int start = 0;
        std::size_t length = 0;
        if (mdb_find_pg_row(mdb, static_cast<int>(pageRow), &page, &start, &length) != 0 || !page ||
            start + length > static_cast<std::size_t>(mdb->fmt->pg_size))
            throw AccessError("its memo or OLE data points to a page or row that does not exist");
        return {static_cast<const std::uint8_t*>(page) + start, length};
    }

    // A memo or OLE value: inline in the row, on one other page, or in a chain of pages.
    Bytes longValue(std::span<const std::uint8_t> field) const
    {
        if (field.size() < longValueHeader)
            throw AccessError("its memo or OLE header is cut short");
        const std::uint32_t header = le32(field.data());
        const std::size_t length = header & 0x3FFFFFFF;
        const std::uint32_t pageRow = le32(field.data() + 4);
        Bytes out;
        if (header & 0x80000000) {
            if (length > field.size() - longValueHeader)
                throw AccessError("its memo or OLE value is longer than its row");
            out.assign(field.begin() + longValueHeader, field.begin() + longValueHeader + length);
        } else if (header & 0x40000000) {
            const auto row = longValueRow(pageRow);
            if (length > row.size())
                throw AccessError("its memo or OLE value is longer than the row holding it");
            out.assign(row.begin(), row.begin() + length);
        } else {
            out.reserve(length);
            std::uint32_t next = pageRow;
            while (out.size() < length) {
                if (next == 0)
                    throw AccessError("its memo or OLE value ends before its recorded length");
                const auto row = longValueRow(next);
                if (row.size() <= 4)
                    throw AccessError("its memo or OLE value has an empty link in its chain of pages");
                next = le32(row.data());
                const std::size_t take = std::min(row.size() - 4, length - out.size());
                out.insert(out.end(), row.begin() + 4, row.begin() + 4 + take);
            }
        }
        return out;
    }

    Value value(Kind kind, const MdbColumn& col, const MdbField& field) const
    {
        // Yes/No has no bytes of its own: its value is the bit that marks other columns as not NULL.
        if (kind == Kind::Boolean)
            return field.is_null == 0;
        if (field.is_null)
            return std::monostate{};
        if (field.start < 0 || field.siz < 0 || field.start + field.siz > mdb->fmt->pg_size)
            throw AccessError("its bytes lie outside the page");
        const std::span<const std::uint8_t> bytes(mdb->pg_buf + field.start, static_cast<std::size_t>(field.siz));
        const auto need = [&](std::size_t size) {
            if (bytes.size() < size)
                throw AccessError("it holds " + std::to_string(bytes.size()) + " bytes where its kind needs " +
                                  std::to_string(size));
            return bytes.data();
        };
        switch (kind) {
        case Kind::Byte:
            return static_cast<std::int64_t>(*need(1));
        case Kind::Integer:
            return static_cast<std::int64_t>(static_cast<std::int16_t>(need(2)[0] | need(2)[1] << 8));
        case Kind::LongInteger:
        case Kind::AutoNumber:
            return static_cast<std::int64_t>(static_cast<std::int32_t>(le32(need(4))));
        case Kind::Currency:
            return Currency{static_cast<std::int64_t>(le64(need(8)))};
        case Kind::Single: {
            float single;
            std::memcpy(&single, need(4), sizeof single);
            return static_cast<double>(single);
        }
        case Kind::Double: {
            double number;
            std::memcpy(&number, need(8), sizeof number);
            return number;
        }
        case Kind::DateTime: {
            double days;
            std::memcpy(&days, need(8), sizeof days);
            return DateTime::fromStored(days);
        }
        case Kind::Decimal:
            return ExactDecimal::fromStored(std::span<const std::uint8_t, 17>(need(17), 17), col.col_scale);
        case Kind::ReplicationId: {
            const std::uint8_t* g = need(16);
            char text[40];
            std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                          g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                          g[15]);
            return std::string(text);
        }
        case Kind::Text:
            return decodeText(bytes);
        case Kind::Memo: {
            const Bytes stored = longValue(bytes);
            return decodeText(stored);
        }
        case Kind::Binary:
            if (col.col_type == MDB_OLE)
                return longValue(bytes);
            return Bytes(bytes.begin(), bytes.end());
        case Kind::Boolean:
            break;
        }
        return std::monostate{};
    }
};

File::File(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
File::File(File&&) noexcept = default;
File& File::operator=(File&&) noexcept = default;
File::~File() = default;

File File::open(const std::string& path, std::optional<std::string> jet3Charset)
{
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->format = checkHeader(path).first;
    // A misspelt name is refused even for a file that will not need it.
    if (jet3Charset)
        text::CodePageDecoder check(*jet3Charset);

    impl->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!impl->mdb)
        impl->damaged("mdbtools cannot open it");
    MdbHandle* mdb = impl->mdb;
    impl->unicode = mdb->f->jet_version != MDB_VER_JET3;

    // libmdb decodes the names of tables and columns itself, into the encoding an environment variable names
    // (UTF-8 without it) and, for Jet 3, from the code page MDB_JET3_CHARSET or the header names. Its converters
    // are replaced so the names follow exactly the rules the values follow, whatever the environment holds.
    std::string sourceCharset;
    if (impl->unicode) {
        sourceCharset = "UTF-16LE";
        impl->encoding = "Unicode (UTF-16, compressed where stored so)";
    } else {
        const auto chosen = text::chooseJet3Charset(jet3Charset, mdb->f->code_page, mdb->f->lang_id);
        impl->jet3 = std::make_unique<text::CodePageDecoder>(chosen.name);
        sourceCharset = chosen.name;
        impl->encoding = chosen.description;
        if (!jet3Charset && text::isSingleByteCharset(chosen.name))
            impl->gbk = std::make_unique<text::CodePageDecoder>("GBK");
    }
    mdb_iconv_close(mdb);
    mdb->iconv_in = iconv_open("UTF-8", sourceCharset.c_str());
    mdb->iconv_out = iconv_open(sourceCharset.c_str(), "UTF-8");
    if (mdb->iconv_in == reinterpret_cast<iconv_t>(-1) || mdb->iconv_out == reinterpret_cast<iconv_t>(-1))
        throw AccessError("iconv cannot convert between " + sourceCharset + " and UTF-8");

    impl->readCatalogue();
    return File(std::move(impl));
}

std::vector<LinkedTable> File::linkedTables() const
{
    return m_impl->linkedTables;
}

std::vector<std::string> File::warnings() const
{
    return m_impl->warnings;
}

std::string File::formatName() const
{
    return m_impl->format;
}

std::string File::textEncoding() const
{
    return m_impl->encoding;
}

std::vector<Table> File::tables() const
{
    std::vector<Table> tables;
    for (const auto& e : m_impl->userTables) {
        const TableDefPtr def = m_impl->readTable(e.get());
        tables.push_back({e->object_name, m_impl->describeAll(*def), static_cast<std::int64_t>(def->num_rows),
                          m_impl->primaryKey(*def)});
    }
    return tables;
}

void File::readRows(const std::string& tableName, const std::function<bool(const std::vector<Value>&)>& onRow) const
{
    Impl& impl = *m_impl;
    const TableDefPtr table = impl.readTable(impl.entry(tableName));
    const std::vector<Column> columns = impl.describeAll(*table);
    std::vector<Value> row(columns.size());
    const std::string label = quoted(impl.path) + ", table " + quoted(tableName);
    impl.forEachRow(*table, label, [&](const std::vector<MdbField>& fields, std::int64_t rowNumber) {
        for (const MdbField& field : fields) {
            const auto index = static_cast<std::size_t>(field.colnum);
            impl.lastAsGbk.reset();
            try {
                row[index] = impl.value(columns[index].kind,
                                        *static_cast<MdbColumn*>(g_ptr_array_index(table->columns, index)), field);
            } catch (const AccessError& e) {
                throw AccessError(label + ", row " + std::to_string(rowNumber) + ", column " +
                                  quoted(columns[index].name) + ": " + e.what());
            }
            if (impl.lastAsGbk && impl.doubted.emplace(tableName, columns[index].name).second)
                impl.warnings.push_back("table " + quoted(tableName) + ", column " + quoted(columns[index].name) +
                                        ", row " + std::to_string(rowNumber) + ": its text was read as " +
                                        impl.encoding + ", but reads as Chinese in GBK (" + quoted(*impl.lastAsGbk) +
                                        "); if the old system was Chinese, import again with --jet3-charset GBK");
        }
        return onRow(row);
    });
}

} // namespace velmora::access
