// The rights word: decoding any word, and rightsWordFor giving a word above
// the login threshold that decodes to exactly the groups asked for.
#include "data/Rights.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

using namespace velmora::data;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::int64_t word = 0;
    std::memcpy(&word, data, size < sizeof word ? size : sizeof word);
    const std::uint64_t mask = rightsMask(word);
    for (int group = -3; group < RightsGroupCount + 3; ++group) {
        const bool inRange = group >= 0 && group < RightsGroupCount;
        FUZZ_CHECK(groupGranted(word, group) == (inRange && ((mask >> group) & 1u)));
    }

    // The bytes after the word: groups, possibly repeated or out of range.
    std::vector<int> groups;
    bool valid = true;
    unsigned wanted = 0;
    for (std::size_t i = sizeof word; i < size && groups.size() < 32; ++i) {
        const int group = static_cast<int>(static_cast<std::int8_t>(data[i])) % 10;
        groups.push_back(group);
        if (group < 0 || group >= RightsGroupCount)
            valid = false;
        else
            wanted |= 1u << group;
    }
    try {
        const std::int64_t made = rightsWordFor(groups);
        FUZZ_CHECK(valid);
        FUZZ_CHECK(made > 1'000'000'000);
        for (int group = 0; group < RightsGroupCount; ++group)
            FUZZ_CHECK(groupGranted(made, group) == (((wanted >> group) & 1u) != 0));
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(!valid);
    }
    return 0;
}
