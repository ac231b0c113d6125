#pragma once

#include <stdexcept>
#include <string>

namespace velmora::data {

// A failure of the database or of a dataset; the text is what the operator
// sees (UTF-8), for instance "tkc: Field '购进单价' not found".
class DatabaseError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A field value that cannot be read as the type asked for ("'abc' is not a
// valid integer value").
class ConversionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace velmora::data
