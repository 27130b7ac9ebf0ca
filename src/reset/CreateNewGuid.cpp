#include "CreateNewGuid.h"

#include "platform/Error.h"

#include <cctype>

namespace zeph {

bool isBracedGuid(const std::string &text) {
    if (text.size() != kBracedGuidLength || text.front() != '{' || text.back() != '}')
        return false;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        bool dash = (i == 9 || i == 14 || i == 19 || i == 24);
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (dash ? c != '-' : !std::isxdigit(c))
            return false;
    }
    return true;
}

std::string CreateNewGuid(IGuidSource &guids) {
    // Generators may add a terminator or more after the closing brace; only the GUID counts.
    std::string guid = guids.newGuid().substr(0, kBracedGuidLength);
    if (!isBracedGuid(guid))
        throw Error(errnum::kInternal, "The GUID generator gave no GUID: " + guid);
    return guid;
}

} // namespace zeph
