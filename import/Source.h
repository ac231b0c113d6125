#pragma once

#include "access/AccessFile.h"
#include "import/TargetType.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora::transfer {

// Where an import's tables and rows come from: an Access file, another Velmora database (DatabaseSource), or tables
// a test makes up (nothing here writes Access files). Tables and values are described in Access's kinds.
class Source
{
public:
    virtual ~Source() = default;

    virtual std::vector<access::Table> tables() const = 0;
    // Each row of the table, values in its columns' order; onRow returns false to stop.
    virtual void readRows(const std::string& table,
                          const std::function<bool(const std::vector<access::Value>&)>& onRow) const = 0;
    // What the rows come from, for the summary.
    virtual std::string description() const = 0;
    // Tables the source only links to, whose rows it does not hold.
    virtual std::vector<access::LinkedTable> linkedTables() const { return {}; }
    // Doubts about what was read so far (text in a code page that looks wrong), for the summary.
    virtual std::vector<std::string> warnings() const { return {}; }
    // The type a column of the table is made with where the import makes it, when the source knows it better than
    // its Access kind tells (a database's own column types); none: as the kind maps (mappedType).
    virtual std::optional<TargetType> columnType(const std::string& table, std::size_t column) const
    {
        (void)table;
        (void)column;
        return std::nullopt;
    }
};

// An Access file read through mdbtools' library.
class AccessSource final : public Source
{
public:
    // jet3Charset: the code page of a Jet 3 file's text (access::File::open).
    AccessSource(const std::string& path, std::optional<std::string> jet3Charset = {});

    std::vector<access::Table> tables() const override { return m_file.tables(); }
    void readRows(const std::string& table,
                  const std::function<bool(const std::vector<access::Value>&)>& onRow) const override
    {
        m_file.readRows(table, onRow);
    }
    std::string description() const override;
    std::vector<access::LinkedTable> linkedTables() const override { return m_file.linkedTables(); }
    std::vector<std::string> warnings() const override { return m_file.warnings(); }

private:
    std::string m_path;
    access::File m_file;
};

} // namespace velmora::transfer
