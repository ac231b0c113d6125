#include "data/module/Operators.h"

#include "data/Schema.h"
#include "data/Text.h"
#include "data/dataset/Field.h"
#include "data/engines/PasswordHash.h"
#include "data/module/OperatorPassword.h"
#include "data/module/Rights.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace velmora::data {

namespace {

constexpr int UserManagementGroup = 5;
// Every writer of OperatorTable takes this lock first.
constexpr std::string_view OperatorsLock = "velmora_operators";

constexpr ColumnDefinition operatorStateColumns[] = {
    {"userid", FieldKind::WideString, 40},
    {"disabled", FieldKind::Integer},
    {"kept_able", FieldKind::LargeInt},
};
constexpr TableDefinition operatorStateTable{OperatorStateTableName, operatorStateColumns, 0};

ErrorKind databaseKind(OperatorErrorKind kind)
{
    switch (kind) {
    case OperatorErrorKind::NotFound:
        return ErrorKind::NotFound;
    case OperatorErrorKind::WrongPassword:
        return ErrorKind::Permission;
    case OperatorErrorKind::InvalidInput:
        return ErrorKind::Malformed;
    default:
        return ErrorKind::Constraint;
    }
}

// One row of OperatorTable as stored.
struct StoredOperator
{
    Value username;
    Value userid;
    Value passwords;
    Value able;
    std::string useridText; // as the login list shows it, trimmed
};

struct OperatorTableRows
{
    std::vector<StoredOperator> rows;
    bool textUserids = false; // the userid column holds text, not numbers
};

bool isTextType(AdoType type)
{
    switch (type) {
    case AdoType::adChar:
    case AdoType::adWChar:
    case AdoType::adVarChar:
    case AdoType::adVarWChar:
    case AdoType::adLongVarChar:
    case AdoType::adLongVarWChar:
    case AdoType::adBSTR:
        return true;
    default:
        return false;
    }
}

OperatorTableRows readOperators(Backend& db)
{
    const ResultSet table = db.openTable("OperatorTable");
    auto column = [&](std::string_view name) {
        for (std::size_t c = 0; c < table.columns.size(); ++c)
            if (text::equalsIgnoreCase(table.columns[c].name, name))
                return c;
        throw DatabaseError("OperatorTable lacks the column " + std::string(name) + ".", ErrorKind::NotFound);
    };
    const std::size_t username = column("username");
    const std::size_t userid = column("userid");
    const std::size_t passwords = column("passwords");
    const std::size_t able = column("able");
    OperatorTableRows out;
    out.textUserids = isTextType(table.columns[userid].type);
    for (const std::vector<Value>& row : table.rows)
        out.rows.push_back({row[username], row[userid], row[passwords], row[able],
                            text::trimSpacesAndAsciiControls(text::display(row[userid]))});
    return out;
}

// The login matches the operator's number as text in any letter case; a number written another way ("3.0") is
// the same operator.
bool sameUserid(std::string_view stored, std::string_view wanted)
{
    const std::string a = text::trimSpacesAndAsciiControls(stored);
    const std::string b = text::trimSpacesAndAsciiControls(wanted);
    if (text::equalsIgnoreCase(a, b))
        return true;
    double x = 0;
    double y = 0;
    return text::parseNumber(a, x) && text::parseNumber(b, y) && x == y;
}

const StoredOperator& findOperator(const OperatorTableRows& table, std::string_view userid)
{
    const StoredOperator* found = nullptr;
    for (const StoredOperator& row : table.rows) {
        if (!sameUserid(row.useridText, userid))
            continue;
        if (found)
            throw OperatorError(OperatorErrorKind::DuplicateUserid,
                                "Several operators have userid " + std::string(userid) +
                                    "; give each its own number in OperatorTable first.");
        found = &row;
    }
    if (!found || text::trimSpacesAndAsciiControls(userid).empty())
        throw OperatorError(OperatorErrorKind::NotFound,
                            "There is no operator with userid " + std::string(userid) + ".");
    return *found;
}

std::optional<std::int64_t> rightsWordOf(const Value& able)
{
    try {
        return valueAsLargeInt(able);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

struct OperatorState
{
    std::string userid;
    bool disabled = false;
    std::optional<std::int64_t> keptAble;
};

std::vector<OperatorState> readStates(Backend& db)
{
    std::vector<OperatorState> states;
    if (!hasTable(db, OperatorStateTableName))
        return states;
    const ResultSet rows =
        db.query("SELECT userid, disabled, kept_able FROM " + std::string(OperatorStateTableName), {});
    for (const std::vector<Value>& row : rows.rows) {
        OperatorState state;
        state.userid = text::display(row.at(0));
        state.disabled = rightsWordOf(row.at(1)).value_or(0) != 0;
        state.keptAble = rightsWordOf(row.at(2));
        states.push_back(std::move(state));
    }
    return states;
}

const OperatorState* stateOf(const std::vector<OperatorState>& states, std::string_view userid)
{
    for (const OperatorState& state : states)
        if (sameUserid(state.userid, userid))
            return &state;
    return nullptr;
}

bool isDisabled(const std::vector<OperatorState>& states, std::string_view userid)
{
    const OperatorState* state = stateOf(states, userid);
    return state && state->disabled;
}

bool signsOnWith(const std::optional<std::int64_t>& word)
{
    return word && *word > RightsThreshold;
}

bool administers(const std::optional<std::int64_t>& word)
{
    return signsOnWith(word) && groupGranted(*word, UserManagementGroup);
}

// How many enabled operators hold group 5, with one operator's word and state given anew.
int administrators(const OperatorTableRows& table, const std::vector<OperatorState>& states,
                   const StoredOperator* changed, const std::optional<std::int64_t>& changedWord, bool changedDisabled)
{
    int count = 0;
    for (const StoredOperator& row : table.rows) {
        const bool isChanged = &row == changed;
        const bool disabled = isChanged ? changedDisabled : isDisabled(states, row.useridText);
        if (!disabled && administers(isChanged ? changedWord : rightsWordOf(row.able)))
            ++count;
    }
    return count;
}

void refuseLosingTheLastAdministrator(const OperatorTableRows& table, const std::vector<OperatorState>& states,
                                      const StoredOperator& changed, const std::optional<std::int64_t>& newWord,
                                      bool newDisabled)
{
    const int before = administrators(table, states, nullptr, {}, false);
    const int after = administrators(table, states, &changed, newWord, newDisabled);
    if (before > 0 && after == 0)
        throw OperatorError(OperatorErrorKind::LastAdministrator,
                            "Operator " + changed.useridText +
                                " is the last enabled operator with group 5 (user management); the change would "
                                "leave nobody who can look after the operators.");
}

void checkGroups(const std::vector<int>& groups)
{
    for (int group : groups)
        if (group < 0 || group >= RightsGroupCount)
            throw OperatorError(OperatorErrorKind::InvalidInput,
                                "Rights group " + std::to_string(group) + " is not between 0 and 6.");
}

void refuseWeak(std::string_view password)
{
    const PasswordWeakness weakness = passwordWeakness(password);
    if (weakness != PasswordWeakness::None)
        throw OperatorError(OperatorErrorKind::WeakPassword, "Refused: " + std::string(weaknessText(weakness)) + ".",
                            weakness);
}

// The statement's condition on a column equal to a stored value, NULL included.
std::string equalTo(std::string_view column, const Value& value, std::vector<Value>& parameters)
{
    if (isNull(value))
        return std::string(column) + " IS NULL";
    parameters.push_back(value);
    return std::string(column) + " = ?";
}

// Runs `change` in one transaction that holds the operators' lock; rolls back on any failure.
template <typename Change> void asOneWrite(Backend& db, Change&& change)
{
    db.beginTransaction();
    try {
        db.lockForWriting(OperatorsLock);
        change();
        db.commit();
    } catch (...) {
        try {
            db.rollback();
        } catch (const std::exception&) {
            // the change's own failure is the one to report
        }
        throw;
    }
}

void setColumn(Backend& db, std::string_view column, const Value& value, const StoredOperator& row)
{
    std::vector<Value> parameters{value};
    const std::string sql =
        "UPDATE OperatorTable SET " + std::string(column) + " = ? WHERE " + equalTo("userid", row.userid, parameters);
    if (db.update(sql, parameters) < 1)
        throw OperatorError(OperatorErrorKind::NotFound,
                            "Operator " + row.useridText + " was changed or removed by someone else meanwhile.");
}

Value wordValue(const std::optional<std::int64_t>& word)
{
    Value value;
    if (word)
        value = *word;
    return value;
}

void writeState(Backend& db, const StoredOperator& row, bool disabled, const std::optional<std::int64_t>& keptAble)
{
    const Value kept = wordValue(keptAble);
    const std::string table(OperatorStateTableName);
    const std::int64_t flag = disabled ? 1 : 0;
    if (db.update("UPDATE " + table + " SET disabled = ?, kept_able = ? WHERE userid = ?",
                  {flag, kept, row.useridText}) > 0)
        return;
    db.update("INSERT INTO " + table + " (userid, disabled, kept_able) VALUES (?, ?, ?)", {row.useridText, flag, kept});
}

} // namespace

OperatorError::OperatorError(OperatorErrorKind kind, const std::string& message, PasswordWeakness weakness)
    : DatabaseError(message, ErrorCause(databaseKind(kind))), m_kind(kind), m_weakness(weakness)
{
}

PasswordWeakness passwordWeakness(std::string_view password)
{
    const std::string trimmed = text::trimSpacesAndAsciiControls(password);
    if (trimmed.empty())
        return PasswordWeakness::Empty;
    if (trimmed == LoginPrefillPassword)
        return PasswordWeakness::Prefill;
    if (text::utf8Length(trimmed) < static_cast<std::size_t>(MinimumPasswordLength))
        return PasswordWeakness::TooShort;
    return PasswordWeakness::None;
}

std::string_view weaknessText(PasswordWeakness weakness)
{
    switch (weakness) {
    case PasswordWeakness::Empty:
        return "the password is empty";
    case PasswordWeakness::Prefill:
        return "the password is 1234, the one the login box is pre-filled with";
    case PasswordWeakness::TooShort:
        return "the password is shorter than 4 characters";
    case PasswordWeakness::None:
        break;
    }
    return {};
}

StoredPassword storedPasswordKind(const Value& stored, bool judgeHashes)
{
    const std::string text = text::trimSpacesAndAsciiControls(text::display(stored));
    if (isOperatorPasswordHash(text)) {
        if (!judgeHashes)
            return StoredPassword::Hash;
        if (operatorPasswordMatches(text, LoginPrefillPassword))
            return StoredPassword::Prefill;
        if (operatorPasswordMatches(text, ""))
            return StoredPassword::Empty;
        return StoredPassword::Hash;
    }
    if (text.starts_with(Argon2Tag))
        return StoredPassword::Hash;
    if (text.empty())
        return StoredPassword::Empty;
    if (text == LoginPrefillPassword)
        return StoredPassword::Prefill;
    return StoredPassword::Plain;
}

std::vector<OperatorRow> listOperators(Backend& db, bool judgeHashes)
{
    const OperatorTableRows table = readOperators(db);
    const std::vector<OperatorState> states = readStates(db);
    std::vector<OperatorRow> out;
    for (const StoredOperator& row : table.rows) {
        OperatorRow op;
        op.username = text::display(row.username);
        op.userid = row.useridText;
        op.rightsWord = rightsWordOf(row.able);
        op.disabled = isDisabled(states, row.useridText);
        op.signsOn = !op.disabled && signsOnWith(op.rightsWord);
        const std::optional<std::int64_t> groupsWord =
            op.disabled ? stateOf(states, row.useridText)->keptAble : op.rightsWord;
        if (signsOnWith(groupsWord))
            for (int g = 0; g < RightsGroupCount; ++g)
                if (groupGranted(*groupsWord, g))
                    op.groups.push_back(g);
        op.password = storedPasswordKind(row.passwords, judgeHashes);
        out.push_back(std::move(op));
    }
    return out;
}

void addOperator(Backend& db, const NewOperator& op, bool allowWeak)
{
    const std::string username = text::trimSpacesAndAsciiControls(op.username);
    if (username.empty())
        throw OperatorError(OperatorErrorKind::InvalidInput, "The user name must not be empty.");
    if (text::utf8Length(username) > 10)
        throw OperatorError(OperatorErrorKind::InvalidInput, "The user name holds at most 10 characters.");
    const std::string userid = text::trimSpacesAndAsciiControls(op.userid);
    double number = 0;
    if (!text::parseNumber(userid, number))
        throw OperatorError(OperatorErrorKind::InvalidInput, "The userid must be a number, not '" + userid + "'.");
    checkGroups(op.groups);
    if (!allowWeak)
        refuseWeak(op.password);
    // Hashed before the lock is taken: it takes a moment, and nobody need wait for it.
    const std::string hash = hashOperatorPassword(op.password);
    const std::int64_t word = rightsWordFor(op.groups);

    asOneWrite(db, [&] {
        const OperatorTableRows table = readOperators(db);
        for (const StoredOperator& row : table.rows) {
            if (text::equalsIgnoreCase(text::trimSpacesAndAsciiControls(text::display(row.username)), username))
                throw OperatorError(OperatorErrorKind::DuplicateUsername,
                                    "An operator named '" + username + "' already exists.");
            if (sameUserid(row.useridText, userid))
                throw OperatorError(OperatorErrorKind::DuplicateUserid,
                                    "An operator with userid " + text::formatDouble(number) + " already exists.");
        }
        // A userid column of text takes the number as the login list will show it.
        const Value storedUserid = table.textUserids ? Value(text::formatDouble(number)) : Value(number);
        db.insertRow("OperatorTable",
                     {{"username", username}, {"userid", storedUserid}, {"passwords", hash}, {"able", word}});
    });
}

void setOperatorPassword(Backend& db, std::string_view userid, std::string_view password, bool allowWeak)
{
    if (!allowWeak)
        refuseWeak(password);
    const std::string hash = hashOperatorPassword(password);
    asOneWrite(db, [&] {
        const OperatorTableRows table = readOperators(db);
        setColumn(db, "passwords", hash, findOperator(table, userid));
    });
}

void changeOwnPassword(Backend& db, std::string_view userid, std::string_view oldPassword, std::string_view newPassword)
{
    refuseWeak(newPassword);
    const std::string hash = hashOperatorPassword(newPassword);
    asOneWrite(db, [&] {
        const OperatorTableRows table = readOperators(db);
        const StoredOperator& row = findOperator(table, userid);
        if (!operatorPasswordMatches(text::display(row.passwords), oldPassword))
            throw OperatorError(OperatorErrorKind::WrongPassword, "The old password is not right.");
        setColumn(db, "passwords", hash, row);
    });
}

void setOperatorGroups(Backend& db, std::string_view userid, const std::vector<int>& groups,
                       std::string_view actingUserid)
{
    checkGroups(groups);
    const std::int64_t word = rightsWordFor(groups);
    asOneWrite(db, [&] {
        const OperatorTableRows table = readOperators(db);
        const std::vector<OperatorState> states = readStates(db);
        const StoredOperator& row = findOperator(table, userid);
        const bool self = !actingUserid.empty() && sameUserid(actingUserid, row.useridText);
        const bool losesAdministration = std::find(groups.begin(), groups.end(), UserManagementGroup) == groups.end();
        if (self && losesAdministration && administers(rightsWordOf(row.able)))
            throw OperatorError(OperatorErrorKind::SelfAdministrator,
                                "An operator cannot take group 5 (user management) from themselves.");
        if (isDisabled(states, row.useridText)) {
            // It keeps its disabled word; the groups are what it gets back.
            writeState(db, row, true, word);
            return;
        }
        refuseLosingTheLastAdministrator(table, states, row, word, false);
        setColumn(db, "able", word, row);
    });
}

void setOperatorEnabled(Backend& db, std::string_view userid, bool enabled, std::string_view actingUserid)
{
    if (!enabled)
        ensureOperatorStateTable(db);
    asOneWrite(db, [&] {
        const OperatorTableRows table = readOperators(db);
        const std::vector<OperatorState> states = readStates(db);
        const StoredOperator& row = findOperator(table, userid);
        const OperatorState* state = stateOf(states, row.useridText);
        const bool disabled = state && state->disabled;
        if (enabled) {
            if (!disabled)
                return;
            writeState(db, row, false, state->keptAble);
            setColumn(db, "able", wordValue(state->keptAble), row);
            return;
        }
        if (!actingUserid.empty() && sameUserid(actingUserid, row.useridText))
            throw OperatorError(OperatorErrorKind::SelfAdministrator, "An operator cannot disable themselves.");
        if (disabled)
            return;
        refuseLosingTheLastAdministrator(table, states, row, rightsWordOf(row.able), true);
        writeState(db, row, true, rightsWordOf(row.able));
        setColumn(db, "able", DisabledRightsWord, row);
    });
}

int hashPlainPasswords(Backend& db)
{
    int hashed = 0;
    asOneWrite(db, [&] {
        const OperatorTableRows table = readOperators(db);
        for (const StoredOperator& row : table.rows) {
            const std::string stored = text::trimSpacesAndAsciiControls(text::display(row.passwords));
            // A hash, or text meant as one that matches nothing: hashing it would make it a password.
            if (stored.starts_with(Argon2Tag))
                continue;
            std::vector<Value> parameters{hashOperatorPassword(stored)};
            // One condition after the other: the parameters go in the order of their marks.
            std::string sql =
                "UPDATE OperatorTable SET passwords = ? WHERE " + equalTo("userid", row.userid, parameters);
            sql += " AND " + equalTo("passwords", row.passwords, parameters);
            hashed += static_cast<int>(db.update(sql, parameters));
        }
    });
    return hashed;
}

bool operatorDisabled(Backend& db, std::string_view userid)
{
    return isDisabled(readStates(db), userid);
}

void ensureOperatorStateTable(Backend& db)
{
    if (!hasTable(db, OperatorStateTableName))
        db.createTableIfMissing(operatorStateTable);
}

} // namespace velmora::data
