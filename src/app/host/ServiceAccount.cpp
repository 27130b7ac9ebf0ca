#include "ServiceAccount.h"

#include "WorkStationInfo.h"
#include "app/registry/RegistryAPI.h"
#include "platform/Error.h"

namespace zeph {

namespace {

// Lower case for ASCII letters and for the Latin-1 capitals, which UTF-8 writes as 0xC3
// followed by 0x80 to 0x9E (0x97 is the multiplication sign, not a letter).
std::string lowered(const std::string &text) {
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 0x20);
        } else if (c == 0xC3 && i + 1 < out.size()) {
            const auto next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97)
                out[i + 1] = static_cast<char>(next + 0x20);
            ++i;
        }
    }
    return out;
}

} // namespace

bool containsIgnoringCase(const std::string &text, const std::string &part) {
    if (text.empty())
        return false;
    return lowered(text).find(lowered(part)) != std::string::npos;
}

bool bCheckIfRunningAccountIsMessageStoreFacing(
    RegistryAPI &registry, WorkStationInfo &info,
    const std::function<void(const std::string &)> &report) {
    static const Where where{"bCheckIfRunningAccountIsMessageStoreFacing", "Module", "Module1"};
    bool facing = false;
    trap(where, report, [&] {
        const std::string account = regText(registry.QueryValue(
            HKEY_LOCAL_MACHINE, kMainServiceKey, "ObjectName", REG_SZ, std::string()));
        facing = containsIgnoringCase(account, info.UserName());
    });
    return facing;
}

} // namespace zeph
