// The schema dialect's type parser over any declaration: never throws, gives
// sane sizes, ignores ASCII letter case, and columnType agrees with it.
#include "data/Errors.h"
#include "data/engines/SchemaDialect.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace velmora::data;

namespace {

bool sameInfo(const TypeInfo& a, const TypeInfo& b)
{
    return a.type == b.type && a.definedSize == b.definedSize && a.precision == b.precision && a.scale == b.scale &&
           a.fixedLength == b.fixedLength;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string declared(reinterpret_cast<const char*>(data), size);
    const std::optional<TypeInfo> info = parseDeclaredType(declared);
    if (info) {
        FUZZ_CHECK(info->type != AdoType::adEmpty);
        FUZZ_CHECK(info->definedSize >= 0 && info->precision >= 0 && info->scale >= 0);
    }

    std::string upper = declared;
    std::string lower = declared;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    for (const std::string& variant : {upper, lower}) {
        const std::optional<TypeInfo> other = parseDeclaredType(variant);
        FUZZ_CHECK(other.has_value() == info.has_value());
        if (info)
            FUZZ_CHECK(sameInfo(*info, *other));
        FUZZ_CHECK(isRowidAliasType(variant) == isRowidAliasType(declared));
    }

    try {
        const TypeInfo typed = columnType("t", "c", declared);
        FUZZ_CHECK(info.has_value() && sameInfo(typed, *info));
    } catch (const DatabaseError&) {
        FUZZ_CHECK(!info.has_value());
    }
    return 0;
}
