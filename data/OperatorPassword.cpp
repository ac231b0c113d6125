#include "data/OperatorPassword.h"

#include "data/Errors.h"
#include "data/Field.h"

#include <sodium.h>

#include <array>

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

} // namespace

std::string hashOperatorPassword(std::string_view password)
{
    needSodium();
    const std::string trimmed = text::trim(password);
    HashText hash{};
    if (crypto_pwhash_str(hash.data(), trimmed.data(), trimmed.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw DatabaseError("Out of memory while hashing an operator password.");
    return std::string(hash.data());
}

bool isOperatorPasswordHash(std::string_view stored)
{
    needSodium();
    const std::string trimmed = text::trim(stored);
    HashText hash;
    if (!toHashText(trimmed, hash) || trimmed.rfind("$argon2id$", 0) != 0)
        return false;
    // -1 means the string does not parse as a hash of the current algorithm;
    // 0 and 1 only tell whether its costs are today's.
    return crypto_pwhash_str_needs_rehash(hash.data(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != -1;
}

bool operatorPasswordMatches(std::string_view stored, std::string_view typed)
{
    const std::string storedText = text::trim(stored);
    const std::string typedText = text::trim(typed);
    if (!isOperatorPasswordHash(storedText))
        return storedText == typedText;
    HashText hash;
    toHashText(storedText, hash);
    return crypto_pwhash_str_verify(hash.data(), typedText.data(), typedText.size()) == 0;
}

} // namespace velmora::data
