#pragma once

// What the files of PgBackend share and nobody else sees: the frame every command runs in, and parameters as
// libpq takes them.

#include "data/engines/PgBackend.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora::data {

template <typename Body> auto PgBackend::command(Access access, Body&& body) -> decltype(body())
{
    if (m_commandDepth > 0)
        return body();
    struct Depth
    {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } depth(m_commandDepth);
    m_sentInCommand = false;
    m_rowsDelivered = false;
    try {
        return body();
    } catch (const LostConnection& lost) {
        recover(lost, access); // connected anew, or the command's message thrown
    }
    m_sentInCommand = false;
    m_rowsDelivered = false;
    try {
        return body();
    } catch (const LostConnection& again) {
        throw DatabaseError(lostAgainMessage(again.what()), ErrorKind::Connection);
    }
}

// The texts of parameters as libpq takes them: null for NULL. The pointers are good while `texts` lives.
inline std::vector<const char*> parameterPointers(const std::vector<std::optional<std::string>>& texts)
{
    std::vector<const char*> pointers;
    for (const auto& text : texts)
        pointers.push_back(text ? text->c_str() : nullptr);
    return pointers;
}

} // namespace velmora::data
