#include "tests/support/TempFolder.h"

#include <stdexcept>
#include <system_error>

#include <stdlib.h>

namespace velmora::test {

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder from " + pattern);
    m_path = pattern;
}

std::set<std::string> namesIn(const std::filesystem::path& folder)
{
    std::set<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        out.insert(entry.path().filename().string());
    return out;
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

} // namespace velmora::test
