#pragma once

// Telling a server's URI from a file's path, and showing a URI without its password.

#include <string>
#include <string_view>

namespace velmora::data {

// True when a Data Source names a PostgreSQL server (a postgresql:// or postgres:// URI) rather than a file.
bool isServerSource(std::string_view source);

// The URI without a password it may carry, for messages.
std::string redactedServerUri(std::string_view uri);

} // namespace velmora::data
