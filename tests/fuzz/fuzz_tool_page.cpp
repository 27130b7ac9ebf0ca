// libFuzzer entry for the tool page reader: any page gives a version text (possibly empty)
// made only of the page's own digits and dots, padded without a crash.
#include "extras/modUpdateCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string page(reinterpret_cast<const char *>(data), size);
    const std::string version = zeph::versionTextOfPage(page);
    if (version.size() > page.size() ||
        version.find_first_not_of("0123456789.") != std::string::npos)
        std::abort();
    (void)zeph::PadVersionString(version);
    return 0;
}
