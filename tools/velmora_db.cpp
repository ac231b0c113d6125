// velmora-db: sets up a shop's database file, or a shop's database on a PostgreSQL server: creates the twelve
// tables, looks after the operators (add, list, password, groups, disable and enable, hashing plain passwords,
// the record of sign-on attempts and unlocking), makes a till's role on a server, backs up a database file,
// shows a dataset as a till sees it, checks an older file's text columns and the stored passwords, and brings
// a shop's Access data over. Passwords are never printed, and each can be kept off the command line.

#include "data/Backend.h"
#include "data/Errors.h"
#include "data/Schema.h"
#include "data/dataset/Field.h"
#include "data/engines/Backup.h"
#include "data/engines/NewFile.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SchemaDialect.h"
#include "data/engines/ServerDump.h"
#include "data/engines/SqliteBackend.h"
#include "data/engines/TextColumns.h"
#include "data/engines/TillRole.h"
#include "data/module/DMod.h"
#include "data/module/OperatorPassword.h"
#include "data/module/Operators.h"
#include "data/module/Rights.h"
#include "data/module/SchemaVersion.h"
#include "data/module/SignOnAttempts.h"
#include "data/provider/ConnectionString.h"
#include "import/DatabaseSource.h"
#include "import/Import.h"
#include "settings/ConnectionSettings.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
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
#include <termios.h>
#include <unistd.h>

namespace {

using namespace velmora::data;

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

const char* const helpText = R"(Usage: velmora-db COMMAND FILE [OPTIONS]

Sets up the database file of the Velmora pharmacy shell, or its database on a
PostgreSQL server: in place of FILE give the server's URI,
postgresql://HOST:PORT/DATABASE, with --db-user naming a role of the server.

Passwords are best kept off the command line, where every user of the machine
can read them (ps): each password option --NAME P also reads as --NAME-file F
(the first line of file F), from an environment variable, or, when standard
input is a terminal, from a prompt that does not echo:
  database or role password   --db-password, --db-password-file,
                              VELMORA_DB_PASSWORD (a server also takes libpq's
                              PGPASSWORD and ~/.pgpass); asked for when the
                              database wants one and none was given
  operator password           --password, --password-file,
                              VELMORA_OPERATOR_PASSWORD
  a new file's password       create FILE: --password, --password-file,
                              VELMORA_DB_PASSWORD (asked for, empty: none)
  a till role's password      grant-till: --role-password, --role-password-file,
                              VELMORA_ROLE_PASSWORD

Commands:
  create FILE [--password P]
        Creates FILE with the twelve tables of the schema and the tables of
        ours (the record of sign-on attempts, the disabled operators), in
        write-ahead-log mode. Refuses to overwrite an existing file. With a
        password the file carries a verifier of the database password P: the
        program then connects only with that password (DB_Password in
        DBConn.ini). The verifier is an access check, not encryption. In a
        folder shared by its group (set-group-ID, as the installed
        /var/lib/velmora/data), the file is readable and writable by that group
        and by nobody else, so every operator of the group can sign on.
  create URI [--db-user R] [--db-password P]
        Creates the tables in the server's existing database, which must hold
        none of the twelve; the role needs the right to create tables there.
  add-operator FILE --username U --userid N --groups LIST [--password P] [--allow-weak]
        Adds an operator named U (at most 10 characters) with number N, the
        number the login list shows and the operator picks or types to sign
        on, and the password P, stored as a salted Argon2id hash (blanks
        around P do not count). LIST names the granted rights groups: numbers
        0 to 6 separated by commas (for example 0,1,2), "all" or "none":
          0 销售管理 sales          1 库存管理 stock       2 数据统计 statistics
          3 药品管理 drugs          4 其它信息 other information
          5 用户管理 user management  6 数据备份 backup
        A password that is empty, 1234 (what the login box is pre-filled with)
        or shorter than 4 characters is refused unless --allow-weak is given.
        Two add-operator runs at once cannot both store one operator.
  passwd FILE --userid N [--password P] [--allow-weak]
        Sets operator N's password (stored as its hash), weak ones refused as
        above.
  set-groups FILE --userid N --groups LIST
        Grants operator N exactly the groups of LIST. Refuses to take group 5
        from the last enabled operator who holds it.
  disable-operator FILE --userid N
  enable-operator FILE --userid N
        Stops operator N from signing on (the login says so), keeping the
        groups, which enable-operator gives back. Nothing is deleted. The last
        enabled operator with group 5 cannot be disabled.
  hash-passwords FILE
        Turns every password stored as plain text (rows written by hand or
        imported from the old system) into its hash, in one transaction, and
        prints how many; every operator signs on with the same password as
        before.
  list-operators FILE
        Lists every operator: user name, number and granted rights groups, read
        as the login reads them (a disabled operator with the groups it gets
        back).
  signons FILE [--since DATE]
        Prints the record of sign-on attempts (from DATE on, YYYY-MM-DD or
        YYYY-MM-DD HH:MM:SS): time, till, the operator number typed, the
        operator it matched and the outcome (signed on, wrong password, rights
        damaged, disabled, locked out, cancelled, unlocked).
  unlock FILE --userid N
        Lets operator N sign on again at once after a lock-out (too many wrong
        passwords; see LockoutAttempts and LockoutMinutes in DBConn.ini).
  grant-till URI ROLE [--role-password P]
        Creates the server role ROLE for the tills, or fixes it: it may read
        every table the program reads and insert only the login record and the
        record of sign-on attempts, nothing else; so the role password in a
        till's DBConn.ini cannot change an operator. A new role needs a
        password; an existing one keeps its own unless one is given. Run it as
        the tables' owner, with the right to create roles.
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
  upgrade FILE|URI [--db-user R] [--db-password P]
        Brings a database made by an older version (or never stamped with a
        schema version) to the schema of this version, in one transaction,
        after a backup (FILE.before-upgrade-YYYYMMDD-HHMMSS beside a file; for
        a server, velmora-server-before-upgrade-YYYYMMDD-HHMMSS.dump in the
        current folder). A database already current is left as it is. The
        program refuses a database stamped newer than it knows.
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
  show FILE DATASET [--show-secrets]
        Opens DATASET, one of the data module's 35 datasets by its component name
        (tuser, tkc, TPd, ...), as the program opens it, and prints what a till
        sees: a line of its field names, then a line per row, separated by tabs.
        No value prints as nothing, a decimal exactly ("0.3"), a date-time as
        YYYY-MM-DD HH:MM:SS, binary as \x and hexadecimal digits (as PostgreSQL
        prints bytea); inside text a tab, line break, carriage return or
        backslash as \t, \n, \r or \\, and any other control character as \xHH,
        so nothing a terminal acts on is printed. Stored operator passwords
        print as ******** unless --show-secrets is given. A dataset that does
        not open prints its error (exit 1).
  check FILE
        Lists operators whose stored password is plain text, empty or 1234 (a
        hash is tried against those), and the text and memo columns of FILE
        that SQLite does not keep as text (files made by older versions declare
        memo columns MEMO, where "0012" is kept as the number 12), with the SQL
        that rebuilds their tables with every row; exits with 1 when it finds
        anything. Standard output is SQL alone, what it found written as SQL
        comments, so with the file backed up and no till using it,
        velmora-db check FILE | sqlite3 FILE mends it. A server keeps text as
        text.
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
  --db-password P   the database password of a file created with a password,
                    or the password of the server's role (see above)
  --db-user R       the server's role (a file knows only Admin); a role and
                    password written in the URI win over --db-user and
                    --db-password
  --source-password P, --source-password-file F, --source-user R
                    the same for the SOURCE of copy (VELMORA_SOURCE_PASSWORD)
  --settings FILE   DBConn.ini, whose database backup copies
  --allow-weak      stores a weak operator password on purpose
  --show-secrets    show prints stored operator passwords
  --jet3-charset NAME  the code page of a Jet 3 Access file's text (import)
  --help            shows this text
  --version         shows the version

Exit status: 0 on success, 1 when the operation fails (or check finds something
to mend), 2 for wrong arguments.
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
    std::set<std::string> flags; // options without a value, given

    bool flag(const std::string& name) const { return flags.contains(name); }

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

Arguments parse(int argc, char** argv, const std::set<std::string>& known, const std::set<std::string>& flags)
{
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word.rfind("--", 0) == 0 && flags.contains(word.substr(2))) {
            args.flags.insert(word.substr(2));
            continue;
        }
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
    if (text::trimSpacesAndAsciiControls(args.positional.front()).empty())
        throw UsageError("FILE must not be empty");
    return args.positional.front();
}

bool terminalInput()
{
    return ::isatty(STDIN_FILENO) == 1;
}

// A line typed at the terminal without its echo; nothing when standard input is no terminal.
std::optional<std::string> prompt(const std::string& question)
{
    if (!terminalInput())
        return std::nullopt;
    // The echo goes off before the question shows, so that nothing typed after it is ever shown.
    termios saved{};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        silent.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &silent);
    }
    std::cerr << question << std::flush;
    std::string line;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (quiet)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (!read)
        throw UsageError("no answer was typed");
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// A secret from the command line (--NAME), a file (--NAME-file: its first line) or the environment, in that
// order; nothing when none gives it.
std::optional<std::string> secret(const Arguments& args, const std::string& option, const char* environment)
{
    if (const auto given = args.option(option)) {
        if (args.option(option + "-file"))
            throw UsageError("--" + option + " and --" + option + "-file are given both");
        return given;
    }
    if (const auto file = args.option(option + "-file")) {
        std::ifstream in(*file, std::ios::binary);
        std::string line;
        if (!in || (!std::getline(in, line) && !in.eof()))
            throw UsageError("cannot read --" + option + "-file '" + *file + "'");
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    if (environment)
        if (const char* value = std::getenv(environment))
            return std::string(value);
    return std::nullopt;
}

std::optional<std::string> databasePassword(const Arguments& args)
{
    return secret(args, "db-password", "VELMORA_DB_PASSWORD");
}

// userOption: the option that names the server's role (a copy's source has one of its own).
std::string connectionStringFor(const std::string& file, const Arguments& args,
                                const std::optional<std::string>& password, const char* userOption = "db-user")
{
    const bool server = isServerSource(file);
    const std::string path = server ? file : std::filesystem::absolute(file).lexically_normal().string();
    return toolConnectionString(path, args.option(userOption).value_or(server ? "" : "Admin"), password);
}

std::string connectionStringFor(const std::string& file, const Arguments& args)
{
    return connectionStringFor(file, args, databasePassword(args));
}

std::string currentFolder()
{
    return std::filesystem::current_path().string() + "/";
}

std::unique_ptr<Backend> connectAsked(const std::string& file, const Arguments& args)
{
    const std::optional<std::string> password = databasePassword(args);
    try {
        return connectProvider(connectionStringFor(file, args, password), currentFolder());
    } catch (const DatabaseError& e) {
        if (e.kind() != ErrorKind::Permission || password || !terminalInput())
            throw;
    }
    const std::optional<std::string> typed =
        prompt(isServerSource(file) ? "Password of the server's role: " : "Database password: ");
    return connectProvider(connectionStringFor(file, args, typed), currentFolder());
}

// Connects; a database that wants a password nobody gave asks for it at the terminal, once. A database stamped with
// a newer schema than this tool knows is refused: what it would write could go past what a newer program expects.
std::unique_ptr<Backend> openFile(const std::string& file, const Arguments& args)
{
    std::unique_ptr<Backend> backend = connectAsked(file, args);
    refuseNewerSchema(*backend);
    return backend;
}

// The operator password a command stores: given, or typed twice at the terminal.
std::string newOperatorPassword(const Arguments& args, const std::string& userid)
{
    if (const auto given = secret(args, "password", "VELMORA_OPERATOR_PASSWORD"))
        return *given;
    const auto typed = prompt("New password for operator " + userid + ": ");
    if (!typed)
        throw UsageError(args.command +
                         " needs the operator's password: --password-file F, VELMORA_OPERATOR_PASSWORD, a terminal "
                         "to type it at, or --password P");
    if (prompt("The same password again: ") != typed)
        throw UsageError("the two passwords typed differ");
    return *typed;
}

// Brings the database to the current schema in one transaction: the tables of ours beside the schema's (the record
// of sign-on attempts, the disabled operators) made where missing, and the version stamped.
SchemaUpgrade upgradeInOneTransaction(Backend& db)
{
    db.beginTransaction();
    try {
        SchemaUpgrade upgrade = upgradeSchema(db);
        db.commit();
        return upgrade;
    } catch (...) {
        try {
            db.rollback();
        } catch (const DatabaseError&) {
            // the failure that brought us here is the one to report
        }
        throw;
    }
}

// An operator function's refusal, with what the tool offers against it.
[[noreturn]] void refused(const OperatorError& e)
{
    if (e.kind() == OperatorErrorKind::WeakPassword)
        throw DatabaseError(std::string(e.what()) + " Choose another password, or give --allow-weak to store it on "
                                                    "purpose.");
    throw;
}

std::string requiredUserid(const Arguments& args)
{
    const std::string userid = text::trimSpacesAndAsciiControls(args.required("userid"));
    if (userid.empty())
        throw UsageError("--userid must not be empty");
    return userid;
}

// The tables go into a database the server already holds: making databases and roles is the server
// administrator's work.
int createOnServer(const std::string& uri, const Arguments& args)
{
    if (args.option("password"))
        throw UsageError("--password protects a database file; a server checks its role's own password "
                         "(--db-user, --db-password)");
    auto backend = openFile(uri, args);
    for (const std::string& name : backend->tableNames())
        for (const TableDefinition& table : schemaTables())
            if (text::equalsIgnoreCase(name, table.name))
                throw DatabaseError("'" + redactedServerUri(uri) + "' already holds the table " + name +
                                    "; velmora-db does not overwrite a database");
    backend->beginTransaction();
    try {
        backend->execute(serverSchemaScript());
        upgradeSchema(*backend);
        backend->commit();
    } catch (...) {
        backend->rollback();
        throw;
    }
    std::cout << "Created " << schemaTables().size() << " tables (and the tables of ours) in " << redactedServerUri(uri)
              << ".\n";
    return 0;
}

int create(const Arguments& args)
{
    const std::string file = singleFile(args);
    if (isServerSource(file))
        return createOnServer(file, args);
    if (args.option("db-user") || args.option("db-password") || args.option("db-password-file"))
        throw UsageError("--db-user and --db-password are for a server; a new file takes --password");
    if (args.option("password") && args.option("password")->empty())
        throw UsageError("--password needs a non-empty value; leave it out for a file without a password");
    refuseExisting(file, "velmora-db does not overwrite a database");
    std::optional<std::string> password = secret(args, "password", "VELMORA_DB_PASSWORD");
    if (!password)
        password = prompt("Database password of the new file (empty: none): ");
    if (password && password->empty())
        password.reset();
    // Made whole under another name first: an interrupted create leaves nothing a later one would refuse to replace,
    // nor a database without the password check it was meant to have.
    PendingDatabaseFile database(file);
    database.backend().beginTransaction();
    database.backend().execute(schemaScript());
    upgradeSchema(database.backend());
    database.backend().commit();
    if (password)
        installPasswordVerifier(database.backend().handle(), *password);
    database.publish("velmora-db does not overwrite a database");
    std::cout << "Created " << file << " with " << schemaTables().size() << " tables (and the tables of ours)"
              << (password ? ", protected by a database password" : "") << ".\n";
    return 0;
}

int addOperator(const Arguments& args)
{
    const std::string file = singleFile(args);
    const std::string username = text::trimSpacesAndAsciiControls(args.required("username"));
    const std::string userid = args.required("userid");
    const std::vector<int> groups = parseGroups(args.required("groups"));
    if (username.empty())
        throw UsageError("--username must not be empty");
    if (text::utf8Length(username) > 10)
        throw UsageError("--username holds at most 10 characters");
    double number = 0;
    if (!text::parseNumber(userid, number))
        throw UsageError("--userid must be a number, not '" + userid + "'");
    const std::string password = newOperatorPassword(args, userid);
    auto backend = openFile(file, args);
    try {
        velmora::data::addOperator(*backend, {username, userid, password, groups}, args.flag("allow-weak"));
    } catch (const OperatorError& e) {
        refused(e);
    }
    std::cout << "Added operator " << username << " (userid " << text::formatDouble(number) << ", rights groups "
              << describeGroups(rightsWordFor(groups)) << ").\n";
    return 0;
}

int passwd(const Arguments& args)
{
    const std::string file = singleFile(args);
    const std::string userid = requiredUserid(args);
    const std::string password = newOperatorPassword(args, userid);
    auto backend = openFile(file, args);
    try {
        setOperatorPassword(*backend, userid, password, args.flag("allow-weak"));
    } catch (const OperatorError& e) {
        refused(e);
    }
    std::cout << "Set the password of operator " << userid << ".\n";
    return 0;
}

int setGroups(const Arguments& args)
{
    const std::string file = singleFile(args);
    const std::string userid = requiredUserid(args);
    const std::vector<int> groups = parseGroups(args.required("groups"));
    auto backend = openFile(file, args);
    setOperatorGroups(*backend, userid, groups);
    std::cout << "Operator " << userid << " now has the rights groups " << describeGroups(rightsWordFor(groups))
              << ".\n";
    return 0;
}

int enableOperator(const Arguments& args, bool enabled)
{
    const std::string file = singleFile(args);
    const std::string userid = requiredUserid(args);
    auto backend = openFile(file, args);
    setOperatorEnabled(*backend, userid, enabled);
    std::cout << "Operator " << userid << (enabled ? " may sign on again.\n" : " is disabled.\n");
    return 0;
}

int disableOperator(const Arguments& args)
{
    return enableOperator(args, false);
}

int enableOperator(const Arguments& args)
{
    return enableOperator(args, true);
}

int hashPasswords(const Arguments& args)
{
    const std::string file = singleFile(args);
    auto backend = openFile(file, args);
    const int hashed = hashPlainPasswords(*backend);
    std::cout << "Hashed " << hashed << (hashed == 1 ? " plain password.\n" : " plain passwords.\n");
    return 0;
}

int listOperators(const Arguments& args)
{
    const std::string file = singleFile(args);
    auto backend = openFile(file, args);
    std::cout << "username\tuserid\tgroups\n";
    for (const OperatorRow& op : velmora::data::listOperators(*backend)) {
        std::string groups;
        for (int g : op.groups)
            groups += (groups.empty() ? "" : ",") + std::to_string(g);
        if (groups.empty())
            groups = "none";
        if (op.disabled)
            groups = "(disabled; enabled again: " + groups + ")";
        else if (!op.signsOn)
            groups = "(no valid rights word: the operator cannot sign on)";
        std::cout << op.username << '\t' << op.userid << '\t' << groups << '\n';
    }
    return 0;
}

int signons(const Arguments& args)
{
    const std::string file = singleFile(args);
    std::optional<DateTime> since;
    if (const auto given = args.option("since")) {
        const std::string trimmed = text::trimSpacesAndAsciiControls(*given);
        since = DateTime::parse(trimmed.size() == 10 ? trimmed + " 00:00:00" : trimmed);
        if (!since)
            throw UsageError("--since takes a date, YYYY-MM-DD or YYYY-MM-DD HH:MM:SS, not '" + *given + "'");
    }
    auto backend = openFile(file, args);
    std::cout << "time\ttill\ttyped\tuserid\tusername\toutcome\n";
    for (const RecordedAttempt& a : signOnAttempts(*backend, since))
        std::cout << a.at << '\t' << a.host << '\t' << a.typedOperator << '\t' << a.matchedUserid << '\t'
                  << a.matchedUsername << '\t' << a.outcome << '\n';
    return 0;
}

int unlock(const Arguments& args)
{
    const std::string file = singleFile(args);
    const std::string userid = requiredUserid(args);
    auto backend = openFile(file, args);
    std::string username;
    bool found = false;
    for (const OperatorRow& op : velmora::data::listOperators(*backend))
        if (op.userid == userid) {
            username = op.username;
            found = true;
        }
    if (!found)
        throw DatabaseError("There is no operator with userid " + userid + ".");
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    unlockOperator(*backend, userid, username, std::string(host) + " (velmora-db)");
    std::cout << "Operator " << userid << " may sign on again at once.\n";
    return 0;
}

int grantTill(const Arguments& args)
{
    if (args.positional.size() != 2)
        throw UsageError("grant-till needs a server's URI and a ROLE");
    const std::string& uri = args.positional[0];
    const std::string& role = args.positional[1];
    if (!isServerSource(uri))
        throw UsageError("grant-till is for a server's URI; a database file has no roles (protect it with file "
                         "permissions)");
    auto backend = openFile(uri, args);
    auto* server = dynamic_cast<PgBackend*>(backend.get());
    if (!server)
        throw DatabaseError("'" + redactedServerUri(uri) + "' is no server.");
    upgradeInOneTransaction(*backend);
    std::optional<std::string> password = secret(args, "role-password", "VELMORA_ROLE_PASSWORD");
    TillRoleGrant grant;
    const std::vector<std::string> names = backend->tableNames();
    auto spelled = [&](std::string_view wanted) -> std::optional<std::string> {
        for (const std::string& name : names)
            if (name == wanted)
                return name;
        for (const std::string& name : names)
            if (text::equalsIgnoreCase(name, wanted))
                return name;
        return std::nullopt;
    };
    std::vector<std::string_view> read;
    for (const TableDefinition& table : schemaTables())
        read.push_back(table.name);
    read.push_back(SignOnAttemptTableName);
    read.push_back(OperatorStateTableName);
    // The start-up reads which schema the database has.
    read.push_back(SchemaVersionTable);
    for (std::string_view table : read) {
        const std::optional<std::string> name = spelled(table);
        if (!name)
            throw DatabaseError("'" + redactedServerUri(uri) + "' lacks the table " + std::string(table) +
                                "; make the tables first (velmora-db create).");
        grant.readTables.push_back(*name);
        if (table == "oper" || table == SignOnAttemptTableName)
            grant.insertTables.push_back(*name);
    }
    bool exists = true;
    try {
        exists =
            !backend->query("SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = CAST(? AS name)", {role}).rows.empty();
    } catch (const DatabaseError&) {
    }
    if (!password && !exists) {
        password = prompt("Password of the new role " + role + ": ");
        if (password && prompt("The same password again: ") != password)
            throw UsageError("the two passwords typed differ");
        if (!password)
            throw UsageError("a new role needs a password: --role-password-file F, VELMORA_ROLE_PASSWORD, a "
                             "terminal to type it at, or --role-password P");
    }
    const TillRoleReport report = grantTillRole(*server, role, password, grant);
    std::cout << (report.created ? "Created" : "Fixed") << " the role " << role
              << (report.passwordSet ? " with the password given" : "") << ": it may read " << grant.readTables.size()
              << " tables and insert only into";
    for (const std::string& table : grant.insertTables)
        std::cout << ' ' << table;
    std::cout << ".\nEvery till's DBConn.ini: DB_User=" << role << " and DB_Password=its password.\n";
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
    return {uri, args.option("db-user").value_or(""), databasePassword(args)};
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

void sayFileBackedUp(const BackupReport& report)
{
    std::cout << "Backed up " << report.source << " to " << report.destination << " (" << report.pages
              << " pages, integrity check ok).\n";
}

void sayServerBackedUp(const BackupReport& report)
{
    std::cout << "Backed up " << report.source << " to " << report.destination << " (pg_dump's custom format, "
              << report.bytes << " bytes, read back whole).\n";
}

int backup(const Arguments& args)
{
    if (const std::optional<std::string> settings = args.option("settings")) {
        // The daily backup of whatever the tills use: the settings name it, with the role and password.
        if (args.positional.size() != 1)
            throw UsageError("backup --settings needs DEST alone");
        // Only options given to this command are refused: a password the environment holds for other
        // commands is not this one's.
        if (args.option("db-user") || args.option("db-password") || args.option("db-password-file"))
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
            sayServerBackedUp(report);
            return 0;
        }
        std::filesystem::path file(source);
        if (file.is_relative())
            file = folder / file;
        const BackupReport report = backupDatabaseFile(file.string(), args.positional[0]);
        sayFileBackedUp(report);
        return 0;
    }
    if (args.positional.size() != 2)
        throw UsageError("backup needs FILE and DEST");
    const std::string& source = args.positional[0];
    if (isServerSource(source)) {
        const BackupReport report = dumpServerDatabase(serverLogin(source, args), args.positional[1]);
        sayServerBackedUp(report);
        return 0;
    }
    if (args.option("db-user") || args.option("db-password") || args.option("db-password-file"))
        throw UsageError("--db-user and --db-password are for a server's database");
    const BackupReport report = backupDatabaseFile(source, args.positional[1]);
    sayFileBackedUp(report);
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
    if (args.option("db-user") || args.option("db-password") || args.option("db-password-file"))
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
    if (extension == "dump")
        return isServerArchive(path.string());
    std::ifstream in(path, std::ios::binary);
    char head[16] = {};
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

// An older or unstamped database brought to the current schema, after a backup, in one transaction; a current one
// left alone, a newer one refused.
int upgrade(const Arguments& args)
{
    const std::string target = singleFile(args);
    std::unique_ptr<Backend> backend = connectAsked(target, args);
    const int version = backend->schemaVersion();
    if (version > CurrentSchemaVersion)
        throw newerSchemaError(version, backend->location());
    if (version == CurrentSchemaVersion) {
        std::cout << backend->location() << " has the schema of version " << version
                  << " already; nothing was changed.\n";
        return 0;
    }
    std::string kept;
    if (isServerSource(target)) {
        const std::string archive = (std::filesystem::current_path() /
                                     ("velmora-server-before-upgrade-" + localTimeStamp(std::time(nullptr)) + ".dump"))
                                        .string();
        kept = dumpServerDatabase(serverLogin(target, args), archive).destination;
    } else {
        const std::string path = backend->location();
        kept = backupDatabaseFile(path, path + ".before-upgrade-" + localTimeStamp(std::time(nullptr))).destination;
    }
    const SchemaUpgrade done = upgradeInOneTransaction(*backend);
    std::cout << "Upgraded " << backend->location() << " from schema version " << done.from << " to " << done.to
              << " (backed up first to " << kept << "):\n";
    for (const std::string& step : done.steps)
        std::cout << "  " << step << '\n';
    if (done.steps.empty())
        std::cout << "  it held every table already; only its version was stamped\n";
    return 0;
}

int schema(const Arguments& args)
{
    if (!args.positional.empty())
        throw UsageError("schema takes no FILE");
    const std::string target = args.option("for").value_or("sqlite");
    if (text::equalsIgnoreCase(target, "sqlite"))
        // The write-ahead log, as create makes a file: several tills share it, and a backup keeps none waiting.
        std::cout << "PRAGMA journal_mode=WAL;\n" << schemaScript();
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
    // The tool never prints a password unless asked to: every field of OperatorTable's passwords column.
    std::vector<char> secret(fields.size(), 0);
    if (!args.flag("show-secrets"))
        for (std::size_t i = 0; i < fields.size(); ++i)
            secret[i] = text::equalsIgnoreCase(fields[i]->fieldName(), "passwords");
    for (dataset->first(); !dataset->eof(); dataset->next()) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i)
                out += '\t';
            out += secret[i] && !fields[i]->isNull() ? std::string("********") : shownValue(*fields[i], binary[i]);
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

// Operators whose stored password anybody could guess: plain text, empty, or the login box's pre-fill. Prints
// them as SQL comments and returns how many.
int weakStoredPasswords(Backend& db)
{
    int found = 0;
    for (const OperatorRow& op : velmora::data::listOperators(db)) {
        const char* why = nullptr;
        switch (op.password) {
        case StoredPassword::Plain:
            why = "is stored as plain text (velmora-db hash-passwords stores it as its hash)";
            break;
        case StoredPassword::Empty:
            why = "is empty (velmora-db passwd sets another)";
            break;
        case StoredPassword::Prefill:
            why = "is 1234, what the login box is pre-filled with (velmora-db passwd sets another)";
            break;
        case StoredPassword::Hash:
            break;
        }
        if (!why)
            continue;
        ++found;
        std::cout << sqlComment("Operator " + op.userid + " (" + op.username + "): the password " + why + ".");
    }
    return found;
}

int check(const Arguments& args)
{
    const std::string file = singleFile(args);
    auto backend = openFile(file, args);
    const int weak = weakStoredPasswords(*backend);
    if (weak > 0)
        std::cout << '\n';
    auto* embedded = dynamic_cast<SqliteBackend*>(backend.get());
    if (!embedded) {
        std::cout << sqlComment("nothing to mend in the columns: a server keeps text as text (" +
                                redactedServerUri(file) + ").");
        return weak > 0 ? 1 : 0;
    }
    const std::vector<TableRebuild> rebuilds = textColumnRebuilds(embedded->handle());
    if (rebuilds.empty()) {
        std::cout << sqlComment(std::string("nothing to mend") + (weak > 0 ? " in the columns" : "") +
                                ": every text and memo column of " + file + " keeps text as text.");
        return weak > 0 ? 1 : 0;
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
class ImportProgressLines final : public velmora::transfer::ImportProgress
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
int runImport(const velmora::transfer::Source& source, const velmora::transfer::ImportTarget& target,
              const std::string& what, const std::string& done)
{
    namespace im = velmora::transfer;
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
    namespace im = velmora::transfer;
    if (args.positional.size() != 2)
        throw UsageError("import needs an ACCESS_FILE and a TARGET");
    const std::string& accessFile = args.positional[0];
    const std::string& target = args.positional[1];
    if (!isServerSource(target) && args.option("db-user"))
        throw UsageError("--db-user is for a server; a database file knows only Admin");
    const im::AccessSource source(accessFile, args.option("jet3-charset"));
    return runImport(source, {target, args.option("db-user").value_or(""), databasePassword(args)}, "import",
                     "Imported");
}

int copy(const Arguments& args)
{
    namespace im = velmora::transfer;
    if (args.positional.size() != 2)
        throw UsageError("copy needs a SOURCE and a TARGET");
    const std::string& from = args.positional[0];
    const std::string& target = args.positional[1];
    if (!isServerSource(target) && args.option("db-user"))
        throw UsageError("--db-user is for a server; a database file knows only Admin");
    const bool server = isServerSource(from);
    if (!server && args.option("source-user"))
        throw UsageError("--source-user is for a server; a database file knows only Admin");
    auto backend = connectProvider(
        connectionStringFor(from, args, secret(args, "source-password", "VELMORA_SOURCE_PASSWORD"), "source-user"),
        currentFolder());
    const im::DatabaseSource source(std::move(backend), server ? im::Engine::Server : im::Engine::File);
    im::ImportTarget into{target, args.option("db-user").value_or(""), databasePassword(args)};
    into.action = "copied";
    return runImport(source, into, "copy", "Copied");
}

struct Command
{
    const char* name;
    std::set<std::string> options;
    int (*run)(const Arguments&);
    std::set<std::string> flags = {};
};

// Every command that opens a database takes its password in these ways.
const std::set<std::string> opening{"db-user", "db-password", "db-password-file"};

std::set<std::string> with(std::set<std::string> options)
{
    options.insert(opening.begin(), opening.end());
    return options;
}

const Command commands[] = {
    {"create", with({"password", "password-file"}), create},
    {"add-operator", with({"username", "userid", "password", "password-file", "groups"}), addOperator, {"allow-weak"}},
    {"passwd", with({"userid", "password", "password-file"}), passwd, {"allow-weak"}},
    {"set-groups", with({"userid", "groups"}), setGroups},
    {"disable-operator", with({"userid"}), disableOperator},
    {"enable-operator", with({"userid"}), enableOperator},
    {"hash-passwords", opening, hashPasswords},
    {"list-operators", opening, listOperators},
    {"signons", with({"since"}), signons},
    {"unlock", with({"userid"}), unlock},
    {"grant-till", with({"role-password", "role-password-file"}), grantTill},
    {"rights-word", {"groups"}, rightsWord},
    {"backup", with({"settings"}), backup},
    {"restore", opening, restore},
    {"backup-status", {}, backupStatus},
    {"upgrade", opening, upgrade},
    {"schema", {"for"}, schema},
    {"show", opening, show, {"show-secrets"}},
    {"check", opening, check},
    {"import", with({"jet3-charset"}), importAccess},
    {"copy", with({"source-password", "source-password-file", "source-user"}), copy},
};

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::cout << helpText;
            return 0;
        }
        if (std::string(argv[i]) == "--version") {
            std::cout << "velmora-db " << VELMORA_VERSION << '\n';
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
        const Arguments args = parse(argc, argv, command->options, command->flags);
        return command->run(args);
    } catch (const UsageError& e) {
        std::cerr << "velmora-db: " << e.what() << "\nTry 'velmora-db --help'.\n";
        return exitUsage;
    } catch (const std::exception& e) {
        std::cerr << "velmora-db: " << e.what() << '\n';
        return exitFailure;
    }
}
