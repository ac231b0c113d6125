#pragma once

// Another process that holds something (a database file open, a lock on it) until its standard input ends: started
// with its input and output on pipes, it is ready once it has printed a line, and lets go when the holder is
// released or destroyed (then killed after a few seconds if it has not ended), so that no test leaves it behind.

#include "tests/support/ChildProcess.h"

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace velmora::test {

class HolderProcess
{
public:
    explicit HolderProcess(const std::vector<std::string>& argv) : m_process(argv, Redirect::pipe(), Redirect::pipe())
    {
    }
    ~HolderProcess() { release(); }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    // The first line it printed, once it has, within `limit`; empty when it ended or printed nothing in time.
    std::string waitUntilReady(std::chrono::seconds limit);
    pid_t pid() const { return m_process.pid(); }
    // Ends its input and reaps it.
    void release();

private:
    ChildProcess m_process;
};

// A shell holding `path` open for reading, as an idle program holds its database: ready at once.
inline std::vector<std::string> holdFileOpen(const std::string& path)
{
    return {"/bin/sh", "-c", "exec 3<\"$0\" && echo open && read line", path};
}

} // namespace velmora::test
