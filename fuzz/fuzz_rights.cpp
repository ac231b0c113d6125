// The rights word: any word decodes to groups 0 to 6 that rightsWordFor encodes
// back, and rightsWordFor gives a word above the login threshold that decodes
// to exactly the groups asked for.
#include "data/module/Rights.h"
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
    // Any word grants only groups 0 to 6, and the word rightsWordFor makes for exactly the groups it grants
    // grants those again: decoding and encoding agree.
    std::vector<int> granted;
    for (int group = -3; group < RightsGroupCount + 3; ++group) {
        if (!groupGranted(word, group))
            continue;
        FUZZ_CHECK(group >= 0 && group < RightsGroupCount);
        granted.push_back(group);
    }
    const std::int64_t again = rightsWordFor(granted);
    for (int group = 0; group < RightsGroupCount; ++group)
        FUZZ_CHECK(groupGranted(again, group) == groupGranted(word, group));

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
