#include "tests/support/VelmoraDb.h"

#include <cstdio>

#include <sys/wait.h>

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
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
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

} // namespace velmora::test
