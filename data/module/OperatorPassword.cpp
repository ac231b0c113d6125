#include "data/module/OperatorPassword.h"

#include "data/Errors.h"
#include "data/dataset/Field.h"
#include "data/engines/PasswordHash.h"

#include <sodium.h>

#include <array>
#include <optional>

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

// Only Argon2id is ours, with costs no higher than the strongest preset.
bool costsWithinReach(std::string_view hash)
{
    const std::optional<Argon2Costs> costs = argon2Costs(hash);
    return hash.starts_with("$argon2id$") && costs && argon2CostsWithinReach(*costs);
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
    if (!isOperatorPasswordHash(storedText)) {
        // Text meant as a hash that cannot be verified (cut short, damaged, too costly) is no password at all:
        // compared as plain text, a hash cut before its salt would be one anybody could read and type.
        return !storedText.starts_with(Argon2Tag) && storedText == typedText;
    }
    HashText hash;
    toHashText(storedText, hash);
    return crypto_pwhash_str_verify(hash.data(), typedText.data(), typedText.size()) == 0;
}

} // namespace velmora::data
