#include "tests/support/SampleBytes.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmora::test {

std::string bytesOfFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string withEvery(std::string bytes, const std::string& from, const std::string& to)
{
    if (from.size() != to.size() || from.empty())
        throw std::invalid_argument("withEvery: '" + from + "' and its replacement differ in length");
    for (std::size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
        bytes.replace(at, from.size(), to);
    return bytes;
}

} // namespace velmora::test
