#pragma once

#include "data/ColumnKinds.h"
#include "data/Text.h"
#include "data/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::data {

class Dataset;

struct DateTime
{
    int year, month, day, hour = 0, minute = 0, second = 0;

    static DateTime nowLocal();
    // "YYYY-MM-DD", with " HH:MM[:SS]" (or "T" before the time) after it, blanks around allowed.
    static std::optional<DateTime> parse(std::string_view text);
    std::string toString() const; // "YYYY-MM-DD HH:MM:SS"
};

// One field of a dataset: a view onto a column of the dataset's current row,
// or a lookup into another dataset.
class Field
{
public:
    const std::string& fieldName() const { return m_name; }
    FieldKind kind() const { return m_kind; }
    int size() const { return m_size; } // text: characters; BCD: scale
    int precision() const { return m_precision; }
    bool isLookup() const { return m_lookup; }
    bool readOnly() const { return m_readOnly; }
    bool required() const { return m_required; }
    const std::string& displayLabel() const; // the label, or the field name when none
    Dataset& dataset() const { return *m_dataset; }

    bool isNull() const;
    Value value() const;
    std::string asString() const;    // null -> ""; a whole double 12.0 -> "12"
    std::int64_t asLargeInt() const; // ConversionError for null, empty or non-numeric; halves round to even
    double asFloat() const;          // ConversionError for null, empty or non-numeric

    void setAsString(const std::string& text);
    void setAsLargeInt(std::int64_t number); // into a text field: its decimal text
    void setAsFloat(double number);
    void setAsDateTime(const DateTime& moment);
    void setValue(const Value& value);
    void clear();

    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;

private:
    friend class Dataset;

    Field() = default;
    void store(Value value);
    void storeDecimal(const Value& value);
    // The digits a BCD value may have: the declared precision, or the column's where that is smaller or the
    // field declares none.
    int bcdPrecision() const;

    Dataset* m_dataset = nullptr;
    std::string m_name;
    std::string m_label;
    FieldKind m_kind = FieldKind::String;
    int m_size = 0;
    int m_precision = 0;
    bool m_readOnly = false;
    bool m_required = false;
    bool m_lookup = false;
    int m_column = -1; // index in the result; -1 for a lookup

    // Lookup: the row of m_lookupDataset whose m_lookupKey equals this row's m_keyField.
    std::string m_keyField;
    std::string m_lookupDatasetName;
    std::string m_lookupKey;
    std::string m_resultField;
    Dataset* m_lookupDataset = nullptr;
};

// A cell as Field::asLargeInt reads it (the login reads an operator's rights word so): integers as they are,
// a fraction rounded to the nearest whole number (halves to even), text that holds a number likewise;
// ConversionError for null, empty or non-numeric values.
std::int64_t valueAsLargeInt(const Value& value);

} // namespace velmora::data
