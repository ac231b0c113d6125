#pragma once

#include <cstdint>
#include <optional>

struct sqlite3;

namespace velmora::data {

// A REAL the file holds, as the decimal it stands for: the nearest number of at most ExactTotalScale decimals,
// when the REAL lies within binary noise of it. Noise is what storing a decimal as a double, or the engine's
// own subtraction of two of them, leaves: at most two units in the last place of the REAL, or a ten-thousandth
// of the decimal's last digit and a millionth of the value, whichever is less. Nothing for a REAL that is no
// such decimal (1/3, 1e-12, an infinity).
struct NearDecimal
{
    std::int64_t units = 0; // of 10^-scale
    int scale = 0;
};
inline constexpr int ExactTotalScale = 8;
std::optional<NearDecimal> nearDecimal(double value);

// Replaces the engine's sum, total and avg (as aggregates and as window functions) on this connection with
// ones that add exact decimals exactly: integers, and REALs that nearDecimal reads as decimals, so a column of
// money totals to the server's figure (100,000 × 19.99 is 1999000, not 1998999.99999914). They return what the
// engine's return, a number any SQLite reader takes: sum an INTEGER when every value was one, else a REAL (the
// double nearest to the exact total), total a REAL, avg a REAL (the double nearest to the exact mean), NULL
// where the engine gives NULL. A value that is no such decimal (text that is no number, a binary fraction)
// makes the whole aggregate the engine's own binary one again. False when SQLite could not take them.
bool installExactAggregates(sqlite3* db);

} // namespace velmora::data
