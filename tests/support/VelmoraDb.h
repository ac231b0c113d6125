#pragma once

#include "tests/support/ChildProcess.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace velmora::test {

struct ToolRun
{
    int status;         // the exit status, -1 when it did not exit
    std::string output; // standard output and error together
};

// The word in single quotes for the shell.
std::string shellQuote(const std::string& word);

// Runs a command line through the shell; one still running after two minutes is killed (status 124).
ToolRun runShell(const std::string& command);

// Runs the built velmora-db with the arguments; `environment` holds assignments the shell puts before it
// ("PGPASSWORD=...").
ToolRun runVelmoraDb(const std::vector<std::string>& arguments, const std::string& environment = {});

// The built velmora-db started with a full pipe as its standard error, so that it stops at its first line of
// progress (or of anything else it writes there) until finish() reads the pipe: a test can signal it part way
// through its work, at a point it knows. Standard output goes to /dev/null.
class HeldVelmoraDb
{
public:
    explicit HeldVelmoraDb(const std::vector<std::string>& arguments);
    // Kills a process still running and reaps it, so that no test leaves one behind.
    ~HeldVelmoraDb();
    HeldVelmoraDb(const HeldVelmoraDb&) = delete;
    HeldVelmoraDb& operator=(const HeldVelmoraDb&) = delete;

    int pid() const { return m_process ? m_process->pid() : -1; }
    // Empty once the process has stopped at a write to its standard error; else what it did instead (it ended,
    // or `limit` ran out first).
    std::string waitUntilHeld(std::chrono::seconds limit);

    struct Ended
    {
        int waitStatus = -1;     // as waitpid gives it; -1 when it had to be killed after `limit`
        std::string errorOutput; // what it wrote to standard error
    };
    // Reads standard error until the process closes it and reaps it, killing it after `limit`.
    Ended finish(std::chrono::seconds limit);

private:
    std::unique_ptr<ChildProcess> m_process;
    int m_errorPipe = -1;     // our end
    std::size_t m_filler = 0; // bytes put in the pipe before the start, not the program's
};

} // namespace velmora::test
