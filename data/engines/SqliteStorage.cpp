// What in the file system keeps this process from using a database file as SQLite must, in words that name the file
// or folder and what is missing.
#include "data/engines/SqliteBackend.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace velmora::data {

namespace {

std::string whyRefused(int error)
{
    switch (error) {
    case EACCES:
        return "no permission";
    case EPERM: // what access() says of a file or folder with the immutable attribute, root included
        return "it is marked immutable";
    case EROFS:
        return "a read-only file system";
    default:
        return std::strerror(error);
    }
}

// errno of an access check with this process's file-system identity, 0 when allowed.
int accessError(const std::string& path, int mode)
{
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
}

// " (left by USER)" for a file another user owns, else nothing.
std::string leftBy(const std::string& path)
{
    struct stat status = {};
    if (::stat(path.c_str(), &status) != 0 || status.st_uid == ::geteuid())
        return {};
    const passwd* owner = ::getpwuid(status.st_uid);
    return " (left by " + (owner ? std::string(owner->pw_name) : "user " + std::to_string(status.st_uid)) + ")";
}

// Bytes 18 and 19 of the header, the file format's write and read versions, are 2 in write-ahead-log mode.
bool usesWriteAheadLog(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    char header[20] = {};
    return file.read(header, sizeof header) && header[18] == 2 && header[19] == 2;
}

} // namespace

std::string storagePermissionProblem(const std::string& path)
{
    namespace fs = std::filesystem;
    std::vector<std::string> problems;
    const int readError = accessError(path, R_OK);
    if (readError)
        problems.push_back("the file cannot be read (" + whyRefused(readError) + ")");
    if (const int error = accessError(path, W_OK))
        problems.push_back("the file cannot be written (" + whyRefused(error) + ")");

    // Which companions the file needs, only its header tells.
    if (!readError) {
        const bool writeAheadLog = usesWriteAheadLog(path);
        std::string missing; // companions the folder must let us create
        for (const char* suffix : writeAheadLog ? std::vector<const char*>{"-wal", "-shm"} : std::vector{"-journal"}) {
            const std::string companion = path + suffix;
            std::error_code ec;
            if (fs::exists(fs::symlink_status(companion, ec))) {
                // Typically left behind by a program that could only read the file: with no till using the database
                // it can go (the engine makes it anew), or be given the file's permissions.
                if (const int error = accessError(companion, R_OK | W_OK))
                    problems.push_back("'" + companion + "' beside it" + leftBy(companion) + " cannot be written (" +
                                       whyRefused(error) +
                                       "); with no till using the database, delete it or give it "
                                       "the permissions of the database file");
            } else {
                missing += (missing.empty() ? "'" : " and '") + fs::path(companion).filename().string() + "'";
            }
        }
        const std::string folder = fs::path(path).parent_path().string();
        if (!missing.empty()) {
            if (const int error = accessError(folder, W_OK | X_OK))
                problems.push_back("its folder '" + folder + "' does not let this user create files (" +
                                   whyRefused(error) + "), and " +
                                   (writeAheadLog ? "the write-ahead log needs " : "a change needs ") + missing +
                                   " there");
        }
    }

    std::string text;
    for (const std::string& problem : problems)
        text += (text.empty() ? "" : "; ") + problem;
    return text;
}

std::optional<DatabaseError> permissionFailure(const std::string& path, int resultCode)
{
    switch (resultCode & 0xFF) {
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_IOERR:
    // A journal the engine cannot write can look like another user's lock: it is named rather than waited for.
    case SQLITE_BUSY:
        break;
    default:
        return std::nullopt;
    }
    const std::string problem = storagePermissionProblem(path);
    if (problem.empty())
        return std::nullopt;
    return DatabaseError("Could not use '" + path + "': permission denied: " + problem + ".",
                         ErrorCause{ErrorKind::Permission, resultCode, {}});
}

} // namespace velmora::data
