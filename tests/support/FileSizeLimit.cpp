#include "tests/support/FileSizeLimit.h"

#include <csignal>

namespace velmora::test {

FileSizeLimit::FileSizeLimit(std::uint64_t bytes)
{
    if (::getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
        return;
    m_handler = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of killing us
    rlimit limited = m_saved;
    limited.rlim_cur = rlim_t(bytes);
    m_ok = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    if (!m_ok)
        std::signal(SIGXFSZ, m_handler);
}

void FileSizeLimit::lift()
{
    if (!m_ok)
        return;
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_handler);
    m_ok = false;
}

} // namespace velmora::test
