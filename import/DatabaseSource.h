#pragma once

#include "data/Backend.h"
#include "import/Source.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora::transfer {

// A Velmora database, a file or a server's, as the source of `velmora-db copy`: every table it holds but the ones
// the engine keeps for itself (a file's password verifier), each column described by what the backend reports of
// it, and every row as the backend reads it, inside one read-only transaction so that the copy is one state of the
// database. The import then takes it as it takes an Access file.
class DatabaseSource final : public Source
{
public:
    // Takes over the open backend; `engine` says which kind it is.
    DatabaseSource(std::unique_ptr<data::Backend> backend, Engine engine);
    ~DatabaseSource() override;
    DatabaseSource(const DatabaseSource&) = delete;
    DatabaseSource& operator=(const DatabaseSource&) = delete;

    std::vector<access::Table> tables() const override { return m_tables; }
    void readRows(const std::string& table,
                  const std::function<bool(const std::vector<access::Value>&)>& onRow) const override;
    std::string description() const override { return m_backend->location(); }
    std::optional<TargetType> columnType(const std::string& table, std::size_t column) const override;

    data::Backend& backend() const { return *m_backend; }

private:
    struct Described
    {
        std::vector<TargetType> types; // per column, as the database declares it
    };

    void describe(const std::string& table);
    std::vector<std::string> names(const std::string& sql) const;

    std::unique_ptr<data::Backend> m_backend;
    Engine m_engine;
    std::vector<access::Table> m_tables;
    std::map<std::string, Described> m_described; // by table name
};

// The Access kind a column the backend describes is read as, for the import's conversion of its values.
access::Kind accessKindOf(const data::ColumnDescription& column);

} // namespace velmora::transfer
