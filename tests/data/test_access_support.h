#pragma once

#include "data/SqliteBackend.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace velmora::data::test {

// A folder of its own under the system's temporary folder, removed afterwards.
class TempDir
{
public:
    TempDir()
    {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_path = std::filesystem::temp_directory_path() / ("velmora-access-" + std::to_string(::getpid()) + "-" +
                                                           std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }
    // The folder with a trailing '/', as the platform gives the executable's folder.
    std::string folder() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

// A database file made with the plain SQLite API, running the given schema.
inline void makeDatabase(const std::string& path, const std::string& schema)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot create " + path);
    }
    char* error = nullptr;
    const int rc = sqlite3_exec(db, schema.c_str(), nullptr, nullptr, &error);
    std::string text = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("schema failed: " + text);
}

} // namespace velmora::data::test
