#include "data/engines/CopyText.h"

namespace velmora::data {

void appendCopyField(std::string& out, std::string_view text)
{
    std::size_t plain = 0; // the start of the run of characters copied as they are
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* escape = nullptr;
        switch (text[i]) {
        case '\\':
            escape = "\\\\";
            break;
        case '\t':
            escape = "\\t";
            break;
        case '\n':
            escape = "\\n";
            break;
        case '\r':
            escape = "\\r";
            break;
        default:
            continue;
        }
        out.append(text.substr(plain, i - plain));
        out += escape;
        plain = i + 1;
    }
    out.append(text.substr(plain));
}

} // namespace velmora::data
