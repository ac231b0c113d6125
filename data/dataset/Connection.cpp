#include "data/dataset/Connection.h"

#include "data/Errors.h"
#include "data/dataset/Dataset.h"

#include <algorithm>

namespace velmora::data {

Connection::Connection(std::string name, std::string connectionString, ConnectMode mode, std::string executableFolder)
    : m_name(std::move(name)), m_connectionString(std::move(connectionString)), m_mode(mode),
      m_executableFolder(std::move(executableFolder))
{
}

Connection::~Connection()
{
    for (Dataset* dataset : m_datasets)
        dataset->close();
}

void Connection::setConnectionString(const std::string& utf8)
{
    if (utf8 == m_connectionString)
        return;
    if (connected())
        throw DatabaseError("Operation is not allowed when the object is open.");
    m_connectionString = utf8;
}

void Connection::setCommandTimeout(int seconds)
{
    m_commandTimeout = seconds;
    if (m_backend)
        m_backend->setCommandTimeout(seconds);
}

void Connection::open()
{
    if (connected())
        return;
    std::unique_ptr<Backend> backend = connectProvider(m_connectionString, m_executableFolder);
    backend->setCommandTimeout(m_commandTimeout);
    m_backend = std::move(backend);
}

void Connection::close()
{
    for (Dataset* dataset : m_datasets)
        dataset->close();
    m_backend.reset();
}

Backend& Connection::backend()
{
    if (!m_backend)
        throw DatabaseError(m_name + ": Connection is closed");
    return *m_backend;
}

void Connection::attach(Dataset* dataset)
{
    m_datasets.push_back(dataset);
}

void Connection::detach(Dataset* dataset)
{
    std::erase(m_datasets, dataset);
}

} // namespace velmora::data
