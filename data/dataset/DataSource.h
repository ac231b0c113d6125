#pragma once

#include <string>
#include <utility>

namespace velmora::data {

class Dataset;

// Links one dataset to the controls that show it.
class DataSource
{
public:
    DataSource(std::string name, Dataset* dataSet) : m_name(std::move(name)), m_dataSet(dataSet) {}

    const std::string& name() const { return m_name; }
    Dataset* dataSet() const { return m_dataSet; }
    void setDataSet(Dataset* dataSet) { m_dataSet = dataSet; }

private:
    std::string m_name;
    Dataset* m_dataSet;
};

} // namespace velmora::data
