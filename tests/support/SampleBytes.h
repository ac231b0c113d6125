#pragma once

#include <string>

namespace velmora::test {

// A file's bytes.
std::string bytesOfFile(const std::string& path);

// The bytes with every `from` put as `to`, of the same length, so that a sample file keeps its layout (its
// pages, its rows' offsets) and only what a value holds changes.
std::string withEvery(std::string bytes, const std::string& from, const std::string& to);

} // namespace velmora::test
