#include "tests/support/VelmoraDb.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

std::string shellQuote(const std::string& word)
{
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ToolRun runShell(const std::string& command)
{
    // Under timeout(1), so that a program that never ends fails the test instead of hanging it.
    FILE* pipe = popen(("timeout --kill-after=5 120 /bin/sh -c " + shellQuote(command) + " 2>&1").c_str(), "r");
    if (!pipe)
        return {-1, {}};
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

ToolRun runVelmoraDb(const std::vector<std::string>& arguments, const std::string& environment)
{
    std::string command = environment + " " + shellQuote(std::string(VELMORA_BIN_DIR) + "/velmora-db");
    for (const std::string& argument : arguments)
        command += " " + shellQuote(argument);
    return runShell(command);
}

HeldVelmoraDb::HeldVelmoraDb(const std::vector<std::string>& arguments)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    // The smallest pipe the kernel gives, filled up, so that the program's first write waits for the reader.
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string filler(512, '.');
    for (ssize_t n; (n = ::write(fds[1], filler.data(), filler.size())) > 0;)
        m_filler += static_cast<std::size_t>(n);
    ::fcntl(fds[1], F_SETFL, 0); // the flag belongs to the pipe, which the program shares

    std::vector<std::string> argv{std::string(VELMORA_BIN_DIR) + "/velmora-db"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    m_process = std::make_unique<ChildProcess>(argv, Redirect{}, Redirect::null(), Redirect::descriptor(fds[1]));
    ::close(fds[1]);
    m_errorPipe = fds[0];
}

HeldVelmoraDb::~HeldVelmoraDb()
{
    m_process.reset();
    if (m_errorPipe >= 0)
        ::close(m_errorPipe);
}

std::string HeldVelmoraDb::waitUntilHeld(std::chrono::seconds limit)
{
    if (!m_process || !m_process->started())
        return "velmora-db did not start";
    const auto end = std::chrono::steady_clock::now() + limit;
    const std::string syscallFile = "/proc/" + std::to_string(m_process->pid()) + "/syscall";
    while (std::chrono::steady_clock::now() < end) {
        // The number of the system call it waits in, first on the line.
        long number = -1;
        std::ifstream(syscallFile) >> number;
        if (number == SYS_write)
            return {};
        if (!m_process->running())
            return "velmora-db ended (wait status " + std::to_string(m_process->status()) +
                   ") before it wrote to standard error";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return "velmora-db did not stop at a write to standard error within " + std::to_string(limit.count()) + " s";
}

HeldVelmoraDb::Ended HeldVelmoraDb::finish(std::chrono::seconds limit)
{
    Ended ended;
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string read;
    char buffer[4096];
    while (m_errorPipe >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd ready{m_errorPipe, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            continue;
        const ssize_t n = ::read(m_errorPipe, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the program closed it
        read.append(buffer, static_cast<std::size_t>(n));
    }
    ended.errorOutput = read.size() > m_filler ? read.substr(m_filler) : std::string();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (m_process)
        ended.waitStatus = m_process->wait(std::max(left, std::chrono::milliseconds(0)));
    return ended;
}

} // namespace velmora::test
