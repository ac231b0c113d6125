// velmora-db: sets up a shop's database file, or a shop's database on a PostgreSQL server: creates the twelve
// tables, adds operators and lists them, backs up a database file, shows a dataset as a till sees it and checks
// an older file's text columns, and brings a shop's Access data over. Passwords are never printed.

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/dataset/Field.h"
#include "data/engines/Backup.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SchemaDialect.h"
#include "data/engines/ServerDump.h"
#include "data/engines/SqliteBackend.h"
#include "data/engines/TextColumns.h"
#include "data/module/DMod.h"
#include "data/module/OperatorPassword.h"
#include "data/module/Rights.h"
#include "data/module/Schema.h"
#include "data/provider/ConnectionString.h"
#include "import/DatabaseSource.h"
#include "import/Import.h"
#include "settings/ConnectionSettings.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

using namespace velmora::data;

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

const char* const helpText = R"(Usage: velmora-db COMMAND FILE [OPTIONS]

Sets up the database file of the Velmora pharmacy shell, or its database on a
PostgreSQL server: in place of FILE give the server's URI,
postgresql://HOST:PORT/DATABASE, with --db-user and --db-password naming a role
of the server (without --db-password, libpq's PGPASSWORD or ~/.pgpass count).

Commands:
  create FILE [--password P]
        Creates FILE with the twelve tables of the schema, in write-ahead-log mode.
        Refuses to overwrite an existing file. With --password the file carries a
        verifier of the database password P: the program then connects only with
        that password (DB_Password in DBConn.ini). The verifier is an access check,
        not encryption. In a folder shared by its group (set-group-ID, as the
        installed /var/lib/velmora/data), the file is readable and writable by
        that group and by nobody else, so every operator of the group can sign on.
  create URI [--db-user R] [--db-password P]
        Creates the twelve tables in the server's existing database, which must
        hold none of them; the role needs the right to create tables there.
  add-operator FILE --username U --userid N --password P --groups LIST [--db-password P]
        Adds an operator who signs on as U (at most 10 characters) with password P,
        stored as a salted Argon2id hash (blanks around P do not count).
        N is the number the login list shows. LIST names the granted rights groups:
        numbers 0 to 6 separated by commas (for example 0,1,2), "all" or "none".
          0 sales  1 stock  2 statistics  3 drugs  4 other information  5 and 6 reserved
  list-operators FILE [--db-password P]
        Lists every operator: user name, number and granted rights groups.
  rights-word --groups LIST
        Prints the rights word that grants exactly LIST.
  backup FILE DEST
        Copies the database file FILE to the new file DEST while tills may go on
        using it: one consistent state with every transaction committed before
        the copy began (SQLite's online backup, never a plain file copy). The
        copy must pass an integrity check before it takes the name DEST; on any
        failure no DEST is left. DEST must not exist. A file still in
        rollback-journal mode is switched to the write-ahead log first when it
        can be, so that the copy never keeps the tills from writing.
  backup URI DEST [--db-user R] [--db-password P]
        Writes the server's database to DEST with pg_dump's custom format
        (pg_dump -Fc, from the package postgresql-client), read back whole by
        pg_restore --list before it takes the name DEST.
  backup --settings DBCONN_INI DEST
        Backs up the database that DBConn.ini (or the folder holding it) names,
        read as the program reads it, with its role and password: the daily
        backup's way to dump the shared server.
  backup-status [FOLDER]
        Prints the newest good copy of each database in FOLDER (default
        /var/backups/velmora, where the daily backup keeps them), when it was
        made and its size; exits with 1 when there is none or one is older than
        36 hours.
  restore BACKUP FILE
        Puts the backup BACKUP in place of the database file FILE. Refused while
        any program has FILE open (those this machine shows are named): the
        engine's exclusive lock is taken first and held to the end. The backup
        must pass an integrity check and hold the schema's tables before
        anything changes; FILE, with every transaction of its write-ahead log,
        is kept as FILE.before-restore-YYYYMMDD-HHMMSS, and the backup takes
        its name in one rename, with its owner and permissions and no journal of
        the old file beside it.
  restore DUMP URI [--db-user R] [--db-password P]
        Restores a pg_dump archive (backup URI DEST) into the server's database,
        which must be empty (no tables), in one transaction (pg_restore).
  copy SOURCE TARGET [--source-user R] [--source-password P] [--db-user R] [--db-password P]
        Copies a Velmora database into another, between a file and a server
        either way, or file to file: every table of the schema and every other
        table of SOURCE, in one transaction, into a TARGET whose tables it
        fills are empty (a new file is made with the schema; otherwise as
        import). The keys the database numbers go on past the largest copied.
        Counts per table are printed, progress goes to standard error; all or
        nothing, also on SIGINT, SIGTERM or SIGHUP. --source-user and
        --source-password open SOURCE, --db-user and --db-password TARGET.
  schema [--for sqlite|postgresql]
        Prints the SQL that creates the twelve tables, for the plain sqlite3 tool:
        velmora-db schema | sqlite3 FILE
        or, with --for postgresql, for a server's psql (what create URI runs).
  show FILE DATASET [--db-password P] [--db-user R]
        Opens DATASET, one of the data module's 35 datasets by its component name
        (tuser, tkc, TPd, ...), as the program opens it, and prints what a till
        sees: a line of its field names, then a line per row, separated by tabs.
        No value prints as nothing, a decimal exactly ("0.3"), a date-time as
        YYYY-MM-DD HH:MM:SS, binary as \x and hexadecimal digits (as PostgreSQL
        prints bytea); inside text a tab, line break, carriage return or
        backslash as \t, \n, \r or \\, and any other control character as \xHH,
        so nothing a terminal acts on is printed. A dataset that does not open
        prints its error (exit 1).
  check FILE [--db-password P]
        Finds the text and memo columns of FILE that SQLite does not keep as text
        (files made by older versions declare memo columns MEMO, where "0012" is
        kept as the number 12) and prints the SQL that rebuilds their tables with
        every row; exits with 1 when it finds any. Standard output is SQL alone,
        what it found written as SQL comments, so with the file backed up and no
        till using it, velmora-db check FILE | sqlite3 FILE mends it. A server
        keeps text as text.
  import ACCESS_FILE TARGET [--db-user R] [--db-password P] [--jet3-charset NAME]
        Brings the tables of the old system's Access file (.mdb of Jet 3 or 4,
        or .accdb) into TARGET: a new database file, made with the schema, or a
        server's database (URI) or an existing file whose tables the import
        would fill are empty. The twelve tables of the schema are found by name
        in any letter case, their columns likewise; a column the schema lacks is
        added, so nothing is dropped. Every other table is copied whole, with
        its primary key and its Required columns NOT NULL; linked tables are
        listed as not imported. All or nothing: on any failure, and on
        SIGINT, SIGTERM or SIGHUP, the target stays as it was (a new file is
        removed) and the message names the table and row. Progress goes to
        standard error, a summary of every table to standard output.
        Jet 3 text is 8-bit in the code page of the machine that wrote it:
        --jet3-charset names it (a Chinese shop's file wants GBK); otherwise
        the file's own code page where it records one, otherwise CP1252, with
        a warning where the text reads as Chinese in GBK.

Options:
  --db-password P   the database password of a file created with --password,
                    or the password of the server's role
  --db-user R       the server's role (a file knows only Admin)
  --source-password P, --source-user R
                    the same for the SOURCE of copy
  --settings FILE   DBConn.ini, whose database backup copies
  --jet3-charset NAME  the code page of a Jet 3 Access file's text (import)
  --help            shows this text

Exit status: 0 on success, 1 when the operation fails (or check finds columns to
mend), 2 for wrong arguments.
)";

class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct Arguments
{
    std::string command;
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;

    std::optional<std::string> option(const std::string& name) const
    {
        const auto it = options.find(name);
        return it == options.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    std::string required(const std::string& name) const
    {
        if (auto value = option(name))
            return *value;
        throw UsageError(command + " needs --" + name);
    }
};

Arguments parse(int argc, char** argv, const std::set<std::string>& known)
{
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word.rfind("--", 0) == 0) {
            std::string name = word.substr(2);
            std::string value;
            if (const auto equals = name.find('='); equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.erase(equals);
            } else {
                if (!known.contains(name))
                    throw UsageError("unknown option --" + name);
                if (i + 1 >= argc)
                    throw UsageError("--" + name + " needs a value");
                value = argv[++i];
            }
            if (!known.contains(name))
                throw UsageError("unknown option --" + name);
            if (args.options.contains(name))
                throw UsageError("--" + name + " is given twice");
            args.options[name] = value;
        } else if (args.command.empty()) {
            args.command = word;
        } else {
            args.positional.push_back(word);
        }
    }
    return args;
}

std::vector<int> parseGroups(const std::string& list)
{
    const std::string trimmed = text::trimSpacesAndAsciiControls(list);
    if (text::equalsIgnoreCase(trimmed, "all"))
        return {0, 1, 2, 3, 4, 5, 6};
    if (text::equalsIgnoreCase(trimmed, "none"))
        return {};
    std::vector<int> groups;
    std::size_t start = 0;
    while (start <= trimmed.size()) {
        const std::size_t comma = trimmed.find(',', start);
        const std::string item = text::trimSpacesAndAsciiControls(
            trimmed.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        std::int64_t group = -1;
        if (!text::parseInteger(item, group) || group < 0 || group > 6)
            throw UsageError("rights groups are numbers from 0 to 6 separated by commas, \"all\" or \"none\", not '" +
                             list + "'");
        groups.push_back(static_cast<int>(group));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return groups;
}

std::string describeGroups(std::int64_t word)
{
    std::string out;
    for (int g = 0; g < RightsGroupCount; ++g)
        if (groupGranted(word, g))
            out += (out.empty() ? "" : ",") + std::to_string(g);
    return out.empty() ? "none" : out;
}

std::string singleFile(const Arguments& args)
{
    if (args.positional.size() != 1)
        throw UsageError(args.command + " needs exactly one FILE");
    return args.positional.front();
}

std::string connectionStringFor(const std::string& file, const Arguments& args)
{
    const bool server = isServerSource(file);
    const std::string path = server ? file : std::filesystem::absolute(file).lexically_normal().string();
    return toolConnectionString(path, args.option("db-user").value_or(server ? "" : "Admin"),
                                args.option("db-password"));
}

std::string currentFolder()
{
    return std::filesystem::current_path().string() + "/";
}

std::unique_ptr<Backend> openFile(const std::string& file, const Arguments& args)
{
    return connectProvider(connectionStringFor(file, args), currentFolder());
}

// The tables go into a database the server already holds: making databases and roles is the server
// administrator's work.
int createOnServer(const std::string& uri, const Arguments& args)
{
    if (args.option("password"))
        throw UsageError("--password protects a database file; a server checks its role's own password "
                         "(--db-user, --db-password)");
    auto backend =
        PgBackend::connect(uri, args.option("db-user").value_or(""), args.option("db-password").value_or(""));
    for (const std::string& name : backend->tableNames())
        for (const TableDefinition& table : schemaTables())
            if (text::equalsIgnoreCase(name, table.name))
                throw DatabaseError("'" + redactedServerUri(uri) + "' already holds the table " + name +
                                    "; velmora-db does not overwrite a database");
    backend->execute("BEGIN;\n" + serverSchemaScript() + "COMMIT;\n");
    std::cout << "Created " << schemaTables().size() << " tables in " << redactedServerUri(uri) << ".\n";
    return 0;
}

int create(const Arguments& args)
{
    const std::string file = singleFile(args);
    if (isServerSource(file))
        return createOnServer(file, args);
    if (args.option("db-user") || args.option("db-password"))
        throw UsageError("--db-user and --db-password are for a server; a new file takes --password");
    const std::optional<std::string> password = args.option("password");
    if (password && password->empty())
        throw UsageError("--password needs a non-empty value; leave it out for a file without a password");
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(file, ec)))
        throw DatabaseError("'" + file + "' already exists; velmora-db does not overwrite a database");
    // Made whole under another name first: an interrupted create leaves nothing a later one would refuse to replace,
    // nor a database without the password check it was meant to have.
    PendingDatabaseFile database(file);
    database.backend().execute("BEGIN;\n" + schemaScript() + "COMMIT;\n");
    if (password)
        installPasswordVerifier(database.backend().handle(), *password);
    database.publish("velmora-db does not overwrite a database");
    std::cout << "Created " << file << " with " << schemaTables().size() << " tables"
              << (password ? ", protected by a database password" : "") << ".\n";
    return 0;
}

int addOperator(const Arguments& args)
{
    const std::string file = singleFile(args);
    const std::string username = text::trimSpacesAndAsciiControls(args.required("username"));
    const std::string useridText = args.required("userid");
    const std::string password = args.required("password");
    const std::vector<int> groups = parseGroups(args.required("groups"));
    if (username.empty())
        throw UsageError("--username must not be empty");
    if (text::utf8Length(username) > 10)
        throw UsageError("--username holds at most 10 characters");
    double userid = 0;
    if (!text::parseNumber(useridText, userid))
        throw UsageError("--userid must be a number, not '" + useridText + "'");

    auto backend = openFile(file, args);
    const ResultSet operators = backend->openTable("OperatorTable");
    int usernameColumn = -1, useridColumn = -1;
    for (std::size_t c = 0; c < operators.columns.size(); ++c) {
        if (text::equalsIgnoreCase(operators.columns[c].name, "username"))
            usernameColumn = static_cast<int>(c);
        if (text::equalsIgnoreCase(operators.columns[c].name, "userid"))
            useridColumn = static_cast<int>(c);
    }
    if (usernameColumn < 0 || useridColumn < 0)
        throw DatabaseError("OperatorTable of '" + file + "' lacks username or userid");
    for (const auto& row : operators.rows) {
        if (text::equalsIgnoreCase(
                text::trimSpacesAndAsciiControls(text::display(row[static_cast<std::size_t>(usernameColumn)])),
                username))
            throw DatabaseError("an operator named '" + username + "' already exists");
        double existing = 0;
        if (text::parseNumber(text::display(row[static_cast<std::size_t>(useridColumn)]), existing) &&
            existing == userid)
            throw DatabaseError("an operator with userid " + text::formatDouble(userid) + " already exists");
    }
    const std::int64_t word = rightsWordFor(groups);
    backend->insertRow(
        "OperatorTable",
        {{"username", username}, {"userid", userid}, {"passwords", hashOperatorPassword(password)}, {"able", word}});
    std::cout << "Added operator " << username << " (userid " << text::formatDouble(userid) << ", rights groups "
              << describeGroups(word) << ").\n";
    return 0;
}

int listOperators(const Arguments& args)
{
    const std::string file = singleFile(args);
    auto backend = openFile(file, args);
    const ResultSet operators = backend->openTable("OperatorTable");
    auto column = [&](std::string_view name) {
        for (std::size_t c = 0; c < operators.columns.size(); ++c)
            if (text::equalsIgnoreCase(operators.columns[c].name, name))
                return static_cast<int>(c);
        throw DatabaseError("OperatorTable of '" + file + "' lacks the column " + std::string(name));
    };
    const auto usernameColumn = static_cast<std::size_t>(column("username"));
    const auto useridColumn = static_cast<std::size_t>(column("userid"));
    const auto ableColumn = static_cast<std::size_t>(column("able"));
    std::cout << "username\tuserid\tgroups\n";
    for (const auto& row : operators.rows) {
        std::string groups;
        const Value& able = row[ableColumn];
        if (const auto* word = std::get_if<std::int64_t>(&able); word && *word > 1'000'000'000)
            groups = describeGroups(*word);
        else
            groups = "(no valid rights word: the operator cannot sign on)";
        std::cout << text::display(row[usernameColumn]) << '\t' << text::display(row[useridColumn]) << '\t' << groups
                  << '\n';
    }
    return 0;
}

int rightsWord(const Arguments& args)
{
    if (!args.positional.empty())
        throw UsageError("rights-word takes no FILE");
    const std::int64_t word = rightsWordFor(parseGroups(args.required("groups")));
    std::cout << word << '\n';
    return 0;
}

ServerLogin serverLogin(const std::string& uri, const Arguments& args)
{
    return {uri, args.option("db-user").value_or(""), args.option("db-password")};
}

// The database the settings file names, as the program reads it (keys missing: the program's first-read defaults;
// a relative file against the settings' folder), as a connection string.
ConnectionString connectionOfSettings(const std::filesystem::path& folder)
{
    velmora::ConnectionSettings read(QString::fromStdString(folder.string() + "/"));
    read.ReadConnectionSettings(velmora::FirstReadDefaults);
    read.BuildConnectionString();
    ConnectionString connection = ConnectionString::parse(read.DBConnString.toStdString());
    return connection;
}

int backup(const Arguments& args)
{
    if (const std::optional<std::string> settings = args.option("settings")) {
        // The daily backup of whatever the tills use: the settings name it, with the role and password.
        if (args.positional.size() != 1)
            throw UsageError("backup --settings needs DEST alone");
        if (args.option("db-user") || args.option("db-password"))
            throw UsageError("backup --settings takes the role and password from the settings");
        std::filesystem::path folder = std::filesystem::absolute(*settings).lexically_normal();
        if (!std::filesystem::is_directory(folder)) {
            if (folder.filename() != "DBConn.ini")
                throw UsageError("--settings names DBConn.ini or the folder that holds it, not '" + *settings + "'");
            folder = folder.parent_path();
        }
        const ConnectionString connection = connectionOfSettings(folder);
        const std::string source = connection.valueOr("Data Source");
        if (isServerSource(source)) {
            const BackupReport report = dumpServerDatabase(
                {source, connection.valueOr("User ID"), connection.valueOr("Jet OLEDB:Database Password")},
                args.positional[0]);
            std::cout << "Backed up " << report.source << " to " << report.destination << " (pg_dump's custom format, "
                      << report.bytes << " bytes, read back whole).\n";
            return 0;
        }
        std::filesystem::path file(source);
        if (file.is_relative())
            file = folder / file;
        const BackupReport report = backupDatabaseFile(file.string(), args.positional[0]);
        std::cout << "Backed up " << report.source << " to " << report.destination << " (" << report.pages
                  << " pages, integrity check ok).\n";
        return 0;
    }
    if (args.positional.size() != 2)
        throw UsageError("backup needs FILE and DEST");
    const std::string& source = args.positional[0];
    if (isServerSource(source)) {
        const BackupReport report = dumpServerDatabase(serverLogin(source, args), args.positional[1]);
        std::cout << "Backed up " << report.source << " to " << report.destination << " (pg_dump's custom format, "
                  << report.bytes << " bytes, read back whole).\n";
        return 0;
    }
    if (args.option("db-user") || args.option("db-password"))
        throw UsageError("--db-user and --db-password are for a server's database");
    const BackupReport report = backupDatabaseFile(source, args.positional[1]);
    std::cout << "Backed up " << report.source << " to " << report.destination << " (" << report.pages
              << " pages, integrity check ok).\n";
    return 0;
}

int restore(const Arguments& args)
{
    if (args.positional.size() != 2)
        throw UsageError("restore needs BACKUP and TARGET");
    const std::string& backupFile = args.positional[0];
    const std::string& target = args.positional[1];
    if (isServerSource(target)) {
        const RestoreReport report = restoreServerDatabase(backupFile, serverLogin(target, args));
        std::cout << "Restored " << report.backup << " into " << report.target << ".\n";
        return 0;
    }
    if (args.option("db-user") || args.option("db-password"))
        throw UsageError("--db-user and --db-password are for a server's database");
    const RestoreReport report = restoreDatabaseFile(backupFile, target);
    std::cout << "Restored " << report.backup << " to " << report.target << " (" << report.pages
              << " pages, integrity check ok).\n";
    if (!report.kept.empty())
        std::cout << "The database it replaced is kept as " << report.kept << ".\n";
    return 0;
}

// Where the daily backup puts its copies.
constexpr const char* BackupFolder = "/var/backups/velmora";
// A copy older than this means a daily backup has not worked for a day and a half.
constexpr std::int64_t StaleBackupSeconds = 36 * 3600;

// Whether the file begins as a good copy of its kind does: a database file, or a server's pg_dump archive. A copy
// takes its name only once it is whole and checked, so the name and the first bytes tell a finished copy.
bool looksLikeCopy(const std::filesystem::path& path, const std::string& extension)
{
    std::ifstream in(path, std::ios::binary);
    char head[16] = {};
    if (extension == "dump")
        return in.read(head, 5) && std::string_view(head, 5) == "PGDMP";
    return in.read(head, 16) && std::string_view(head, 16) == std::string_view("SQLite format 3\0", 16);
}

std::string localTime(std::time_t moment)
{
    std::tm local = {};
    ::localtime_r(&moment, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string ageText(std::int64_t seconds)
{
    if (seconds < 0)
        return "made later than this machine's clock says it is now";
    if (seconds < 3600)
        return std::to_string(seconds / 60) + " minutes old";
    if (seconds < 48 * 3600)
        return std::to_string(seconds / 3600) + " hours old";
    return std::to_string(seconds / 86400) + " days old";
}

// The newest good copy of each database in the folder, its age and size; exit 1 when there is none or one is older
// than 36 hours.
int backupStatus(const Arguments& args)
{
    namespace fs = std::filesystem;
    if (args.positional.size() > 1)
        throw UsageError("backup-status takes at most one FOLDER");
    const fs::path folder = args.positional.empty() ? fs::path(BackupFolder) : fs::path(args.positional[0]);
    struct Copy
    {
        fs::path path;
        std::time_t made = 0;
        std::uintmax_t bytes = 0;
    };
    std::map<std::string, Copy> newest; // by database: the name before -YYYYMMDD-HHMMSS
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const auto dot = name.rfind('.');
        if (name.front() == '.' || dot == std::string::npos || dot < 17 || !entry.is_regular_file())
            continue;
        const std::string extension = name.substr(dot + 1);
        const std::string stamp = name.substr(dot - 16, 16); // -YYYYMMDD-HHMMSS
        const bool stamped = stamp[0] == '-' && stamp[9] == '-' && stamp.find_first_not_of("0123456789", 1) == 9 &&
                             stamp.find_first_not_of("0123456789", 10) == std::string::npos;
        if (!stamped || (extension != "mdb" && extension != "dump") || !looksLikeCopy(entry.path(), extension))
            continue;
        struct stat status = {};
        if (::stat(entry.path().c_str(), &status) != 0 || status.st_size == 0)
            continue;
        Copy copy{entry.path(), status.st_mtime, static_cast<std::uintmax_t>(status.st_size)};
        Copy& best = newest[name.substr(0, dot - 16) + "." + extension];
        if (best.path.empty() || copy.made > best.made)
            best = copy;
    }
    if (ec)
        throw DatabaseError("Could not read the backup folder '" + folder.string() + "': " + ec.message() + ".");
    if (newest.empty()) {
        std::cout << "No good copy in " << folder.string() << ": the database has no backup.\n";
        return exitFailure;
    }
    const std::time_t now = std::time(nullptr);
    bool stale = false;
    for (const auto& [database, copy] : newest) {
        const std::int64_t age = static_cast<std::int64_t>(now - copy.made);
        const bool tooOld = age > StaleBackupSeconds;
        stale = stale || tooOld;
        std::cout << copy.path.string() << ": made " << localTime(copy.made) << ", " << ageText(age) << ", "
                  << copy.bytes << " bytes" << (tooOld ? "; OLDER THAN 36 HOURS: the daily backup is not working" : "")
                  << '\n';
    }
    return stale ? exitFailure : 0;
}

int schema(const Arguments& args)
{
    if (!args.positional.empty())
        throw UsageError("schema takes no FILE");
    const std::string target = args.option("for").value_or("sqlite");
    if (text::equalsIgnoreCase(target, "sqlite"))
        std::cout << schemaScript();
    else if (text::equalsIgnoreCase(target, "postgresql"))
        std::cout << serverSchemaScript();
    else
        throw UsageError("--for names sqlite or postgresql, not '" + target + "'");
    return 0;
}

// Text as show prints it: one line, fields told apart by tabs, and nothing a terminal would act on. Tab, line
// break, carriage return and backslash as \t, \n, \r and \\, every other byte below 0x20 and DEL as \xHH.
std::string escapedForShow(std::string_view text)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (c == '\\')
            escaped += "\\\\";
        else if (byte < 0x20 || byte == 0x7F)
            escaped += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
        else
            escaped += c;
    }
    return escaped;
}

// Bytes as the server prints bytea: \x and two hexadecimal digits a byte.
std::string hexForShow(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex = "\\x";
    hex.reserve(2 + 2 * bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

// A field's value as show prints it.
std::string shownValue(const Field& field, bool binary)
{
    const Value value = field.value();
    if (isNull(value))
        return {};
    if (const auto* bytes = std::get_if<std::string>(&value); bytes && binary)
        return hexForShow(*bytes);
    std::string shown = text::display(value);
    if (field.kind() == FieldKind::DateTime)
        if (const std::optional<DateTime> moment = DateTime::parse(shown))
            shown = moment->toString();
    return escapedForShow(shown);
}

// Whether the field shows a binary column of the result (a lookup field never does).
bool showsBinary(const Dataset& dataset, const Field& field)
{
    if (field.isLookup())
        return false;
    for (const ColumnDescription& column : dataset.columns())
        if (text::equalsIgnoreCase(column.name, field.fieldName()))
            return column.type == AdoType::adLongVarBinary || column.type == AdoType::adVarBinary ||
                   column.type == AdoType::adBinary;
    return false;
}

// The dataset opened through the data module as the program opens it, printed as a till sees it.
int show(const Arguments& args)
{
    if (args.positional.size() != 2)
        throw UsageError("show needs a FILE and a DATASET");
    const std::string& file = args.positional[0];
    const std::string& name = args.positional[1];
    TDMod dmod(currentFolder());
    Dataset* dataset = dmod.findDataset(name);
    if (!dataset)
        throw UsageError("the data module has no dataset named '" + name + "'");
    dmod.ADOCON().setConnectionString(connectionStringFor(file, args));
    dataset->open();

    std::string out;
    const auto& fields = dataset->fields();
    std::vector<char> binary;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        out += (i ? "\t" : "") + escapedForShow(fields[i]->fieldName());
        binary.push_back(showsBinary(*dataset, *fields[i]));
    }
    out += '\n';
    for (dataset->first(); !dataset->eof(); dataset->next()) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i)
                out += '\t';
            out += shownValue(*fields[i], binary[i]);
        }
        out += '\n';
        if (out.size() >= 1 << 16) {
            std::cout << out;
            out.clear();
        }
    }
    std::cout << out << std::flush;
    return 0;
}

const char* affinityName(Affinity affinity)
{
    switch (affinity) {
    case Affinity::Integer:
        return "INTEGER";
    case Affinity::Text:
        return "TEXT";
    case Affinity::Blob:
        return "BLOB";
    case Affinity::Real:
        return "REAL";
    case Affinity::Numeric:
        return "NUMERIC";
    }
    return "";
}

// Text as SQL comment lines, so that check's whole output can go to sqlite3 as it is printed.
std::string sqlComment(const std::string& text)
{
    std::string out = "-- ";
    for (const char c : text) {
        if (c == '\n')
            out += "\n-- ";
        else
            out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return out + '\n';
}

int check(const Arguments& args)
{
    const std::string file = singleFile(args);
    auto backend = openFile(file, args);
    auto* embedded = dynamic_cast<SqliteBackend*>(backend.get());
    if (!embedded) {
        std::cout << sqlComment("nothing to mend: a server keeps text as text (" + redactedServerUri(file) + ").");
        return 0;
    }
    const std::vector<TableRebuild> rebuilds = textColumnRebuilds(embedded->handle());
    if (rebuilds.empty()) {
        std::cout << sqlComment("nothing to mend: every text and memo column of " + file + " keeps text as text.");
        return 0;
    }
    for (const TableRebuild& rebuild : rebuilds)
        for (const MistypedTextColumn& column : rebuild.columns)
            std::cout << sqlComment(rebuild.table + "." + column.column + " is declared " + column.declared +
                                    ", which SQLite gives " + affinityName(sqliteAffinity(column.declared)) +
                                    " affinity: text that looks like a number is kept there as a number (\"0012\" "
                                    "as 12). It should be declared " +
                                    column.replacement + ".");
    std::cout << "--\n"
              << sqlComment(std::string("To rebuild ") + (rebuilds.size() == 1 ? "its table" : "their tables") +
                            " with every row (text already kept as a number stays as it is), back the file up, make "
                            "sure no till uses it, and run this output with sqlite3:")
              << sqlComment("velmora-db check " + file + " | sqlite3 " + file) << '\n'
              << rebuildScript(rebuilds);
    return 1;
}

// The signal that asked the program to stop (SIGINT, SIGTERM, SIGHUP), 0 while none has.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void askToStop(int signal)
{
    stopSignal = signal;
}

// Progress of each table on standard error: a line at least once a second, and one when it is done. A signal
// to stop is an interruption the import answers by undoing itself.
class ImportProgressLines final : public velmora::import::ImportProgress
{
public:
    explicit ImportProgressLines(std::string what) : m_what(std::move(what)) {}

    void tableProgress(const std::string& table, std::int64_t done, std::int64_t total, bool finished) override
    {
        std::cerr << table << ": " << done << " of " << total << " rows" << (finished ? ", done" : "") << '\n'
                  << std::flush;
    }
    std::string interruption() const override
    {
        const int signal = stopSignal;
        if (signal == 0)
            return {};
        const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
        return "the " + m_what + " was interrupted (" + name + ")";
    }

private:
    std::string m_what; // "import", "copy"
};

// Until it is destroyed, SIGINT, SIGTERM and SIGHUP only ask the import to stop, so that it can remove what it
// made; then the program ends by that signal as it would have.
class StopSignals
{
public:
    StopSignals()
    {
        struct sigaction action = {};
        action.sa_handler = askToStop;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(signals); ++i)
            sigaction(signals[i], &action, &m_before[i]);
    }
    ~StopSignals()
    {
        for (std::size_t i = 0; i < std::size(signals); ++i)
            sigaction(signals[i], &m_before[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Ends the program by the signal that stopped the import, if one did.
    static void endByThatSignal()
    {
        if (const int signal = stopSignal) {
            std::signal(signal, SIG_DFL);
            std::raise(signal);
        }
    }

private:
    static constexpr int signals[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_before[std::size(signals)] = {};
};

// The import from `source` into the target, all or nothing, undone on SIGINT, SIGTERM or SIGHUP (the program then
// ends by that signal); its summary on standard output, what it does meanwhile on standard error.
int runImport(const velmora::import::Source& source, const velmora::import::ImportTarget& target,
              const std::string& what, const std::string& done)
{
    namespace im = velmora::import;
    ImportProgressLines progress(what);
    im::ImportSummary summary;
    {
        const StopSignals stopSignals;
        try {
            summary = im::importInto(source, target, &progress);
        } catch (const std::exception& e) {
            if (stopSignal) {
                std::cerr << "velmora-db: " << e.what() << '\n' << std::flush;
                StopSignals::endByThatSignal();
            }
            throw;
        }
    }

    std::cout << done << " " << summary.source << "\ninto " << summary.target << ":\n";
    if (!summary.schemaTablesCreated.empty()) {
        std::cout << "  made the schema's tables";
        for (const std::string& table : summary.schemaTablesCreated)
            std::cout << ' ' << table;
        std::cout << '\n';
    }
    for (const im::TableSummary& table : summary.tables) {
        std::cout << "  " << table.source;
        if (table.target != table.source)
            std::cout << " -> " << table.target;
        std::string key;
        for (const std::string& column : table.primaryKey)
            key += (key.empty() ? ", key " : ", ") + column;
        std::cout << ": " << table.rowsRead << " rows read, " << table.rowsWritten << " written"
                  << (table.created       ? " (a table of its own" + key + ")"
                      : table.schemaTable ? std::string(" (a table of the schema)")
                                          : std::string())
                  << '\n';
        for (const std::string& column : table.addedColumns)
            std::cout << "    column added: " << column << '\n';
        if (!table.missingColumns.empty()) {
            std::cout << "    left empty (not in the " << (what == "import" ? "Access" : "source") << " table):";
            for (const std::string& column : table.missingColumns)
                std::cout << ' ' << column;
            std::cout << '\n';
        }
    }
    for (const velmora::access::LinkedTable& linked : summary.linkedTables)
        std::cout << "  " << linked.name << ": not imported, a table linked from " << linked.source
                  << " (import that database itself)\n";
    for (const std::string& warning : summary.warnings) {
        std::cout << "  warning: " << warning << '\n';
        std::cerr << "velmora-db: warning: " << warning << '\n';
    }
    return 0;
}

int importAccess(const Arguments& args)
{
    namespace im = velmora::import;
    if (args.positional.size() != 2)
        throw UsageError("import needs an ACCESS_FILE and a TARGET");
    const std::string& accessFile = args.positional[0];
    const std::string& target = args.positional[1];
    if (!isServerSource(target) && args.option("db-user"))
        throw UsageError("--db-user is for a server; a database file knows only Admin");
    const im::AccessSource source(accessFile, args.option("jet3-charset"));
    return runImport(source, {target, args.option("db-user").value_or(""), args.option("db-password")}, "import",
                     "Imported");
}

int copy(const Arguments& args)
{
    namespace im = velmora::import;
    if (args.positional.size() != 2)
        throw UsageError("copy needs a SOURCE and a TARGET");
    const std::string& from = args.positional[0];
    const std::string& target = args.positional[1];
    if (!isServerSource(target) && args.option("db-user"))
        throw UsageError("--db-user is for a server; a database file knows only Admin");
    if (!isServerSource(from) && args.option("source-user"))
        throw UsageError("--source-user is for a server; a database file knows only Admin");
    const bool server = isServerSource(from);
    const std::string path = server ? from : std::filesystem::absolute(from).lexically_normal().string();
    auto backend =
        connectProvider(toolConnectionString(path, args.option("source-user").value_or(server ? "" : "Admin"),
                                             args.option("source-password")),
                        currentFolder());
    const im::DatabaseSource source(std::move(backend), server ? im::Engine::Server : im::Engine::File);
    im::ImportTarget into{target, args.option("db-user").value_or(""), args.option("db-password")};
    into.action = "copied";
    return runImport(source, into, "copy", "Copied");
}

struct Command
{
    const char* name;
    std::set<std::string> options;
    int (*run)(const Arguments&);
};

const Command commands[] = {
    {"create", {"password", "db-user", "db-password"}, create},
    {"add-operator", {"username", "userid", "password", "groups", "db-password", "db-user"}, addOperator},
    {"list-operators", {"db-password", "db-user"}, listOperators},
    {"rights-word", {"groups"}, rightsWord},
    {"backup", {"db-user", "db-password", "settings"}, backup},
    {"restore", {"db-user", "db-password"}, restore},
    {"backup-status", {}, backupStatus},
    {"schema", {"for"}, schema},
    {"show", {"db-password", "db-user"}, show},
    {"check", {"db-password", "db-user"}, check},
    {"import", {"db-password", "db-user", "jet3-charset"}, importAccess},
    {"copy", {"db-password", "db-user", "source-password", "source-user"}, copy},
};

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::cout << helpText;
            return 0;
        }
    }
    if (argc < 2) {
        std::cerr << helpText;
        return exitUsage;
    }
    const Command* command = nullptr;
    for (const Command& c : commands)
        if (argv[1] == std::string(c.name))
            command = &c;
    try {
        if (!command)
            throw UsageError(std::string("unknown command '") + argv[1] + "'");
        const Arguments args = parse(argc, argv, command->options);
        return command->run(args);
    } catch (const UsageError& e) {
        std::cerr << "velmora-db: " << e.what() << "\nTry 'velmora-db --help'.\n";
        return exitUsage;
    } catch (const std::exception& e) {
        std::cerr << "velmora-db: " << e.what() << '\n';
        return exitFailure;
    }
}
