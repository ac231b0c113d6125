#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace velmora::data {

// The key an operator's rights word is stored under; bits 10 to 16 of (word XOR key) are the seven
// command groups.
constexpr std::uint64_t RightsKey = 0x6E3A51C7;
constexpr int RightsGroupCount = 7;
// A word at or below this is damaged: nobody signs on with it, whatever groups its bits would grant.
constexpr std::int64_t RightsThreshold = 1'000'000'000;

constexpr std::uint64_t rightsMask(std::int64_t word)
{
    return (static_cast<std::uint64_t>(word) ^ RightsKey) >> 10;
}

constexpr bool groupGranted(std::int64_t word, int group)
{
    return group >= 0 && group < RightsGroupCount && ((rightsMask(word) >> group) & 1u) != 0;
}

// A rights word above 1,000,000,000 that grants exactly the given groups (each 0..6, else
// std::invalid_argument).
std::int64_t rightsWordFor(const std::vector<int>& groups);
std::int64_t rightsWordFor(std::initializer_list<int> groups);

} // namespace velmora::data
