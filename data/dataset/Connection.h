#pragma once

#include "data/Backend.h"

#include <memory>
#include <string>
#include <vector>

namespace velmora::data {

class Dataset;

// How a connection shares the database file with other users.
enum class ConnectMode { ReadWrite, ShareDenyNone };

// A named connection holding an OLE DB connection string; connecting goes through connectProvider.
// The connection never prompts for a login and stays open while no dataset is open.
class Connection
{
public:
    Connection(std::string name, std::string connectionString, ConnectMode mode, std::string executableFolder);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& name() const { return m_name; }
    ConnectMode mode() const { return m_mode; }
    bool loginPrompt() const { return false; }

    // Only while closed; setting the value already held does nothing even while connected.
    void setConnectionString(const std::string& utf8);
    const std::string& connectionString() const { return m_connectionString; }

    // Seconds a command on this connection may run (0: no limit), DefaultCommandTimeoutSeconds unless set; a
    // dataset's own time-out counts instead when it is shorter. Applies at once, connected or not.
    void setCommandTimeout(int seconds);
    int commandTimeout() const { return m_commandTimeout; }

    // DatabaseError with the provider's message; stays closed on failure.
    void open();
    // Closes the datasets that use the connection, then the connection.
    void close();
    bool connected() const { return m_backend != nullptr; }

    // The open engine; DatabaseError when not connected.
    Backend& backend();
    // The open database's file (Backend::location), empty while closed.
    std::string location() const { return m_backend ? m_backend->location() : std::string(); }

private:
    friend class Dataset;
    void attach(Dataset* dataset);
    void detach(Dataset* dataset);

    std::string m_name;
    std::string m_connectionString;
    ConnectMode m_mode;
    std::string m_executableFolder;
    int m_commandTimeout = DefaultCommandTimeoutSeconds;
    std::unique_ptr<Backend> m_backend;
    std::vector<Dataset*> m_datasets;
};

} // namespace velmora::data
