#pragma once
// The help window's page address and its resize rule (in twips).

#include <string>

namespace zeph {

struct TwipRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct HelpWindowLayout {
    int windowWidth = 0;
    int windowHeight = 0;
    TwipRect browser;
};

inline constexpr int kHelpMinWidth = 2500;
inline constexpr int kHelpMinHeight = 2400;

/// A window smaller than 2500 by 2400 twips snaps back to that size; the browser fills it
/// from left 100, top 1, less 200 in width and 400 in height.
HelpWindowLayout helpFormResize(int widthTwips, int heightTwips);

/// "file://" + program folder + "\Zephrane.htm".
std::string helpPageAddress(const std::string &programFolder);

/// The file a "file://" page address names, its folders parted by "/" as the file functions of
/// every system read them: "file://C:\Tools\Zephrane.htm" is "C:/Tools/Zephrane.htm",
/// "file:///opt/z\Zephrane.htm" is "/opt/z/Zephrane.htm", "file://\\srv\share\Zephrane.htm"
/// is "//srv/share/Zephrane.htm". Empty for an address of another kind.
std::string helpPagePath(const std::string &address);

} // namespace zeph
