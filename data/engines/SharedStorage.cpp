#include "data/engines/SharedStorage.h"

#include <filesystem>

#include <sys/vfs.h>

namespace velmora::data {

namespace {

struct FileSystem
{
    std::int64_t type; // the kernel's magic number (linux/magic.h and the file systems' own)
    const char* name;
};

constexpr FileSystem NetworkFileSystems[] = {
    {0x6969, "NFS"},          {0x517B, "SMB/CIFS"}, // smbfs
    {0xFF534D42, "SMB/CIFS"},                       // cifs
    {0xFE534D42, "SMB2"},                           // smb2 and smb3 through the cifs client
    {0x65735546, "FUSE"},                           // sshfs, davfs, ntfs-3g, ... whatever a FUSE daemon serves
    {0x01021997, "9P"},                             // v9fs
    {0x00C36400, "Ceph"},     {0x5346414F, "AFS"},  // OpenAFS
    {0x6B414653, "AFS"},                            // kAFS
    {0x73757245, "Coda"},     {0x564C, "NCP"},      // NetWare
    {0x47504653, "GPFS"},     {0x0BD00BD0, "Lustre"},
};

} // namespace

std::optional<std::string> networkFileSystemName(std::int64_t fileSystemType)
{
    const auto type = static_cast<std::uint32_t>(fileSystemType);
    for (const FileSystem& fs : NetworkFileSystems)
        if (static_cast<std::uint32_t>(fs.type) == type)
            return std::string(fs.name);
    return std::nullopt;
}

std::optional<DatabaseError> networkStorageFailure(const std::string& path)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    struct statfs status = {};
    if (::statfs(folder.empty() ? "." : folder.c_str(), &status) != 0)
        return std::nullopt;
    const std::optional<std::string> name = networkFileSystemName(static_cast<std::int64_t>(status.f_type));
    if (!name)
        return std::nullopt;
    return DatabaseError("Could not use '" + path + "': its folder '" + folder + "' is on a network file system (" +
                             *name +
                             "), where the write-ahead log that lets several tills share a database file does not "
                             "work and the file can be damaged. Keep a database file on a disk of the machine that "
                             "uses it (one machine per file); for several tills on several machines, keep the shop's "
                             "database on the shared server (a PostgreSQL URI as the Data Source).",
                         ErrorCause(ErrorKind::Unsupported));
}

} // namespace velmora::data
