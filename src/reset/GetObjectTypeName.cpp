#include "GetObjectTypeName.h"

namespace zeph {

std::string GetObjectTypeName(std::int64_t objectType) {
    switch (objectType) {
    case 1:
        return "Subscriber";
    case 2:
        return "Distribution List";
    case 3:
        return "Call Handler";
    case 5:
        return "Inteview Handler"; // the server's administrators know it by this spelling
    case 6:
        return "Directory Handler";
    case 9:
        return "Location Object";
    default:
        return "Unknown";
    }
}

} // namespace zeph
