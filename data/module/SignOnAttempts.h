#pragma once

#include "data/Backend.h"
#include "data/dataset/Field.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::data {

// The record of every sign-on attempt, in a table of ours (velmora_signon_attempts, made on first use where the
// database lacks it), and the lock-out read from it: after too many failed attempts for one operator within a
// time, further attempts for that operator are refused until the time has passed or an administrator clears
// it. The record survives the program, so restarting it starts no new count.

inline constexpr std::string_view SignOnAttemptTableName = "velmora_signon_attempts";

enum class SignOnOutcome { SignedOn, WrongPassword, RightsDamaged, Cancelled, LockedOut, Disabled, Unlocked };

// As the record stores it: "signed on", "wrong password", "rights damaged", "cancelled", "locked out",
// "disabled", "unlocked".
std::string_view outcomeName(SignOnOutcome outcome);

struct SignOnAttempt
{
    DateTime at = DateTime::nowLocal();
    std::string host;          // the till's host name
    std::string typedOperator; // the operator text of the login list, as typed or chosen
    std::string matchedUserid; // the userid of the row it matched, empty when it matched none
    std::string matchedUsername;
    SignOnOutcome outcome = SignOnOutcome::WrongPassword;
};

// Appends one attempt; makes the table first where the database lacks it. Throws DatabaseError.
void recordSignOnAttempt(Backend& db, const SignOnAttempt& attempt);

// Makes the table unless the database has it.
void ensureSignOnAttemptTable(Backend& db);

struct RecordedAttempt
{
    std::int64_t id = 0;
    std::string at; // YYYY-MM-DD HH:MM:SS, the till's local time
    std::string host;
    std::string typedOperator;
    std::string matchedUserid;
    std::string matchedUsername;
    std::string outcome;
};

// The attempts in the order they were recorded, those from `since` on when given. None when the table is not
// there yet.
std::vector<RecordedAttempt> signOnAttempts(Backend& db, const std::optional<DateTime>& since = std::nullopt);

// How many failed attempts within how many minutes lock an operator out; either 0 turns the lock-out off.
struct LockoutPolicy
{
    int attempts = 5;
    int minutes = 15;
    bool active() const { return attempts > 0 && minutes > 0; }
};

// Whether the operator is locked out at `now`: the whole minutes (rounded up) until an attempt is taken again,
// or nothing. Counted are wrong passwords (and damaged rights words) for the operator's row within the last
// `minutes`, after its last sign-on or unlocking; a refused attempt during the lock-out does not lengthen it.
std::optional<int> lockedOutMinutes(Backend& db, std::string_view userid, const LockoutPolicy& policy,
                                    const DateTime& now = DateTime::nowLocal());

// Clears a lock-out by recording an unlocking for the operator (nothing is deleted from the record).
void unlockOperator(Backend& db, std::string_view userid, std::string_view username, std::string_view host);

} // namespace velmora::data
