#pragma once

#include <string>

namespace velmora::data {

// The versions of the engine libraries the program runs with (the loaded ones, not the headers it was built
// against), for the program's about box.
std::string sqliteLibraryVersion(); // "3.40.1"
std::string libpqLibraryVersion();  // "15.10"

} // namespace velmora::data
