#pragma once

#include <string>

struct sqlite3;

namespace velmora::data {

// A database file may carry a verifier of its database password: one row in a
// table of its own holding an Argon2id hash (libsodium's string form, salted).
// It is an access check made at connect time, not encryption of the file.
inline constexpr const char* PasswordVerifierTable = "velmora_security";

// Whether the open database carries a verifier table.
bool hasPasswordVerifier(sqlite3* db);

// Replaces the verifier with one for the password (creating the table when
// missing), as one transaction. Throws DatabaseError.
void installPasswordVerifier(sqlite3* db, const std::string& password);

// Removes the verifier, so the file opens with any password.
void removePasswordVerifier(sqlite3* db);

// True when the file carries no verifier or the password matches it. A
// verifier table without exactly one value, or a hash that does not parse or
// asks for costs beyond the strongest preset, throws DatabaseError (damaged)
// rather than letting anyone in or hashing for minutes.
bool passwordAccepted(sqlite3* db, const std::string& password);

} // namespace velmora::data
