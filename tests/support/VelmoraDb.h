#pragma once

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

// Runs a command line through the shell.
ToolRun runShell(const std::string& command);

// Runs the built velmora-db with the arguments; `environment` holds assignments the shell puts before it
// ("PGPASSWORD=...").
ToolRun runVelmoraDb(const std::vector<std::string>& arguments, const std::string& environment = {});

} // namespace velmora::test
