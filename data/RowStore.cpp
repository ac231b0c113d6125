#include "data/RowStore.h"

#include <cstring>
#include <stdexcept>

namespace velmora::data {

namespace {

void putVarint(std::string& out, std::uint64_t n)
{
    while (n >= 0x80) {
        out += static_cast<char>((n & 0x7F) | 0x80);
        n >>= 7;
    }
    out += static_cast<char>(n);
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

using Type = CellView::Type;

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
    default:
        break;
    }
    return cell;
}

} // namespace

Value CellView::toValue() const
{
    switch (type) {
    case Type::Null:
        return {};
    case Type::Integer:
        return integer;
    case Type::Double:
        return number;
    case Type::Text:
        return std::string(text);
    case Type::False:
        return false;
    case Type::True:
        return true;
    }
    return {};
}

void RowStore::reset(int columnCount)
{
    m_columns = columnCount;
    m_bytes.clear();
    m_bytes.shrink_to_fit();
    m_rowStart.clear();
    m_rowStart.shrink_to_fit();
}

std::size_t RowStore::encode(std::span<const Value> cells)
{
    if (static_cast<int>(cells.size()) != m_columns)
        throw std::logic_error("row width differs from the result's");
    const std::size_t start = m_bytes.size();
    for (const Value& v : cells) {
        if (const auto* i = std::get_if<std::int64_t>(&v)) {
            m_bytes += static_cast<char>(Type::Integer);
            putVarint(m_bytes, zigzag(*i));
        } else if (const auto* d = std::get_if<double>(&v)) {
            m_bytes += static_cast<char>(Type::Double);
            char raw[sizeof(double)];
            std::memcpy(raw, d, sizeof(double));
            m_bytes.append(raw, sizeof(double));
        } else if (const auto* s = std::get_if<std::string>(&v)) {
            m_bytes += static_cast<char>(Type::Text);
            putVarint(m_bytes, s->size());
            m_bytes += *s;
        } else if (const auto* b = std::get_if<bool>(&v)) {
            m_bytes += static_cast<char>(*b ? Type::True : Type::False);
        } else {
            m_bytes += static_cast<char>(Type::Null);
        }
    }
    return start;
}

void RowStore::appendRow(std::span<const Value> cells)
{
    m_rowStart.push_back(encode(cells));
}

void RowStore::replaceRow(int row, std::span<const Value> cells)
{
    m_rowStart.at(static_cast<std::size_t>(row)) = encode(cells);
}

CellView RowStore::cell(int row, int column) const
{
    if (column < 0 || column >= m_columns)
        throw std::out_of_range("column index out of range");
    const char* p = m_bytes.data() + m_rowStart.at(static_cast<std::size_t>(row));
    for (int c = 0; c < column; ++c)
        readCell(p);
    return readCell(p);
}

std::vector<Value> RowStore::row(int row) const
{
    std::vector<Value> cells;
    cells.reserve(static_cast<std::size_t>(m_columns));
    const char* p = m_bytes.data() + m_rowStart.at(static_cast<std::size_t>(row));
    for (int c = 0; c < m_columns; ++c)
        cells.push_back(readCell(p).toValue());
    return cells;
}

} // namespace velmora::data
