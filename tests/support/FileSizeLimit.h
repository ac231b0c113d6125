#pragma once

#include <cstdint>

#include <sys/resource.h>

namespace velmora::test {

// While it holds, no file of this process may grow past `bytes`: a write beyond is refused, as on a full disk,
// instead of killing the process. Root is held to it too, unlike to file permissions.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool ok() const { return m_ok; }
    // Back to the limit there was before.
    void lift();

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
    bool m_ok = false;
};

} // namespace velmora::test
