// The connection-string parser over any text, and quoteValue followed by
// parse giving back every value unchanged.
#include "data/Errors.h"
#include "data/provider/ConnectionString.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace velmora::data;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    try {
        const ConnectionString parsed = ConnectionString::parse(text);
        for (const auto& [key, value] : parsed.properties()) {
            FUZZ_CHECK(!key.empty());
            FUZZ_CHECK(parsed.value(key).has_value());
        }
        // Written back with quoteValue, every key reads back as it did.
        std::string rewritten;
        for (const auto& [key, value] : parsed.properties()) {
            if (key.find('=') != std::string::npos || key.find(';') != std::string::npos)
                continue;
            rewritten += key + "=" + quoteValue(value) + ";";
        }
        const ConnectionString again = ConnectionString::parse(rewritten);
        for (const auto& [key, value] : again.properties()) {
            FUZZ_CHECK(again.value(key) == parsed.value(key));
        }
    } catch (const DatabaseError&) {
        // Malformed text is refused with a message: that is the contract.
    }

    // Round trip: the input split in two values at a point its first byte picks.
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    const std::string first(text.substr(0, cut));
    const std::string second(text.substr(cut));
    const std::string built = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + quoteValue(first) +
                              ";Jet OLEDB:Database Password=" + quoteValue(second) + ";User ID=admin";
    const ConnectionString parsed = ConnectionString::parse(built); // must not throw
    FUZZ_CHECK(parsed.value("Data Source") == first);
    FUZZ_CHECK(parsed.value("jet oledb:database password") == second);
    FUZZ_CHECK(parsed.value("User ID") == std::string("admin"));
    FUZZ_CHECK(parsed.properties().size() == 4);
    return 0;
}
