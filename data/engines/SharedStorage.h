#pragma once

#include "data/Errors.h"

#include <cstdint>
#include <optional>
#include <string>

// Where a database file may live: on a disk of the machine that uses it. The write-ahead log that lets several
// programs share a file keeps its index in shared memory, which works only between programs of one machine; over a
// network file system (and through FUSE, which may hand the file to anything) locks and that memory are not shared
// as the engine needs, and the file is damaged (SQLite's own documentation says so).
namespace velmora::data {

// The name of the file system of this type (statfs's f_type) when a database file must not live on it: "NFS",
// "SMB/CIFS", "SMB2", "FUSE", ...; none for a local one.
std::optional<std::string> networkFileSystemName(std::int64_t fileSystemType);

// The refusal of a database file at `path` whose folder is on such a file system, naming it and pointing to the
// shared server; none when the folder is local (or cannot be looked at: opening the file then says why).
std::optional<DatabaseError> networkStorageFailure(const std::string& path);

} // namespace velmora::data
