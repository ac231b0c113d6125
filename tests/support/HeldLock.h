#pragma once

// Another session that holds a lock on a test database, on a thread of its own with a connection of its own,
// until release() or at most a given time, so that a program that would wait for the lock still ends.

#include "tests/support/TestDatabase.h"

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace velmora::test {

class HeldLock
{
public:
    // `statements` take the lock inside a transaction the holder opens: on the file "BEGIN EXCLUSIVE" or
    // "BEGIN IMMEDIATE"; on the server "BEGIN; LOCK TABLE … IN … MODE". Returns once the lock is held.
    HeldLock(TestDatabase& db, const std::string& statements, std::chrono::seconds longest)
    {
        m_thread = std::thread([this, &db, statements, longest] { hold(db, statements, longest); });
        std::unique_lock lock(m_mutex);
        m_change.wait(lock, [this] { return m_state != State::Starting; });
    }
    ~HeldLock() { release(); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

    // Empty once the lock is held; else what went wrong.
    const std::string& error() const { return m_error; }

    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_state == State::Held)
                m_state = State::Releasing;
        }
        m_change.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    enum class State { Starting, Held, Releasing, Done };

    void hold(TestDatabase& db, const std::string& statements, std::chrono::seconds longest)
    {
        try {
            if (db.isServer()) {
                ServerSession session(db.source() + "?user=" + db.server()->user +
                                      "&password=" + db.server()->password);
                session.rows(statements);
                waitForRelease(longest);
                session.rows("ROLLBACK");
            } else {
                sqlite3* handle = nullptr;
                if (sqlite3_open_v2(db.path().c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
                    sqlite3_exec(handle, statements.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
                    const std::string text = sqlite3_errmsg(handle);
                    sqlite3_close(handle);
                    throw std::runtime_error(text);
                }
                waitForRelease(longest);
                sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
                sqlite3_close(handle);
            }
        } catch (const std::exception& e) {
            std::lock_guard lock(m_mutex);
            m_error = std::string("lock holder: ") + e.what();
        }
        std::lock_guard lock(m_mutex);
        m_state = State::Done;
        m_change.notify_all();
    }

    void waitForRelease(std::chrono::seconds longest)
    {
        std::unique_lock lock(m_mutex);
        m_state = State::Held;
        m_change.notify_all();
        m_change.wait_for(lock, longest, [this] { return m_state == State::Releasing; });
    }

    std::mutex m_mutex;
    std::condition_variable m_change;
    State m_state = State::Starting;
    std::string m_error;
    std::thread m_thread;
};

} // namespace velmora::test
