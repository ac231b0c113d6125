#pragma once

#include "data/dataset/Connection.h"
#include "data/dataset/DataSource.h"
#include "data/dataset/Dataset.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::data {

enum class ComponentType { Connection, Dataset, DataSource };

// One component of the data module as the catalogue describes it.
struct ComponentDefinition
{
    std::string_view name;
    ComponentType type;
    // Connection: its connection string. Dataset: its table name or command text. Data source: its dataset.
    std::string_view source = {};
    // Dataset: the connection it uses. Connection: unused.
    std::string_view connection = {};
    DatasetSettings settings = {};
    ConnectMode mode = ConnectMode::ShareDenyNone;
    // Declared fields: the first `tableFieldCount` columns of `fieldsTable` (-1: those the table's own
    // dataset declares), or the list `fields`.
    std::string_view fieldsTable = {};
    int tableFieldCount = -1;
    std::span<const FieldDefinition> fields = {};
};

// The 62 components in the order the module builds them.
std::span<const ComponentDefinition> dataModuleCatalogue();
// The declared fields a catalogue entry gives its dataset.
std::vector<FieldDefinition> declaredFieldsOf(const ComponentDefinition& entry);

// The data module: two connections, 35 datasets and 25 data sources, built from the catalogue.
// Building it opens nothing.
class TDMod
{
public:
    explicit TDMod(std::string executableFolder); // sets the global DMod; the destructor clears it
    ~TDMod();
    TDMod(const TDMod&) = delete;
    TDMod& operator=(const TDMod&) = delete;

    Connection& ADOCON() { return *m_ADOCON; }
    Connection& ADOConn() { return *m_ADOConn; }
    Dataset& tuser() { return *m_tuser; }
    Dataset& toper() { return *m_toper; }
    Dataset& typzdk() { return *m_typzdk; }
    Dataset& tkc() { return *m_tkc; }
    Dataset& tbm() { return *m_tbm; }
    Dataset& tdw() { return *m_tdw; }
    DataSource& dsuser() { return *m_dsuser; }

    // By name, letter case ignored; DatabaseError when the module has no such component.
    Dataset& dataset(std::string_view name);
    DataSource& dataSource(std::string_view name);
    Connection& connection(std::string_view name);
    Dataset* findDataset(std::string_view name);

    std::vector<std::string> componentNames() const; // the 62, in order
    std::vector<Dataset*> datasets() const;

private:
    struct Component
    {
        std::string name;
        ComponentType type;
        std::unique_ptr<Connection> connection;
        std::unique_ptr<Dataset> dataset;
        std::unique_ptr<DataSource> dataSource;
    };
    Component* find(std::string_view name, ComponentType type);

    std::vector<Component> m_components;
    Connection* m_ADOCON = nullptr;
    Connection* m_ADOConn = nullptr;
    Dataset* m_tuser = nullptr;
    Dataset* m_toper = nullptr;
    Dataset* m_typzdk = nullptr;
    Dataset* m_tkc = nullptr;
    Dataset* m_tbm = nullptr;
    Dataset* m_tdw = nullptr;
    DataSource* m_dsuser = nullptr;
};

// The one data module of the program, reached by name.
extern TDMod* DMod;

} // namespace velmora::data
