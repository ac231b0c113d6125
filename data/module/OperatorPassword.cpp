#include "data/module/OperatorPassword.h"

#include "data/Errors.h"
#include "data/dataset/Field.h"

#include <sodium.h>

#include <array>
#include <charconv>
#include <cstdint>

namespace velmora::data {

namespace {

void needSodium()
{
    if (sodium_init() < 0)
        throw DatabaseError("The password library could not start.");
}

// libsodium wants a NUL-terminated string of fewer than STRBYTES characters.
using HashText = std::array<char, crypto_pwhash_STRBYTES>;

bool toHashText(std::string_view stored, HashText& out)
{
    if (stored.size() >= out.size() || stored.find('\0') != std::string_view::npos)
        return false;
    out.fill('\0');
    stored.copy(out.data(), stored.size());
    return true;
}

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

// The costs a hash names ("$argon2id$v=19$m=<KiB>,t=<passes>,p=<lanes>$...") are at most the strongest that
// libsodium offers: a damaged row naming billions of passes would otherwise stall the sign-on for hours.
bool costsWithinReach(std::string_view hash)
{
    std::uint64_t version = 0, memoryKiB = 0, passes = 0, lanes = 0;
    return take(hash, "$argon2id$v=", version) && take(hash, "$m=", memoryKiB) && take(hash, ",t=", passes) &&
           take(hash, ",p=", lanes) && hash.starts_with('$') && memoryKiB <= crypto_pwhash_MEMLIMIT_SENSITIVE / 1024 &&
           passes <= crypto_pwhash_OPSLIMIT_SENSITIVE;
}

} // namespace

std::string hashOperatorPassword(std::string_view password)
{
    needSodium();
    const std::string trimmed = text::trimSpacesAndAsciiControls(password);
    HashText hash{};
    if (crypto_pwhash_str(hash.data(), trimmed.data(), trimmed.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw DatabaseError("Out of memory while hashing an operator password.");
    return std::string(hash.data());
}

bool isOperatorPasswordHash(std::string_view stored)
{
    needSodium();
    const std::string trimmed = text::trimSpacesAndAsciiControls(stored);
    HashText hash;
    if (!toHashText(trimmed, hash) || !costsWithinReach(trimmed))
        return false;
    // -1 means the string does not parse as a hash of the current algorithm;
    // 0 and 1 only tell whether its costs are today's.
    return crypto_pwhash_str_needs_rehash(hash.data(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != -1;
}

bool operatorPasswordMatches(std::string_view stored, std::string_view typed)
{
    const std::string storedText = text::trimSpacesAndAsciiControls(stored);
    const std::string typedText = text::trimSpacesAndAsciiControls(typed);
    if (!isOperatorPasswordHash(storedText))
        return storedText == typedText;
    HashText hash;
    toHashText(storedText, hash);
    return crypto_pwhash_str_verify(hash.data(), typedText.data(), typedText.size()) == 0;
}

} // namespace velmora::data
