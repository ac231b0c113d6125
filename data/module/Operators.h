#pragma once

#include "data/Backend.h"
#include "data/Errors.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::data {

// Looking after the operators of OperatorTable: listing them, adding one, changing a password, the groups,
// stopping and starting an operator, hashing plain passwords. The set-up tool and the main window's 用户管理 and
// 更换密码 share these functions, and the login reads operatorDisabled.

// The password the login box is pre-filled with; no stored password may equal it (unless allowed weak).
inline constexpr std::string_view LoginPrefillPassword = "1234";
inline constexpr int MinimumPasswordLength = 4; // characters (UTF-8 code points), after trimming

enum class PasswordWeakness { None, Empty, Prefill, TooShort };
// Judged after the login's trimming (blanks and control characters at both ends).
PasswordWeakness passwordWeakness(std::string_view password);
// "the password is empty", ... for messages; empty for None.
std::string_view weaknessText(PasswordWeakness weakness);

// Empty and Prefill: the plain text, or a hash that verifies "" or "1234".
enum class StoredPassword { Hash, Plain, Empty, Prefill };
// How a stored `passwords` value reads to the login. Text that begins like a hash but is none the login can
// verify matches no password at all: it counts as a hash (no weakness, but nobody signs on with it).
// Without judgeHashes a hash is not verified against "" and "1234" (each try costs an Argon2id run).
StoredPassword storedPasswordKind(const Value& stored, bool judgeHashes = true);

struct OperatorRow
{
    std::string username;
    std::string userid;                     // as the login list shows UserId ("12")
    std::optional<std::int64_t> rightsWord; // the login's conversion of able (text, fractions rounded half-even);
                                            // nullopt when empty or not a number
    std::vector<int> groups;                // granted groups 0..6; for a disabled operator the ones it gets back
    bool disabled = false;
    bool signsOn = false; // rights word above 1,000,000,000 and not disabled
    StoredPassword password = StoredPassword::Plain;
};

// Every operator in OperatorTable's order. Telling a stored hash's kind verifies it against the empty and the
// pre-filled password, two Argon2id runs for each hashed operator (seconds for a few); without `judgeHashes`
// every hash is listed as StoredPassword::Hash, as 用户管理 lists them, which shows no password kinds.
std::vector<OperatorRow> listOperators(Backend& db, bool judgeHashes = true);

struct NewOperator
{
    std::string username; // trimmed, 1..10 characters
    std::string userid;   // a number as text ("3")
    std::string password; // stored as the Argon2id hash (hashOperatorPassword)
    std::vector<int> groups;
};

enum class OperatorErrorKind {
    NotFound,
    DuplicateUsername,
    DuplicateUserid,
    WeakPassword,
    WrongPassword,
    LastAdministrator,
    SelfAdministrator,
    InvalidInput
};

// Why an operator function refused; the message is English, for the tool (the windows word their own from the
// kind).
class OperatorError : public DatabaseError
{
public:
    OperatorError(OperatorErrorKind kind, const std::string& message,
                  PasswordWeakness weakness = PasswordWeakness::None);

    OperatorErrorKind kind() const noexcept { return m_kind; }
    PasswordWeakness weakness() const noexcept { return m_weakness; }

private:
    OperatorErrorKind m_kind;
    PasswordWeakness m_weakness;
};

// Each write is one transaction that takes the operators' writers' lock first (Backend::lockForWriting), so
// that two tools or windows at once cannot both store the same operator, nor check against what the other is
// changing. Each throws OperatorError, or DatabaseError for the database's own failures; nothing is written
// then.
void addOperator(Backend& db, const NewOperator& op, bool allowWeak = false);
void setOperatorPassword(Backend& db, std::string_view userid, std::string_view password, bool allowWeak = false);
// The signed-on operator's own change: `oldPassword` checked as the login checks it (operatorPasswordMatches),
// the new one hashed and stored in one statement. A weak new password is always refused.
void changeOwnPassword(Backend& db, std::string_view userid, std::string_view oldPassword,
                       std::string_view newPassword);
// actingUserid: the operator doing it (the signed-on one in the program; empty from the tool). Refuses
// (LastAdministrator) to leave no enabled operator holding group 5, where one was, and (SelfAdministrator) the
// acting operator taking group 5 from themselves or disabling themselves. For a disabled operator the groups
// are those it gets back when enabled.
void setOperatorGroups(Backend& db, std::string_view userid, const std::vector<int>& groups,
                       std::string_view actingUserid = {});
// Disabling sets able to a word every sign-on refuses (DisabledRightsWord), so that older programs refuse the
// operator too, and keeps the word it had in velmora_operator_state; enabling gives it back. Nothing is
// deleted. Enabling an operator that is not disabled changes nothing.
void setOperatorEnabled(Backend& db, std::string_view userid, bool enabled, std::string_view actingUserid = {});
// Turns every plain stored password into its hash in one transaction (the login then signs on with the same
// password as before); returns how many. Text that begins like a hash is left alone.
int hashPlainPasswords(Backend& db);
// Whether the sign-on must refuse this operator as disabled (read by the login).
bool operatorDisabled(Backend& db, std::string_view userid);

// The rights word of a disabled operator: not above the login's threshold.
inline constexpr std::int64_t DisabledRightsWord = 0;
// The table of ours that keeps disabled operators' rights words, made on first use.
inline constexpr std::string_view OperatorStateTableName = "velmora_operator_state";
void ensureOperatorStateTable(Backend& db);

} // namespace velmora::data
