#pragma once
// Whether a newer version of the tool is published on its page on the tools web site.

#include "app/registry/RegistryAPI.h"
#include "platform/Host.h"

#include <string>

namespace zeph {

class modUpdateCheck {
public:
    /// The most of a page that is kept in memory; the version stands near its top.
    static constexpr std::size_t kMaxPageBytes = 1024 * 1024;

    modUpdateCheck(Host &host, RegistryAPI &registry);

    /// Compares the published version with the own one and says which is the case in a
    /// message box, offering to open the page when a newer one is published.
    void CheckForUpdate();
    /// The padded version text shown on the page at `address`, or "".
    std::string GetPublishedVersion(const std::string &address);
    /// The page's whole content (at most kMaxPageBytes of it), or "" when it cannot be read.
    std::string FetchUrl(const std::string &address);

private:
    Host &m_host;
    RegistryAPI &m_registry;
};

/// Every dot-separated part zero-filled on the left to four digits: 1.0.5 -> 0001.0000.0005.
/// Texts shorter than 4 characters give "".
std::string PadVersionString(const std::string &version);

/// The version run read from a page by the page-format rules ("" when the page is shorter
/// than 10 characters); not yet padded.
std::string versionTextOfPage(const std::string &page);

} // namespace zeph
