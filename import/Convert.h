#pragma once

#include "access/AccessFile.h"
#include "data/Value.h"
#include "import/TargetType.h"

#include <stdexcept>
#include <string>

// Every Access value on its way into a target column: the one place where values change form. Currency and
// Decimal travel as exact decimals (data::Decimal), which the server's numeric takes as they are and a
// database file keeps as REALs exact to 15 significant digits.
namespace velmora::transfer {

// Why a value cannot go into its column; the import adds the table, the row and the column.
class ValueRefused : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The most significant digits a database file keeps of a decimal exactly: a REAL (a double) holds any decimal
// of 15 digits so that, read back and rounded to its scale, it is the same decimal again.
inline constexpr int FileDecimalDigits = 15;

// The value as the backend writes it into a column of the target type. `from` is the kind of the Access column
// the value was read from. Throws ValueRefused for a value the column cannot hold as it is (text longer than
// the column, a number out of its range or with more digits than it keeps, a kind that means nothing there);
// nothing is ever cut short or rounded beyond the column's own scale.
data::Value convertValue(const access::Value& value, access::Kind from, const TargetType& to, Engine engine);

// The value as a message shows it: text in quotes, numbers and dates as written.
std::string displayValue(const access::Value& value);

} // namespace velmora::transfer
