#include "data/engines/ServerDump.h"

#include "data/Errors.h"
#include "data/Text.h"
#include "data/engines/NewFile.h"
#include "data/engines/PgBackend.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::data {

namespace {

namespace fs = std::filesystem;

struct ToolRun
{
    int status = -1;    // the exit status; -1 when the tool did not run or did not exit
    std::string errors; // what it wrote to standard error
};

// The environment of the tools: ours, with the role and password as libpq reads them, so that the password never
// stands on a command line another user could list.
std::vector<std::string> toolEnvironment(const ServerLogin& server)
{
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view text(*variable);
        if ((server.password && text.starts_with("PGPASSWORD=")) ||
            (!server.user.empty() && text.starts_with("PGUSER=")))
            continue;
        variables.emplace_back(text);
    }
    if (server.password)
        variables.push_back("PGPASSWORD=" + *server.password);
    if (!server.user.empty())
        variables.push_back("PGUSER=" + server.user);
    variables.push_back("PGCONNECT_TIMEOUT=" + std::to_string(ConnectTimeoutSeconds));
    return variables;
}

ToolRun runTool(std::vector<std::string> arguments, const ServerLogin& server)
{
    std::vector<std::string> environment = toolEnvironment(server);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0)
        throw DatabaseError("Could not run " + arguments.front() + ": " + errnoText(errno) + ".");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv.front(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(errors[1]);
    ToolRun run;
    if (spawned != 0) {
        ::close(errors[0]);
        if (spawned == ENOENT)
            throw DatabaseError(arguments.front() + " was not found: a server's database is backed up and restored "
                                                    "with PostgreSQL's own tools (the package postgresql-client).",
                                ErrorKind::NotFound);
        throw DatabaseError("Could not run " + arguments.front() + ": " + errnoText(spawned) + ".");
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(errors[0], buffer, sizeof buffer);
        if (n > 0)
            run.errors.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(errors[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The tool's message, on one line after the program's own words.
std::string toolMessage(const ToolRun& run)
{
    std::string text(text::trimWhitespace(run.errors));
    if (text.empty())
        return run.status < 0 ? "it was ended by a signal" : "it ended with status " + std::to_string(run.status);
    return text;
}

} // namespace

bool isServerArchive(const std::string& path)
{
    char magic[5] = {};
    std::ifstream in(path, std::ios::binary);
    return in.read(magic, sizeof magic) && std::string_view(magic, sizeof magic) == "PGDMP";
}

BackupReport dumpServerDatabase(const ServerLogin& server, const std::string& destination)
{
    BackupReport report;
    report.source = redactedServerUri(server.uri);
    report.destination = fs::absolute(destination).lexically_normal().string();
    refuseExisting(report.destination, BackupRefusal);
    TemporaryFile archive{fs::path(report.destination)};
    const ToolRun dumped =
        runTool({"pg_dump", "--format=custom", "--file=" + archive.path(), "--dbname=" + server.uri}, server);
    if (dumped.status != 0)
        throw DatabaseError("Could not back up '" + report.source + "': pg_dump: " + toolMessage(dumped) +
                            "; no backup was written.");
    // Read back whole: an archive cut short or damaged is no backup.
    const ToolRun listed = runTool({"pg_restore", "--list", archive.path()}, server);
    if (listed.status != 0 || !isServerArchive(archive.path()))
        throw DatabaseError("The copy of '" + report.source + "' could not be read back (pg_restore: " +
                            toolMessage(listed) + "); no backup was written.");
    struct stat status = {};
    report.bytes = ::fstat(archive.fd(), &status) == 0 ? status.st_size : 0;
    archive.finish(0640);
    archive.publish(report.destination, BackupRefusal);
    return report;
}

RestoreReport restoreServerDatabase(const std::string& archive, const ServerLogin& server)
{
    RestoreReport report;
    report.backup = fs::absolute(archive).lexically_normal().string();
    report.target = redactedServerUri(server.uri);
    if (!fs::is_regular_file(report.backup))
        throw DatabaseError("Could not find file '" + report.backup + "'.", ErrorKind::NotFound);
    if (!isServerArchive(report.backup))
        throw DatabaseError("'" + report.backup +
                                "' is no pg_dump archive of the custom format (pg_dump -Fc, as "
                                "velmora-db backup writes for a server); nothing was changed.",
                            ErrorKind::Damaged);
    const ToolRun listed = runTool({"pg_restore", "--list", report.backup}, server);
    if (listed.status != 0)
        throw DatabaseError("The backup '" + report.backup + "' cannot be read (pg_restore: " + toolMessage(listed) +
                                "); nothing was changed.",
                            ErrorKind::Damaged);
    {
        const auto backend = PgBackend::connect(server.uri, server.user, server.password.value_or(""));
        const std::vector<std::string> tables = backend->tableNames();
        if (!tables.empty()) {
            std::string names;
            for (std::size_t i = 0; i < tables.size() && i < 5; ++i)
                names += (i ? ", " : "") + tables[i];
            throw DatabaseError("'" + report.target + "' is not empty (it holds " + names +
                                    (tables.size() > 5 ? ", ..." : "") +
                                    "); a backup is restored into a new, empty database only, so that nothing in "
                                    "it is lost. Nothing was changed.",
                                ErrorKind::Other);
        }
    }
    const ToolRun restored = runTool({"pg_restore", "--single-transaction", "--exit-on-error", "--no-owner",
                                      "--dbname=" + server.uri, report.backup},
                                     server);
    if (restored.status != 0)
        throw DatabaseError("Could not restore '" + report.backup + "' into '" + report.target +
                            "': pg_restore: " + toolMessage(restored) + "; nothing was restored.");
    return report;
}

} // namespace velmora::data
