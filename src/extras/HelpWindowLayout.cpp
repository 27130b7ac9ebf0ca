#include "HelpWindowLayout.h"

#include <algorithm>

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

} // namespace zeph
