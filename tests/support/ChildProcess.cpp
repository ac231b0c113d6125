#include "tests/support/ChildProcess.h"

#include <csignal>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velmora::test {

namespace {

// Sets up one stream; `ours` gets our end of a pipe, `theirs` the end the child is given and we close.
bool prepare(posix_spawn_file_actions_t& actions, const Redirect& redirect, int target, bool childReads, int& ours,
             int& theirs)
{
    switch (redirect.kind) {
    case Redirect::Kind::Inherit:
        return true;
    case Redirect::Kind::Null:
        return posix_spawn_file_actions_addopen(&actions, target, "/dev/null", childReads ? O_RDONLY : O_WRONLY, 0) ==
               0;
    case Redirect::Kind::File:
        return posix_spawn_file_actions_addopen(&actions, target, redirect.path.c_str(),
                                                childReads ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600) == 0;
    case Redirect::Kind::Descriptor:
        return posix_spawn_file_actions_adddup2(&actions, redirect.fd, target) == 0;
    case Redirect::Kind::Pipe: {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return false;
        ours = childReads ? ends[1] : ends[0];
        theirs = childReads ? ends[0] : ends[1];
        return posix_spawn_file_actions_adddup2(&actions, theirs, target) == 0;
    }
    }
    return false;
}

} // namespace

int exitCodeOf(int waitStatus)
{
    return waitStatus >= 0 && WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, Redirect input, Redirect output, Redirect error)
{
    std::vector<std::string> words = arguments;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int theirs[3] = {-1, -1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const bool ready = !words.empty() && prepare(actions, input, STDIN_FILENO, true, m_input, theirs[0]) &&
                       prepare(actions, output, STDOUT_FILENO, false, m_output, theirs[1]) &&
                       prepare(actions, error, STDERR_FILENO, false, m_error, theirs[2]);
    pid_t pid = -1;
    if (ready && posix_spawn(&pid, argv.front(), &actions, nullptr, argv.data(), environ) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : theirs)
        if (fd >= 0)
            ::close(fd);
}

ChildProcess::~ChildProcess()
{
    kill();
    for (int fd : {m_input, m_output, m_error})
        if (fd >= 0)
            ::close(fd);
}

void ChildProcess::closeInput()
{
    if (m_input >= 0)
        ::close(m_input);
    m_input = -1;
}

bool ChildProcess::running()
{
    if (m_pid <= 0 || m_reaped)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
        return true;
    m_reaped = true;
    m_status = status;
    return false;
}

int waitWithin(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

int ChildProcess::wait(std::chrono::milliseconds limit)
{
    if (running()) {
        m_status = waitWithin(m_pid, limit);
        m_reaped = true;
    }
    return m_status;
}

void ChildProcess::kill()
{
    if (!running())
        return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_reaped = true;
    m_status = -1;
}

} // namespace velmora::test
