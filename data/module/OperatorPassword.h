#pragma once

#include <string>
#include <string_view>

namespace velmora::data {

// An operator's password as OperatorTable.passwords holds it: either a salted
// Argon2id hash in libsodium's string form, tagged by its scheme
// ("$argon2id$v=19$m=...,t=...,p=...$salt$hash", about 97 characters), or, in
// rows written before hashing, the plain text.

// The tagged hash of the trimmed password. Throws DatabaseError when libsodium
// cannot work (out of memory).
std::string hashOperatorPassword(std::string_view password);

// Whether the trimmed stored text is a hash that libsodium can parse, with
// costs no higher than its strongest preset (so no row can stall a sign-on).
// Text that merely starts like one is not.
bool isOperatorPasswordHash(std::string_view stored);

// The one check of a typed password, for the login and for tools: both are
// trimmed (blanks and control characters); a stored hash is verified against
// the typed text; stored text that begins like a hash ("$argon2") but is none
// (cut short, damaged, costs beyond the limit) matches nothing; anything else
// is compared with the typed text exactly.
bool operatorPasswordMatches(std::string_view stored, std::string_view typed);

} // namespace velmora::data
