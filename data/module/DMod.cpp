#include "data/module/DMod.h"

#include "data/Errors.h"

namespace velmora::data {

TDMod* DMod = nullptr;

TDMod::TDMod(std::string executableFolder)
{
    const auto findDataset = [this](std::string_view name) { return this->findDataset(name); };
    const std::span<const ComponentDefinition> entries = dataModuleCatalogue();
    m_components.reserve(entries.size());
    for (const ComponentDefinition& entry : entries) {
        Component component{std::string(entry.name), entry.type, nullptr, nullptr, nullptr};
        switch (entry.type) {
        case ComponentType::Connection:
            component.connection =
                std::make_unique<Connection>(component.name, std::string(entry.source), entry.mode, executableFolder);
            break;
        case ComponentType::Dataset:
            component.dataset =
                std::make_unique<Dataset>(component.name, connection(entry.connection), entry.settings,
                                          std::string(entry.source), declaredFieldsOf(entry), findDataset);
            break;
        case ComponentType::DataSource:
            // Linked below: a data source may name a dataset built after it.
            component.dataSource = std::make_unique<DataSource>(component.name, nullptr);
            break;
        }
        m_components.push_back(std::move(component));
    }
    for (const ComponentDefinition& entry : entries)
        if (entry.type == ComponentType::DataSource)
            dataSource(entry.name).setDataSet(&dataset(entry.source));

    m_ADOCON = &connection("ADOCON");
    m_ADOConn = &connection("ADOConn");
    m_tuser = &dataset("tuser");
    m_toper = &dataset("toper");
    m_typzdk = &dataset("typzdk");
    m_tkc = &dataset("tkc");
    m_tbm = &dataset("tbm");
    m_tdw = &dataset("tdw");
    m_dsuser = &dataSource("dsuser");
    DMod = this;
}

TDMod::~TDMod()
{
    if (DMod == this)
        DMod = nullptr;
    // Later components use earlier ones (datasets their connection), so they go first.
    while (!m_components.empty())
        m_components.pop_back();
}

TDMod::Component* TDMod::find(std::string_view name, ComponentType type)
{
    for (Component& component : m_components)
        if (component.type == type && text::equalsIgnoreCase(component.name, name))
            return &component;
    return nullptr;
}

Dataset* TDMod::findDataset(std::string_view name)
{
    Component* component = find(name, ComponentType::Dataset);
    return component ? component->dataset.get() : nullptr;
}

Dataset& TDMod::dataset(std::string_view name)
{
    if (Dataset* found = findDataset(name))
        return *found;
    throw DatabaseError("DMod: Dataset '" + std::string(name) + "' not found", ErrorKind::NotFound);
}

DataSource& TDMod::dataSource(std::string_view name)
{
    if (Component* component = find(name, ComponentType::DataSource))
        return *component->dataSource;
    throw DatabaseError("DMod: Data source '" + std::string(name) + "' not found", ErrorKind::NotFound);
}

Connection& TDMod::connection(std::string_view name)
{
    if (Component* component = find(name, ComponentType::Connection))
        return *component->connection;
    throw DatabaseError("DMod: Connection '" + std::string(name) + "' not found", ErrorKind::NotFound);
}

std::vector<std::string> TDMod::componentNames() const
{
    std::vector<std::string> names;
    for (const Component& component : m_components)
        names.push_back(component.name);
    return names;
}

std::vector<Dataset*> TDMod::datasets() const
{
    std::vector<Dataset*> all;
    for (const Component& component : m_components)
        if (component.dataset)
            all.push_back(component.dataset.get());
    return all;
}

} // namespace velmora::data
