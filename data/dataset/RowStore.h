#pragma once

#include "data/Value.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::data {

// The rows of a result, packed: each cell is a type byte followed by its payload (a variable-length integer,
// eight bytes of double, a length and the text, or a decimal's scale and variable-length units). A table of a few
// thousand rows then costs little more than its values' bytes, without one allocation per row or per cell.
//
// The bytes live in blocks that are never moved (the first ones small, then 1 MiB each; a row never straddles
// two, and a row wider than half a block has one of its own), and the rows' starts in chunks that are never
// moved either: appending a row costs that row, whatever the store already holds, and filling a store never
// copies what it holds.
class RowStore
{
public:
    RowStore() = default;
    RowStore(const RowStore&) = delete;
    RowStore& operator=(const RowStore&) = delete;

    void reset(int columnCount);
    int columnCount() const { return m_columns; }
    int rowCount() const { return m_rows; }

    void appendRow(std::span<const Value> cells);
    void appendRow(std::span<const CellView> cells);
    // Re-encodes a row at the end of the store; the old bytes stay unused.
    void replaceRow(int row, std::span<const Value> cells);

    CellView cell(int row, int column) const;
    Value value(int row, int column) const { return cell(row, column).toValue(); }
    std::vector<Value> row(int row) const;

    std::size_t bytesUsed() const;

private:
    struct RowStart
    {
        std::uint32_t block;
        std::uint32_t offset;
    };
    struct Block
    {
        std::unique_ptr<char[]> bytes;
        std::size_t size;
    };

    RowStart encode(std::span<const CellView> cells);
    RowStart& start(int row);
    const RowStart& start(int row) const { return const_cast<RowStore*>(this)->start(row); }
    const char* rowBytes(int row) const;

    int m_columns = 0;
    int m_rows = 0;
    std::vector<Block> m_blocks;
    int m_filling = -1;     // the block rows are added to (wider rows get blocks of their own)
    std::size_t m_used = 0; // bytes filled in it
    std::vector<std::unique_ptr<RowStart[]>> m_starts;
    RowStart* m_nextStart = nullptr; // the next free place in the last chunk
    RowStart* m_startsEnd = nullptr;
};

} // namespace velmora::data
