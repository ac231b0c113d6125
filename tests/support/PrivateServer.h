#pragma once

// A PostgreSQL server of one test's own (scripts/pg-test-server.sh on a free port), which the test may stop
// with SIGSTOP as a hung server machine would be (connections stay open and nothing answers), restart as an
// administrator does (every session ended), or halt for good.

#include "tests/support/TestDatabase.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

class PrivateServer
{
public:
    PrivateServer()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-private-pg-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            m_whyNot = "no temporary folder";
            return;
        }
        m_folder = pattern;
        const int port = freePort();
        const std::string command = "VELMORA_PG_PORT=" + std::to_string(port) +
                                    " '" VELMORA_PG_SERVER_SCRIPT "' start '" + m_folder + "' >'" + m_folder +
                                    ".log' 2>&1";
        std::string uri;
        if (port > 0 && std::system(command.c_str()) == 0)
            std::getline(std::ifstream(m_folder + "/env"), uri);
        const std::string prefix = "VELMORA_TEST_PG=";
        if (uri.rfind(prefix, 0) != 0) {
            m_whyNot =
                "the private PostgreSQL server did not start (needs the postgresql package): see " + m_folder + ".log";
            return;
        }
        m_server = serverOf(uri.substr(prefix.size()).c_str());
    }

    ~PrivateServer()
    {
        resume();
        if (!m_folder.empty()) {
            const std::string command = "'" VELMORA_PG_SERVER_SCRIPT "' stop '" + m_folder + "' >/dev/null 2>&1";
            if (std::system(command.c_str()) == 0)
                std::filesystem::remove(m_folder + ".log");
        }
    }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    // Empty when the server runs; else why not, for the skip.
    const std::string& whyNot() const { return m_whyNot; }
    const TestServer& server() const { return *m_server; }

    // Stops every process of the server until resume(), or at most `longest`, so that a test of a program that
    // would wait for ever still ends.
    void pause(std::chrono::seconds longest)
    {
        resume();
        m_stopped = serverProcesses();
        for (int pid : m_stopped)
            ::kill(pid, SIGSTOP);
        m_resumed = false;
        m_watchdog = std::thread([this, longest] {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, longest, [this] { return m_resumed; }))
                continueAll();
        });
    }

    // Restarts the server on the same port and data (fast: every session is ended); false when it did not come back.
    bool restart()
    {
        resume();
        return control("restart");
    }

    // Stops the server for good, keeping its folder; false when it did not stop.
    bool halt()
    {
        resume();
        return control("halt");
    }

    void resume()
    {
        if (!m_watchdog.joinable())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_resumed = true;
            continueAll();
        }
        m_wake.notify_all();
        m_watchdog.join();
    }

private:
    bool control(const char* command) const
    {
        const std::string line = "'" VELMORA_PG_SERVER_SCRIPT "' " + std::string(command) + " '" + m_folder + "' >>'" +
                                 m_folder + ".log' 2>&1";
        return !m_folder.empty() && std::system(line.c_str()) == 0;
    }

    static int freePort()
    {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (s >= 0)
            ::close(s);
        return port;
    }

    // The postmaster (the first line of its pid file) and its children.
    std::vector<int> serverProcesses() const
    {
        std::vector<int> pids;
        int postmaster = 0;
        std::ifstream(m_folder + "/data/postmaster.pid") >> postmaster;
        if (postmaster <= 0)
            return pids;
        pids.push_back(postmaster);
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::string stat;
            std::getline(std::ifstream(entry.path() / "stat"), stat);
            // pid (comm) state ppid ...: the command may hold blanks and parentheses, the last ')' ends it.
            const auto close = stat.rfind(')');
            int parent = 0;
            char state = 0;
            if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
                parent == postmaster)
                pids.push_back(std::stoi(name));
        }
        return pids;
    }

    void continueAll()
    {
        for (int pid : m_stopped)
            ::kill(pid, SIGCONT);
        m_stopped.clear();
    }

    std::string m_folder;
    std::string m_whyNot;
    std::optional<TestServer> m_server;
    std::vector<int> m_stopped;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_resumed = true;
    std::thread m_watchdog;
};

} // namespace velmora::test
