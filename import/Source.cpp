#include "import/Source.h"

namespace velmora::transfer {

AccessSource::AccessSource(const std::string& path, std::optional<std::string> jet3Charset)
    : m_path(path), m_file(access::File::open(path, std::move(jet3Charset)))
{
}

std::string AccessSource::description() const
{
    return m_path + " (" + m_file.formatName() + ", text from " + m_file.textEncoding() + ")";
}

} // namespace velmora::transfer
