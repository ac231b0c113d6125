#pragma once

#include "data/Value.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::data {

// A read-only look at one stored cell; text points into the store.
struct CellView
{
    enum class Type : std::uint8_t { Null, Integer, Double, Text, False, True };
    Type type = Type::Null;
    std::int64_t integer = 0;
    double number = 0;
    std::string_view text;

    Value toValue() const;
};

// The rows of a result, packed into one byte buffer: each cell is a type byte followed by its payload
// (a variable-length integer, eight bytes of double, or a length and the text). A table of a few thousand
// rows then costs little more than its values' bytes, without one allocation per row or per cell.
class RowStore
{
public:
    void reset(int columnCount);
    int columnCount() const { return m_columns; }
    int rowCount() const { return static_cast<int>(m_rowStart.size()); }

    void appendRow(std::span<const Value> cells);
    // Gives back the spare capacity once the rows are read.
    void compact()
    {
        m_bytes.shrink_to_fit();
        m_rowStart.shrink_to_fit();
    }
    // Re-encodes a row at the end of the buffer; the old bytes stay unused.
    void replaceRow(int row, std::span<const Value> cells);

    CellView cell(int row, int column) const;
    Value value(int row, int column) const { return cell(row, column).toValue(); }
    std::vector<Value> row(int row) const;

    std::size_t bytesUsed() const { return m_bytes.capacity() + m_rowStart.capacity() * sizeof(std::uint64_t); }

private:
    std::size_t encode(std::span<const Value> cells);

    int m_columns = 0;
    std::string m_bytes;
    std::vector<std::uint64_t> m_rowStart;
};

} // namespace velmora::data
