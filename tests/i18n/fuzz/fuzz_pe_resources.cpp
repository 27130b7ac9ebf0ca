// libFuzzer entry for the language library reader: any bytes, read as a library, must give a
// string or nothing, never a crash or a read outside the input.
#include "platform/pe/PeResources.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const zeph::pe::MemorySource image(std::span<const std::uint8_t>(data, size));
    // The ids the program reads, the edges of a block, and ids whose block cannot exist.
    static constexpr std::uint32_t kIds[] = {0,   1,   15,  16,  18,  24,      30,         69,
                                             130, 237, 300, 310, 333, 0xFFFEF, 0xFFFFFFFFu};
    for (std::uint32_t id : kIds) {
        if (auto text = zeph::pe::findString(image, id))
            (void)zeph::pe::utf16ToUtf8(*text);
    }
    return 0;
}
