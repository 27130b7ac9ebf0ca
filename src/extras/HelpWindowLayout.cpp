#include "HelpWindowLayout.h"

#include <algorithm>
#include <cctype>

namespace zeph {

HelpWindowLayout helpFormResize(int widthTwips, int heightTwips) {
    HelpWindowLayout layout;
    layout.windowWidth = std::max(widthTwips, kHelpMinWidth);
    layout.windowHeight = std::max(heightTwips, kHelpMinHeight);
    layout.browser = {100, 1, layout.windowWidth - 200, layout.windowHeight - 400};
    return layout;
}

std::string helpPageAddress(const std::string &programFolder) {
    return "file://" + programFolder + "\\Zephrane.htm";
}

std::string helpPagePath(const std::string &address) {
    static const std::string scheme = "file://";
    if (address.size() < scheme.size() ||
        !std::equal(scheme.begin(), scheme.end(), address.begin(), [](char wanted, char c) {
            return wanted == std::tolower(static_cast<unsigned char>(c));
        }))
        return {};
    std::string path = address.substr(scheme.size());
    std::replace(path.begin(), path.end(), '\\', '/');
    // "file:///C:/..." names a drive's file too.
    if (path.size() >= 3 && path[0] == '/' && std::isalpha(static_cast<unsigned char>(path[1])) &&
        path[2] == ':')
        path.erase(0, 1);
    return path;
}

} // namespace zeph
