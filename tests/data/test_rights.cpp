#include "data/module/Rights.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using namespace velmora::data;

namespace {

struct WordCase
{
    std::int64_t word;
    std::vector<int> granted;
};

// Words and the groups they grant, worked out by hand from the key 0x6E3A51C7 (its bits 10..16 are 0010100).
const WordCase wordCases[] = {
    {0x6E3A51C7, {}},              // the key itself grants nothing
    {0x6E3A51C7 ^ (1 << 10), {0}}, // one bit flipped from the key
    {0x6E3A51C7 ^ (0x7F << 10), {0, 1, 2, 3, 4, 5, 6}},
    {1849315783 + 5 * 1024, {0, 2, 3}},         // an addition carries across the key's bits
    {0x6E3A51C7 | (std::int64_t{1} << 40), {}}, // bits above 16 take no part
    {0x6E3A51C7 ^ 0x3FF, {}},                   // neither do bits 0..9
    {1000000001, {1, 2, 5}},
    {1073741824, {2, 4}},
    {2000000000, {0, 4, 5, 6}},
    {-1, {0, 1, 3, 5, 6}}, // the shift is unsigned: the upper bits never reach the groups
};

TEST(RightsTest, DecodesWordsIntoGroups)
{
    for (const WordCase& c : wordCases) {
        std::vector<int> granted;
        for (int g = 0; g < 7; ++g)
            if (groupGranted(c.word, g))
                granted.push_back(g);
        EXPECT_EQ(granted, c.granted) << "word " << c.word;
    }
}

TEST(RightsTest, MaskIsTheUnsignedShiftOfTheXor)
{
    EXPECT_EQ(rightsMask(0x6E3A51C7), 0u);
    EXPECT_EQ(rightsMask(-1), (~std::uint64_t{0x6E3A51C7}) >> 10);
    EXPECT_FALSE(groupGranted(0x6E3A51C7 ^ (0x7F << 10), 7));
    EXPECT_FALSE(groupGranted(0x6E3A51C7 ^ (0x7F << 10), -1));
}

TEST(RightsTest, WordForEverySetOfGroupsGrantsExactlyThoseAndPassesTheThreshold)
{
    for (unsigned set = 0; set < 128; ++set) {
        std::vector<int> groups;
        for (int g = 0; g < 7; ++g)
            if (set & (1u << g))
                groups.push_back(g);
        const std::int64_t word = rightsWordFor(groups);
        EXPECT_GT(word, 1'000'000'000) << "set " << set;
        for (int g = 0; g < 7; ++g)
            EXPECT_EQ(groupGranted(word, g), (set & (1u << g)) != 0) << "set " << set << " group " << g;
    }
}

TEST(RightsTest, WordForRefusesGroupsOutsideTheSeven)
{
    EXPECT_THROW(rightsWordFor({7}), std::invalid_argument);
    EXPECT_THROW(rightsWordFor({0, -1}), std::invalid_argument);
    EXPECT_EQ(rightsWordFor({1, 1}), rightsWordFor({1}));
}

} // namespace
