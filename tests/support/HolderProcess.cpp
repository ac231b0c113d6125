#include "tests/support/HolderProcess.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::test {

HolderProcess::HolderProcess(const std::vector<std::string>& arguments)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return;
    }
    std::vector<std::string> words = arguments;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv.front(), &actions, nullptr, argv.data(), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_input = in[1];
    m_output = out[0];
}

std::string HolderProcess::waitUntilReady(std::chrono::seconds limit)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_output >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd watched{m_output, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char c = 0;
        if (::read(m_output, &c, 1) != 1)
            return {};
        if (c == '\n')
            return line;
        line += c;
    }
    return {};
}

void HolderProcess::release()
{
    if (m_input >= 0)
        ::close(m_input);
    m_input = -1;
    if (m_pid > 0) {
        bool reaped = false;
        for (int tries = 0; tries < 500 && !reaped; ++tries) {
            reaped = ::waitpid(m_pid, nullptr, WNOHANG) != 0;
            if (!reaped)
                ::usleep(10'000);
        }
        if (!reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }
    if (m_output >= 0)
        ::close(m_output);
    m_output = -1;
}

} // namespace velmora::test
