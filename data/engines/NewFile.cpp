#include "data/engines/NewFile.h"

#include "data/Errors.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::data {

namespace {

DatabaseError existsError(const std::string& destination, const std::string& refusal)
{
    return DatabaseError("'" + destination + "' already exists; " + refusal);
}

} // namespace

std::string errnoText(int error)
{
    return std::error_code(error, std::system_category()).message();
}

TemporaryFile::TemporaryFile(const std::filesystem::path& destination)
{
    std::string pattern = (destination.parent_path() / ("." + destination.filename().string() + ".XXXXXX"));
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throw DatabaseError("Could not write a file beside '" + destination.string() + "': " + errnoText(errno) + ".");
    m_fd = fd;
    m_path = pattern;
}

TemporaryFile::~TemporaryFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_kept)
        for (const char* suffix : {"", "-journal", "-wal", "-shm"})
            ::unlink((m_path + suffix).c_str());
}

void TemporaryFile::finish(unsigned mode)
{
    if (::fchmod(m_fd, static_cast<mode_t>(mode)) != 0 || ::fsync(m_fd) != 0)
        throw DatabaseError("Could not write '" + m_path + "': " + errnoText(errno) + ".");
}

void TemporaryFile::publish(const std::string& destination, const std::string& what)
{
    moveIntoPlace(m_path, destination, what);
    m_kept = true;
    syncFolder(std::filesystem::path(destination).parent_path());
}

void moveIntoPlace(const std::string& from, const std::string& to, const std::string& refusal)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return;
    int error = errno;
    // File systems without RENAME_NOREPLACE: a hard link fails just as atomically when the name is taken.
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return;
        }
        error = errno;
    }
    if (error == EEXIST)
        throw existsError(to, refusal);
    throw DatabaseError("Could not name the file '" + to + "': " + errnoText(error) + ".");
}

void refuseExisting(const std::string& destination, const std::string& refusal)
{
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(destination, ec)))
        throw existsError(destination, refusal);
}

void syncFolder(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace velmora::data
