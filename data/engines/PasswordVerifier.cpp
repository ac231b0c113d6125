#include "data/engines/PasswordVerifier.h"

#include "data/Errors.h"
#include "data/engines/PasswordHash.h"
#include "data/engines/SqliteBackend.h"

#include <sodium.h>
#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>

namespace velmora::data {

namespace {

struct StatementDeleter
{
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

[[noreturn]] void fail(sqlite3* db, const std::string& what)
{
    throw DatabaseError(what + ": " + sqlite3_errmsg(db), sqliteCause(sqlite3_extended_errcode(db)));
}

Statement prepare(sqlite3* db, const std::string& sql)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK)
        fail(db, "Password verifier");
    return Statement(raw);
}

void execute(sqlite3* db, const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string text = error ? error : sqlite3_errmsg(db);
        sqlite3_free(error);
        throw DatabaseError("Password verifier: " + text, sqliteCause(sqlite3_extended_errcode(db)));
    }
}

void initSodium()
{
    if (sodium_init() < 0)
        throw DatabaseError("Password verifier: the cryptographic library cannot be initialised.");
}

std::string table()
{
    return std::string("\"") + PasswordVerifierTable + "\"";
}

} // namespace

bool hasPasswordVerifier(sqlite3* db)
{
    Statement s = prepare(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    sqlite3_bind_text(s.get(), 1, PasswordVerifierTable, -1, SQLITE_STATIC);
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        fail(db, "Password verifier");
    return false;
}

void installPasswordVerifier(sqlite3* db, const std::string& password)
{
    initSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw DatabaseError("Password verifier: out of memory while hashing the password.");

    execute(db, "SAVEPOINT velmora_verifier");
    try {
        execute(db, "CREATE TABLE IF NOT EXISTS " + table() + " (verifier TEXT NOT NULL)");
        execute(db, "DELETE FROM " + table());
        Statement s = prepare(db, "INSERT INTO " + table() + " (verifier) VALUES (?1)");
        sqlite3_bind_text(s.get(), 1, hash, -1, SQLITE_STATIC);
        if (sqlite3_step(s.get()) != SQLITE_DONE)
            fail(db, "Password verifier");
        s.reset();
        execute(db, "RELEASE velmora_verifier");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK TO velmora_verifier; RELEASE velmora_verifier", nullptr, nullptr, nullptr);
        sodium_memzero(hash, sizeof hash);
        throw;
    }
    sodium_memzero(hash, sizeof hash);
}

void removePasswordVerifier(sqlite3* db)
{
    execute(db, "DROP TABLE IF EXISTS " + table());
}

bool passwordAccepted(sqlite3* db, const std::string& password)
{
    if (!hasPasswordVerifier(db))
        return true;
    initSodium();
    Statement s = prepare(db, "SELECT verifier FROM " + table() + " LIMIT 2");
    std::string hash;
    int rows = 0;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        ++rows;
        if (sqlite3_column_type(s.get(), 0) == SQLITE_TEXT)
            hash.assign(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)),
                        static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 0)));
    }
    if (rc != SQLITE_DONE)
        fail(db, "Password verifier");
    if (rows != 1 || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES)
        throw DatabaseError("The password verifier of the database is damaged.", ErrorKind::Damaged);
    // crypto_pwhash_str_verify wants a terminated string of at most STRBYTES.
    char stored[crypto_pwhash_STRBYTES] = {};
    hash.copy(stored, hash.size());
    if (hash.starts_with(Argon2Tag)) {
        // Checked before hashing: an edited verifier could otherwise keep the connect busy for hours, and one
        // that does not parse would refuse every password as if it were wrong.
        const std::optional<Argon2Costs> costs = argon2Costs(hash);
        if (costs && !argon2CostsWithinReach(*costs))
            throw DatabaseError("The password verifier of the database is damaged: its hash asks for costs beyond "
                                "the strongest preset (" +
                                    std::to_string(costs->memoryKiB) + " KiB of memory, " +
                                    std::to_string(costs->passes) + " passes; at most " +
                                    std::to_string(crypto_pwhash_MEMLIMIT_SENSITIVE / 1024) + " KiB and " +
                                    std::to_string(crypto_pwhash_OPSLIMIT_SENSITIVE) + " passes).",
                                ErrorKind::Damaged);
        if (crypto_pwhash_str_needs_rehash(stored, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                           crypto_pwhash_MEMLIMIT_INTERACTIVE) == -1)
            throw DatabaseError("The password verifier of the database is damaged: its hash does not parse.",
                                ErrorKind::Damaged);
    }
    const int result = crypto_pwhash_str_verify(stored, password.data(), password.size());
    if (result == 0)
        return true;
    // Text that is no hash at all also fails here; we cannot tell it from a
    // wrong password, and refusing is the safe answer.
    return false;
}

} // namespace velmora::data
