#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace velmora::test {

// A folder of its own under the system's temporary folder, removed with all it holds afterwards.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // A file or folder in it ("data/velmdb.mdb").
    std::string file(const std::string& name) const { return (m_path / name).string(); }
    // The folder with a trailing '/', as the platform gives the executable's folder.
    std::string folder() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

// What a folder holds, by name.
std::set<std::string> namesIn(const std::filesystem::path& folder);

} // namespace velmora::test
