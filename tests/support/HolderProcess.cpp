#include "tests/support/HolderProcess.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace velmora::test {

std::string HolderProcess::waitUntilReady(std::chrono::seconds limit)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_process.output() >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd watched{m_process.output(), POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char c = 0;
        if (::read(m_process.output(), &c, 1) != 1)
            return {};
        if (c == '\n')
            return line;
        line += c;
    }
    return {};
}

void HolderProcess::release()
{
    m_process.closeInput();
    m_process.wait(std::chrono::seconds(5));
}

} // namespace velmora::test
