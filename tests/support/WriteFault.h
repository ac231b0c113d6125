#pragma once

#include "tests/support/FileSizeLimit.h"

#include <memory>
#include <string>

struct sqlite3;

namespace velmora::test {

// A write fault put on a connection to a database file (in write-ahead-log mode), until lift():
// the database may not grow by a page, the disk refuses to let the log grow, or the connection is read-only.
class WriteFault
{
public:
    enum Kind { DatabaseFull, DiskRefuses, ReadOnly };

    WriteFault(sqlite3* connection, const std::string& databasePath, Kind kind);
    ~WriteFault() { lift(); }
    WriteFault(const WriteFault&) = delete;
    WriteFault& operator=(const WriteFault&) = delete;

    bool ok() const { return m_ok; }
    void lift();

private:
    sqlite3* m_connection;
    Kind m_kind;
    std::unique_ptr<FileSizeLimit> m_limit;
    bool m_ok = false;
};

} // namespace velmora::test
