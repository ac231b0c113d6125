#include "data/engines/PasswordHash.h"

#include <sodium.h>

#include <charconv>

namespace velmora::data {

namespace {

// Takes `prefix` and then a number off the front of text.
bool take(std::string_view& text, std::string_view prefix, std::uint64_t& number)
{
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc())
        return false;
    text.remove_prefix(std::size_t(end - text.data()));
    return true;
}

} // namespace

std::optional<Argon2Costs> argon2Costs(std::string_view hash)
{
    if (hash.starts_with("$argon2id$"))
        hash.remove_prefix(std::string_view("$argon2id").size());
    else if (hash.starts_with("$argon2i$"))
        hash.remove_prefix(std::string_view("$argon2i").size());
    else
        return std::nullopt;
    std::uint64_t version = 0;
    Argon2Costs costs;
    if (take(hash, "$v=", version) && take(hash, "$m=", costs.memoryKiB) && take(hash, ",t=", costs.passes) &&
        take(hash, ",p=", costs.lanes) && hash.starts_with('$'))
        return costs;
    return std::nullopt;
}

bool argon2CostsWithinReach(const Argon2Costs& costs)
{
    return costs.memoryKiB <= crypto_pwhash_MEMLIMIT_SENSITIVE / 1024 &&
           costs.passes <= crypto_pwhash_OPSLIMIT_SENSITIVE;
}

} // namespace velmora::data
