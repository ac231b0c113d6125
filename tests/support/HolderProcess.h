#pragma once

// Another process that holds something (a database file open, a lock on it) until its standard input ends: started
// with its input and output on pipes, it is ready once it has printed a line, and lets go when the holder is
// released or destroyed (then killed after a few seconds if it has not ended), so that no test leaves it behind.

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace velmora::test {

class HolderProcess
{
public:
    explicit HolderProcess(const std::vector<std::string>& argv);
    ~HolderProcess() { release(); }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    // The first line it printed, once it has, within `limit`; empty when it ended or printed nothing in time.
    std::string waitUntilReady(std::chrono::seconds limit);
    pid_t pid() const { return m_pid; }
    // Ends its input and reaps it.
    void release();

private:
    pid_t m_pid = -1;
    int m_input = -1;  // our end of its standard input
    int m_output = -1; // our end of its standard output
};

// A shell holding `path` open for reading, as an idle program holds its database: ready at once.
inline std::vector<std::string> holdFileOpen(const std::string& path)
{
    return {"/bin/sh", "-c", "exec 3<\"$0\" && echo open && read line", path};
}

} // namespace velmora::test
