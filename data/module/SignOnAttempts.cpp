#include "data/module/SignOnAttempts.h"

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/Text.h"

#include <ctime>

namespace velmora::data {

namespace {

constexpr ColumnDefinition attemptColumns[] = {
    {"attempt", FieldKind::AutoInc},
    {"attempted_at", FieldKind::DateTime},
    {"host", FieldKind::WideString, 255},
    {"typed_operator", FieldKind::WideString, 50},
    {"matched_userid", FieldKind::WideString, 40},
    {"matched_username", FieldKind::WideString, 50},
    {"outcome", FieldKind::WideString, 20},
};
constexpr TableDefinition attemptTable{SignOnAttemptTableName, attemptColumns, 0};

// The record's times are the tills' local times; only their differences count here.
std::int64_t secondsOf(const DateTime& moment)
{
    std::tm t{};
    t.tm_year = moment.year - 1900;
    t.tm_mon = moment.month - 1;
    t.tm_mday = moment.day;
    t.tm_hour = moment.hour;
    t.tm_min = moment.minute;
    t.tm_sec = moment.second;
    return static_cast<std::int64_t>(timegm(&t));
}

DateTime momentOf(std::int64_t seconds)
{
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm t{};
    gmtime_r(&time, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

bool resets(std::string_view outcome)
{
    return outcome == outcomeName(SignOnOutcome::SignedOn) || outcome == outcomeName(SignOnOutcome::Unlocked);
}

bool counts(std::string_view outcome)
{
    return outcome == outcomeName(SignOnOutcome::WrongPassword) || outcome == outcomeName(SignOnOutcome::RightsDamaged);
}

// Runs a read of the record; a record that is not there yet reads as empty.
template <typename Read> bool readRecord(Backend& db, Read&& read)
{
    try {
        read();
        return true;
    } catch (const DatabaseError& e) {
        if (e.kind() == ErrorKind::TimedOut || e.kind() == ErrorKind::Connection ||
            hasTable(db, SignOnAttemptTableName))
            throw;
        return false;
    }
}

} // namespace

std::string_view outcomeName(SignOnOutcome outcome)
{
    switch (outcome) {
    case SignOnOutcome::SignedOn:
        return "signed on";
    case SignOnOutcome::WrongPassword:
        return "wrong password";
    case SignOnOutcome::RightsDamaged:
        return "rights damaged";
    case SignOnOutcome::Cancelled:
        return "cancelled";
    case SignOnOutcome::LockedOut:
        return "locked out";
    case SignOnOutcome::Disabled:
        return "disabled";
    case SignOnOutcome::Unlocked:
        return "unlocked";
    }
    return {};
}

void ensureSignOnAttemptTable(Backend& db)
{
    if (!hasTable(db, SignOnAttemptTableName))
        db.createTableIfMissing(attemptTable);
}

void recordSignOnAttempt(Backend& db, const SignOnAttempt& attempt)
{
    auto orNull = [](std::string_view value, std::size_t characters) {
        Value cell;
        if (!value.empty())
            cell = text::utf8Left(value, characters);
        return cell;
    };
    const std::vector<std::pair<std::string, Value>> row{
        {"attempted_at", attempt.at.toString()},
        {"host", orNull(attempt.host, 255)},
        {"typed_operator", orNull(attempt.typedOperator, 50)},
        {"matched_userid", orNull(attempt.matchedUserid, 40)},
        {"matched_username", orNull(attempt.matchedUsername, 50)},
        {"outcome", std::string(outcomeName(attempt.outcome))},
    };
    const std::string table(SignOnAttemptTableName);
    try {
        db.insertRow(table, row);
    } catch (const DatabaseError& e) {
        if (e.kind() == ErrorKind::TimedOut || e.kind() == ErrorKind::Connection ||
            hasTable(db, SignOnAttemptTableName))
            throw;
        db.createTableIfMissing(attemptTable);
        db.insertRow(table, row);
    }
}

std::vector<RecordedAttempt> signOnAttempts(Backend& db, const std::optional<DateTime>& since)
{
    std::string sql = "SELECT attempt, attempted_at, host, typed_operator, matched_userid, matched_username, outcome "
                      "FROM " +
                      std::string(SignOnAttemptTableName);
    std::vector<Value> parameters;
    if (since) {
        sql += " WHERE attempted_at >= ?";
        parameters.push_back(since->toString());
    }
    sql += " ORDER BY attempt";
    ResultSet rows;
    readRecord(db, [&] { rows = db.query(sql, parameters); });
    std::vector<RecordedAttempt> out;
    for (const std::vector<Value>& row : rows.rows) {
        RecordedAttempt attempt;
        attempt.id = valueAsLargeInt(row.at(0));
        attempt.at = text::display(row.at(1));
        if (const std::optional<DateTime> moment = DateTime::parse(attempt.at))
            attempt.at = moment->toString();
        attempt.host = text::display(row.at(2));
        attempt.typedOperator = text::display(row.at(3));
        attempt.matchedUserid = text::display(row.at(4));
        attempt.matchedUsername = text::display(row.at(5));
        attempt.outcome = text::display(row.at(6));
        out.push_back(std::move(attempt));
    }
    return out;
}

std::optional<int> lockedOutMinutes(Backend& db, std::string_view userid, const LockoutPolicy& policy,
                                    const DateTime& now)
{
    const std::string key = text::trimSpacesAndAsciiControls(userid);
    if (!policy.active() || key.empty())
        return std::nullopt;
    const std::int64_t window = static_cast<std::int64_t>(policy.minutes) * 60;
    const DateTime from = momentOf(secondsOf(now) - window);
    ResultSet rows;
    const bool there = readRecord(db, [&] {
        rows = db.query("SELECT attempted_at, outcome FROM " + std::string(SignOnAttemptTableName) +
                            " WHERE matched_userid = ? AND attempted_at > ? ORDER BY attempt",
                        {key, from.toString()});
    });
    if (!there)
        return std::nullopt;
    std::vector<std::int64_t> failures;
    for (const std::vector<Value>& row : rows.rows) {
        const std::string outcome = text::display(row.at(1));
        if (resets(outcome)) {
            failures.clear();
            continue;
        }
        const std::optional<DateTime> at = DateTime::parse(text::display(row.at(0)));
        if (at && counts(outcome))
            failures.push_back(secondsOf(*at));
    }
    if (failures.size() < static_cast<std::size_t>(policy.attempts))
        return std::nullopt;
    // The count falls below the limit once the oldest of the last `attempts` failures is out of the window.
    const std::int64_t ends = failures[failures.size() - static_cast<std::size_t>(policy.attempts)] + window;
    const std::int64_t left = ends - secondsOf(now);
    if (left <= 0)
        return std::nullopt;
    return static_cast<int>((left + 59) / 60);
}

void unlockOperator(Backend& db, std::string_view userid, std::string_view username, std::string_view host)
{
    SignOnAttempt attempt;
    attempt.host = host;
    attempt.matchedUserid = text::trimSpacesAndAsciiControls(userid);
    attempt.matchedUsername = username;
    attempt.outcome = SignOnOutcome::Unlocked;
    recordSignOnAttempt(db, attempt);
}

} // namespace velmora::data
