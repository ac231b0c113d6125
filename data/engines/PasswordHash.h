#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmora::data {

// What the operators' passwords and the database's password verifier share: libsodium's string form of an
// Argon2 hash ("$argon2id$v=19$m=<KiB>,t=<passes>,p=<lanes>$<salt>$<hash>") and the limit on the costs it may
// name.

// Every text that begins so is meant as a hash (libsodium writes "$argon2id$" and "$argon2i$").
inline constexpr std::string_view Argon2Tag = "$argon2";

struct Argon2Costs
{
    std::uint64_t memoryKiB = 0;
    std::uint64_t passes = 0;
    std::uint64_t lanes = 0;
};

// The costs the hash's parameters name, read from its "$argon2id$" or "$argon2i$" head; nothing when the head
// does not read as one.
std::optional<Argon2Costs> argon2Costs(std::string_view hash);

// At most libsodium's strongest preset (1 GiB, 4 passes): a verification then takes seconds at worst, where a
// damaged or edited hash naming billions of passes would hash for hours.
bool argon2CostsWithinReach(const Argon2Costs& costs);

} // namespace velmora::data
