#include "modUpdateCheck.h"
#include "platform/AsciiText.h"

#include "app/Version.h"
#include "extras/ToolPage.h"
#include "platform/Error.h"

#include <algorithm>
#include <cctype>

namespace zeph {

namespace {

constexpr const char *kMakerAndProduct = "Ambrel Tarvo";

// "0###": a whole number zero-filled on the left to at least four digits; a part that is not
// a number stays as it is.
std::string padPart(const std::string &part) {
    if (part.empty() ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return part;
    std::string digits = part.substr(std::min(part.find_first_not_of('0'), part.size() - 1));
    return digits.size() >= 4 ? digits : std::string(4 - digits.size(), '0') + digits;
}

} // namespace

std::string PadVersionString(const std::string &version) {
    if (version.size() < 4)
        return {};
    std::string padded;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = version.find('.', start);
        padded += padPart(
            version.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos)
            break;
        padded += '.';
        start = dot + 1;
    }
    return padded;
}

std::string versionTextOfPage(const std::string &page) {
    if (page.size() < 10)
        return {};
    // Positions as the page format counts them, from 1; 0 means "not found".
    std::size_t p = 0;
    if (std::size_t marker = findIgnoreCase(page, ">version<"); marker != std::string::npos) {
        std::size_t font = findIgnoreCase(page, "Helvetica", marker);
        p = font == std::string::npos ? 0 : font + 1;
    }
    p += 11;
    std::string run;
    for (std::size_t i = p - 1; i < page.size(); ++i) {
        const char c = page[i];
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.'))
            break;
        run += c;
    }
    return run;
}

modUpdateCheck::modUpdateCheck(Host &host, RegistryAPI &registry)
    : m_host(host)
    , m_registry(registry) {}

std::string modUpdateCheck::FetchUrl(const std::string &address) {
    try {
        return m_host.http->fetchUrl(address, "HTTP Generic", kMaxPageBytes).value_or("");
    } catch (...) {
        return {};
    }
}

std::string modUpdateCheck::GetPublishedVersion(const std::string &address) {
    return PadVersionString(versionTextOfPage(FetchUrl(address)));
}

void modUpdateCheck::CheckForUpdate() {
    const std::string address = ToolPageAddress(m_registry);
    const std::string site = ToolSiteName(m_registry);
    const std::string published = GetPublishedVersion(address);
    const std::string own = PadVersionString(ownVersionText());
    IUserInterface &ui = *m_host.ui;
    if (published.empty()) {
        ui.messageBox("Unable to contact application home page to check for version.  You can "
                      "access the home page and check for updated versions of all " +
                      std::string(kMakerAndProduct) + " tools by going to " + site);
        return;
    }
    if (own < published) {
        const MsgAnswer answer = ui.messageBox(
            "An updated version of this tool is available on " + site +
                ".  Click OK to open the application home page now",
            MsgButtons::OKCancel, MsgIcon::Information, "Updated version is available");
        if (answer == MsgAnswer::OK)
            m_host.shell->openDocument(address);
        return;
    }
    ui.messageBox("You have the most up to date version of this tool installed");
}

} // namespace zeph
