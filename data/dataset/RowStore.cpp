#include "data/dataset/RowStore.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include <sys/mman.h>
#include <unistd.h>

namespace velmora::data {

namespace {

using Type = CellView::Type;

// Block sizes: doubling from a page, so a small table stays small, up to this.
constexpr std::size_t FirstBlockBytes = 4096;
constexpr std::size_t BlockBytes = std::size_t{1} << 20;

// Row-start chunks: chunk k holds FirstChunkRows << k rows up to ChunkRows, then ChunkRows each.
constexpr int FirstChunkRows = 256;
constexpr int DoublingChunks = 8;
constexpr int ChunkRows = FirstChunkRows << DoublingChunks; // 65,536 rows, 512 KiB
constexpr int DoublingRows = FirstChunkRows * ((1 << DoublingChunks) - 1);

int chunkRows(std::size_t chunk)
{
    return chunk < DoublingChunks ? FirstChunkRows << chunk : ChunkRows;
}

// Rows the first `chunks` chunks hold.
std::size_t rowsHeld(std::size_t chunks)
{
    if (chunks <= DoublingChunks)
        return static_cast<std::size_t>(FirstChunkRows) * ((std::size_t{1} << chunks) - 1);
    return DoublingRows + (chunks - DoublingChunks) * static_cast<std::size_t>(ChunkRows);
}

// A block is about to be written from end to end: its pages are mapped in one call, much cheaper than a page
// fault for each as the rows arrive (a large part of reading a big table). Only whole pages inside the block;
// where the system cannot, the pages simply come one fault at a time.
std::unique_ptr<char[]> newBlock(std::size_t size)
{
    auto bytes = std::make_unique_for_overwrite<char[]>(size);
#ifdef MADV_POPULATE_WRITE
    if (size >= BlockBytes / 4) {
        static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        const auto start = reinterpret_cast<std::uintptr_t>(bytes.get());
        const std::uintptr_t first = (start + page - 1) & ~(page - 1);
        const std::uintptr_t last = (start + size) & ~(page - 1);
        if (last > first)
            madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
    }
#endif
    return bytes;
}

std::size_t varintBytes(std::uint64_t n)
{
    return (static_cast<std::size_t>(std::bit_width(n | 1)) + 6) / 7;
}

char* putVarint(char* out, std::uint64_t n)
{
    while (n >= 0x80) {
        *out++ = static_cast<char>((n & 0x7F) | 0x80);
        n >>= 7;
    }
    *out++ = static_cast<char>(n);
    return out;
}

std::uint64_t getVarint(const char*& p)
{
    std::uint64_t n = 0;
    int shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*p++);
        n |= std::uint64_t{byte & 0x7Fu} << shift;
        if (!(byte & 0x80))
            return n;
        shift += 7;
    }
}

std::uint64_t zigzag(std::int64_t n)
{
    return (static_cast<std::uint64_t>(n) << 1) ^ static_cast<std::uint64_t>(n >> 63);
}

std::int64_t unzigzag(std::uint64_t n)
{
    return static_cast<std::int64_t>(n >> 1) ^ -static_cast<std::int64_t>(n & 1);
}

// A decimal: its scale in one byte, then its units zigzagged in as many 7-bit groups as they need (three bytes
// for a price of ten-thousandths below 200).
using Wide = unsigned __int128;

std::size_t varintBytes(Wide n)
{
    std::size_t bytes = 1;
    for (n >>= 7; n != 0; n >>= 7)
        ++bytes;
    return bytes;
}

char* putVarint(char* out, Wide n)
{
    while (n >= 0x80) {
        *out++ = static_cast<char>((n & 0x7F) | 0x80);
        n >>= 7;
    }
    *out++ = static_cast<char>(n);
    return out;
}

Wide getWideVarint(const char*& p)
{
    Wide n = 0;
    int shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*p++);
        n |= static_cast<Wide>(byte & 0x7Fu) << shift;
        if (!(byte & 0x80))
            return n;
        shift += 7;
    }
}

Wide zigzag(__int128 n)
{
    return (static_cast<Wide>(n) << 1) ^ static_cast<Wide>(n >> 127);
}

__int128 unzigzag(Wide n)
{
    return static_cast<__int128>(n >> 1) ^ -static_cast<__int128>(n & 1);
}

// Type byte, scale byte, at most 19 bytes of units.
constexpr std::size_t MostDecimalBytes = 21;

// Reads the cell at p and leaves p after it.
CellView readCell(const char*& p)
{
    CellView cell;
    cell.type = static_cast<Type>(*p++);
    switch (cell.type) {
    case Type::Integer:
        cell.integer = unzigzag(getVarint(p));
        break;
    case Type::Double:
        std::memcpy(&cell.number, p, sizeof(double));
        p += sizeof(double);
        break;
    case Type::Text: {
        const auto length = static_cast<std::size_t>(getVarint(p));
        cell.text = std::string_view(p, length);
        p += length;
        break;
    }
    case Type::Decimal: {
        const int scale = static_cast<unsigned char>(*p++);
        cell.decimal = *Decimal::fromUnits(unzigzag(getWideVarint(p)), scale);
        break;
    }
    default:
        break;
    }
    return cell;
}

std::size_t encodedBytes(const CellView& cell)
{
    switch (cell.type) {
    case Type::Integer:
        return 1 + varintBytes(zigzag(cell.integer));
    case Type::Double:
        return 1 + sizeof(double);
    case Type::Text:
        return 1 + varintBytes(cell.text.size()) + cell.text.size();
    case Type::Decimal:
        return 2 + varintBytes(zigzag(cell.decimal.units()));
    default:
        return 1;
    }
}

char* putCell(char* out, const CellView& cell)
{
    *out++ = static_cast<char>(cell.type);
    switch (cell.type) {
    case Type::Integer:
        return putVarint(out, zigzag(cell.integer));
    case Type::Double:
        std::memcpy(out, &cell.number, sizeof(double));
        return out + sizeof(double);
    case Type::Text:
        out = putVarint(out, cell.text.size());
        if (!cell.text.empty())
            std::memcpy(out, cell.text.data(), cell.text.size());
        return out + cell.text.size();
    case Type::Decimal:
        *out++ = static_cast<char>(cell.decimal.scale());
        return putVarint(out, zigzag(cell.decimal.units()));
    default:
        return out;
    }
}

} // namespace

void RowStore::reset(int columnCount)
{
    m_columns = columnCount;
    m_rows = 0;
    m_blocks = std::vector<Block>();
    m_filling = -1;
    m_used = 0;
    m_starts = std::vector<std::unique_ptr<RowStart[]>>();
    m_nextStart = m_startsEnd = nullptr;
}

RowStore::RowStart& RowStore::start(int row)
{
    if (row < 0 || row >= m_rows)
        throw std::out_of_range("row index out of range");
    std::size_t chunk;
    std::size_t offset;
    if (row < DoublingRows) {
        chunk = static_cast<std::size_t>(std::bit_width(static_cast<unsigned>(row / FirstChunkRows + 1))) - 1;
        offset = static_cast<std::size_t>(row - FirstChunkRows * ((1 << chunk) - 1));
    } else {
        chunk = DoublingChunks + static_cast<std::size_t>((row - DoublingRows) / ChunkRows);
        offset = static_cast<std::size_t>((row - DoublingRows) % ChunkRows);
    }
    return m_starts[chunk][offset];
}

RowStore::RowStart RowStore::encode(std::span<const CellView> cells)
{
    if (static_cast<int>(cells.size()) != m_columns)
        throw std::logic_error("row width differs from the result's");
    // Nearly every row fits in what is left of the block being filled: written there in one pass, with room
    // checked cell by cell against the most a cell can take.
    if (m_filling >= 0) {
        const Block& block = m_blocks[static_cast<std::size_t>(m_filling)];
        char* const begin = block.bytes.get() + m_used;
        char* const end = block.bytes.get() + block.size;
        char* out = begin;
        bool fits = true;
        for (const CellView& cell : cells) {
            const std::size_t most = cell.type == Type::Text      ? 11 + cell.text.size()
                                     : cell.type == Type::Decimal ? MostDecimalBytes
                                                                  : 11;
            if (static_cast<std::size_t>(end - out) < most) {
                fits = false;
                break;
            }
            out = putCell(out, cell);
        }
        if (fits) {
            const RowStart where{static_cast<std::uint32_t>(m_filling), static_cast<std::uint32_t>(m_used)};
            m_used += static_cast<std::size_t>(out - begin);
            return where;
        }
    }

    std::size_t bytes = 0;
    for (const CellView& cell : cells)
        bytes += encodedBytes(cell);
    char* out;
    RowStart where;
    if (bytes > BlockBytes / 2) {
        // A row this wide gets a block of its own; the block being filled stays open for the next rows.
        m_blocks.push_back({newBlock(bytes), bytes});
        where = {static_cast<std::uint32_t>(m_blocks.size() - 1), 0};
        out = m_blocks.back().bytes.get();
    } else {
        if (m_filling < 0 || m_blocks[static_cast<std::size_t>(m_filling)].size - m_used < bytes) {
            const std::size_t size = m_filling < 0
                                         ? FirstBlockBytes
                                         : std::min(m_blocks[static_cast<std::size_t>(m_filling)].size * 2, BlockBytes);
            m_blocks.push_back({newBlock(size), size});
            m_filling = static_cast<int>(m_blocks.size() - 1);
            m_used = 0;
        }
        where = {static_cast<std::uint32_t>(m_filling), static_cast<std::uint32_t>(m_used)};
        out = m_blocks[static_cast<std::size_t>(m_filling)].bytes.get() + m_used;
        m_used += bytes;
    }
    for (const CellView& cell : cells)
        out = putCell(out, cell);
    return where;
}

void RowStore::appendRow(std::span<const CellView> cells)
{
    const RowStart where = encode(cells);
    if (m_nextStart == m_startsEnd) {
        const auto rows = static_cast<std::size_t>(chunkRows(m_starts.size()));
        m_starts.push_back(std::make_unique_for_overwrite<RowStart[]>(rows));
        m_nextStart = m_starts.back().get();
        m_startsEnd = m_nextStart + rows;
    }
    *m_nextStart++ = where;
    ++m_rows;
}

void RowStore::appendRow(std::span<const Value> cells)
{
    std::vector<CellView> views;
    views.reserve(cells.size());
    for (const Value& value : cells)
        views.push_back(CellView::of(value));
    appendRow(views);
}

void RowStore::replaceRow(int row, std::span<const Value> cells)
{
    RowStart& where = start(row);
    std::vector<CellView> views;
    views.reserve(cells.size());
    for (const Value& value : cells)
        views.push_back(CellView::of(value));
    where = encode(views);
}

const char* RowStore::rowBytes(int row) const
{
    const RowStart& where = start(row);
    return m_blocks[where.block].bytes.get() + where.offset;
}

CellView RowStore::cell(int row, int column) const
{
    if (column < 0 || column >= m_columns)
        throw std::out_of_range("column index out of range");
    const char* p = rowBytes(row);
    for (int c = 0; c < column; ++c)
        readCell(p);
    return readCell(p);
}

std::vector<Value> RowStore::row(int row) const
{
    std::vector<Value> cells;
    cells.reserve(static_cast<std::size_t>(m_columns));
    const char* p = rowBytes(row);
    for (int c = 0; c < m_columns; ++c)
        cells.push_back(readCell(p).toValue());
    return cells;
}

std::size_t RowStore::bytesUsed() const
{
    std::size_t bytes = m_blocks.capacity() * sizeof(Block) + m_starts.capacity() * sizeof(m_starts[0]);
    for (const Block& block : m_blocks)
        bytes += block.size;
    return bytes + rowsHeld(m_starts.size()) * sizeof(RowStart);
}

} // namespace velmora::data
