#pragma once

// A program the test starts, with each standard stream where the test wants it; killed and reaped at the latest
// when the object goes, so that no test leaves one behind, and never waited for without a limit.

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace velmora::test {

// Where one standard stream of the child goes.
struct Redirect
{
    enum class Kind { Inherit, Pipe, Null, File, Descriptor };
    Kind kind = Kind::Inherit;
    std::string path; // File: made or emptied, for writing
    int fd = -1;      // Descriptor: the test's own, which it keeps

    static Redirect pipe() { return {Kind::Pipe, {}, -1}; }
    static Redirect null() { return {Kind::Null, {}, -1}; }
    static Redirect file(std::string path) { return {Kind::File, std::move(path), -1}; }
    static Redirect descriptor(int fd) { return {Kind::Descriptor, {}, fd}; }
};

class ChildProcess
{
public:
    // argv[0] is the program's path.
    ChildProcess(const std::vector<std::string>& argv, Redirect input, Redirect output = {}, Redirect error = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Our ends of the streams given as pipes, -1 for the others.
    int input() const { return m_input; }
    int output() const { return m_output; }
    int error() const { return m_error; }
    // Ends its standard input.
    void closeInput();

    // Whether it has not ended yet; one that has is reaped.
    bool running();
    // Waits until it ends, at most `limit`, and reaps it: its wait status, or -1 when it had to be killed.
    int wait(std::chrono::milliseconds limit);
    // Kills it and reaps it.
    void kill();
    // The status it ended with (as waitpid gives it), -1 while it runs or when it was killed by us.
    int status() const { return m_status; }

private:
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_status = -1;
    int m_input = -1;
    int m_output = -1;
    int m_error = -1;
};

// The exit code in a wait status, -1 when the process did not exit by itself.
int exitCodeOf(int waitStatus);

// Waits until the child `pid` ends, at most `limit`, and reaps it: its wait status, or -1 when it had to be
// killed.
int waitWithin(pid_t pid, std::chrono::milliseconds limit);

} // namespace velmora::test
