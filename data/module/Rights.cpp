#include "data/module/Rights.h"

#include <stdexcept>
#include <string>

namespace velmora::data {

namespace {
// Bit 30 keeps every word above the login's threshold of 1,000,000,000 whatever the groups.
constexpr std::uint64_t wordBase = std::uint64_t{1} << 30;
} // namespace

std::int64_t rightsWordFor(const std::vector<int>& groups)
{
    std::uint64_t wanted = 0;
    for (int group : groups) {
        if (group < 0 || group >= RightsGroupCount)
            throw std::invalid_argument("rights group " + std::to_string(group) + " is not between 0 and 6");
        wanted |= std::uint64_t{1} << group;
    }
    const std::uint64_t keyGroups = (RightsKey >> 10) & 0x7F;
    return static_cast<std::int64_t>(wordBase | ((wanted ^ keyGroups) << 10));
}

std::int64_t rightsWordFor(std::initializer_list<int> groups)
{
    return rightsWordFor(std::vector<int>(groups));
}

} // namespace velmora::data
