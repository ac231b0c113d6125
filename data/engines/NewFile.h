#pragma once

#include <filesystem>
#include <string>

// A file made whole under a temporary name beside its final one and only then given that name, so that no one ever
// meets it half made: backups, restores, new database files.
namespace velmora::data {

// A new, empty file beside `destination`, hidden (".NAME.XXXXXX"). Unless kept, it goes on every way out, with any
// journal SQLite left beside it.
class TemporaryFile
{
public:
    explicit TemporaryFile(const std::filesystem::path& destination);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const { return m_path; }
    int fd() const { return m_fd; }
    // Gives the file its permission bits and writes it to the disk; throws DatabaseError.
    void finish(unsigned mode);
    // Gives the file the name `destination`, never over an existing file (DatabaseError naming `what`), and writes
    // the folder to the disk; the file is then no longer removed.
    void publish(const std::string& destination, const std::string& what);
    void keep() { m_kept = true; }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_kept = false;
};

// Renames `from` to `to` unless `to` exists; DatabaseError "'to' already exists; <refusal>" otherwise.
void moveIntoPlace(const std::string& from, const std::string& to, const std::string& refusal);
// The same refusal before any work, when something (a file, a folder, a dangling link) already has the name.
void refuseExisting(const std::string& destination, const std::string& refusal);

// Writes the folder's entries to the disk, so that a rename in it survives a power cut.
void syncFolder(const std::filesystem::path& folder);

// The text of an errno value.
std::string errnoText(int error);

} // namespace velmora::data
