// The provider named by a connection string, served over SQLite, or by a PostgreSQL server when the Data
// Source is a server's URI.
#include "data/Backend.h"
#include "data/Errors.h"
#include "data/Text.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SharedStorage.h"
#include "data/engines/SqliteBackend.h"
#include "data/provider/ConnectionString.h"

#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <system_error>

namespace velmora::data {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view ProviderName = "Microsoft.Jet.OLEDB.4.0";

std::string resolvePath(const std::string& source, const std::string& executableFolder)
{
    fs::path p(source);
    if (p.is_relative())
        p = fs::path(executableFolder) / p;
    // Absolute, so SQLite never reads it as a "file:" URI.
    return fs::absolute(p).lexically_normal().string();
}

// Jet's own texts where it had one, always naming the file and the cause.
[[noreturn]] void refuse(const std::string& text, ErrorCause cause)
{
    throw DatabaseError(text, std::move(cause));
}

// The file's user_version, 0 when it cannot be read.
int fileSchemaVersion(sqlite3* db)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &raw, nullptr) != SQLITE_OK)
        return 0;
    SqliteStatement version(raw);
    return sqlite3_step(version.get()) == SQLITE_ROW ? sqlite3_column_int(version.get(), 0) : 0;
}

} // namespace

std::unique_ptr<Backend> connectProvider(const std::string& connectionString, const std::string& executableFolder)
{
    const ConnectionString properties = ConnectionString::parse(connectionString);

    const std::string source = properties.valueOr("Data Source");
    const bool server = isServerSource(source);
    const std::string path = source.empty() ? std::string()
                             : server       ? redactedServerUri(source)
                                            : resolvePath(source, executableFolder);

    const auto provider = properties.value("Provider");
    if (!provider || !text::equalsIgnoreCase(*provider, ProviderName))
        refuse("Provider cannot be found. It may not be properly installed. (Provider '" +
                   provider.value_or(std::string()) + "' for '" + path + "'; this program serves only " +
                   std::string(ProviderName) + ".)",
               ErrorKind::Unsupported);

    if (source.empty())
        refuse("Could not find file '': the connection string names no Data Source.", ErrorKind::NotFound);

    // A server knows its own roles and checks their passwords itself.
    if (server)
        return PgBackend::connect(source, properties.valueOr("User ID"),
                                  properties.valueOr("Jet OLEDB:Database Password"));

    // Without a workgroup file the Jet provider knows one account, Admin.
    const std::string user = properties.valueOr("User ID", "Admin");
    if (!text::equalsIgnoreCase(user, "admin"))
        refuse("Not a valid account name or password. The user '" + user + "' cannot open '" + path +
                   "'; the only account is Admin.",
               ErrorKind::Permission);

    // Looked at first so that opening can never create or block on anything.
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found)
        refuse("Could not find file '" + path + "'.", ErrorKind::NotFound);
    if (ec)
        refuse("Could not use '" + path + "': " + ec.message() + ".",
               ec == std::errc::permission_denied ? ErrorKind::Permission : ErrorKind::Io);
    if (status.type() == fs::file_type::directory)
        refuse("Unrecognized database format '" + path + "': it is a folder, not a database file.", ErrorKind::Damaged);
    if (status.type() != fs::file_type::regular)
        refuse("Unrecognized database format '" + path + "': it is not a regular file.", ErrorKind::Damaged);
    if (fs::file_size(path, ec) == 0 && !ec)
        refuse("Unrecognized database format '" + path + "': the file is empty.", ErrorKind::Damaged);
    // Before the engine touches the file or makes its journals there.
    if (std::optional<DatabaseError> shared = networkStorageFailure(path))
        throw *shared;

    // Without CREATE: a connect never makes a file. One thread uses a
    // connection, so SQLite need not lock around every call.
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteHandle db(raw); // closed on every way out below
    if (rc != SQLITE_OK) {
        if (!fs::exists(path, ec))
            refuse("Could not find file '" + path + "'.", ErrorKind::NotFound);
        if (std::optional<DatabaseError> refused = permissionFailure(path, raw ? sqlite3_extended_errcode(raw) : rc))
            throw *refused;
        refuse("Could not use '" + path + "': " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)) + ".",
               sqliteCause(raw ? sqlite3_extended_errcode(raw) : rc));
    }
    sqlite3_extended_result_codes(db.get(), 1);
    setBusyTimeout(db.get());

    // Opening reads nothing: read the schema to find out whether it is a database.
    {
        sqlite3_stmt* probe = nullptr;
        int result = sqlite3_prepare_v2(db.get(), "SELECT count(*) FROM sqlite_master", -1, &probe, nullptr);
        SqliteStatement statement(probe);
        if (result == SQLITE_OK)
            result = sqlite3_step(statement.get());
        if (result != SQLITE_ROW) {
            ErrorCause cause = sqliteCause(result);
            const std::string text = sqlite3_errmsg(db.get());
            // A database this user may not read, or whose journals it may not make or write (a journal left
            // read-only looks like a lock), is neither in use nor damaged.
            if (std::optional<DatabaseError> refused = permissionFailure(path, cause.engineCode))
                throw *refused;
            if (cause.kind == ErrorKind::Locked)
                refuse("Could not use '" + path + "'; file already in use.", cause);
            if ((cause.engineCode & 0xFF) == SQLITE_NOTADB)
                refuse("Unrecognized database format '" + path + "': it is not a database file.", cause);
            if (cause.kind == ErrorKind::Other)
                cause.kind = ErrorKind::Damaged;
            refuse("Unrecognized database format '" + path + "': " + text + ".", cause);
        }
    }

    const std::string password = properties.valueOr("Jet OLEDB:Database Password");
    bool accepted = false;
    try {
        accepted = passwordAccepted(db.get(), password);
    } catch (const DatabaseError& e) {
        refuse("Could not use '" + path + "': " + e.what(), e.cause());
    }
    if (!accepted)
        refuse("Not a valid password. The database password does not open '" + path + "'.", ErrorKind::Permission);

    // A file made by the plain sqlite3 tool keeps a rollback journal, under which a backup or a long read keeps every
    // till from writing; with the write-ahead log they go on. Only an accepted password may change the file.
    // Nor a database of a newer schema, which the start-up refuses without writing anything to it.
    if (fileSchemaVersion(db.get()) <= CurrentSchemaVersion)
        switchToWriteAheadLog(db.get(), path);

    return std::make_unique<SqliteBackend>(std::move(db), path);
}

} // namespace velmora::data
