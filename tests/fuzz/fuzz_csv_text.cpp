// libFuzzer entry for the subscriber-list reader: any bytes are decoded, split into lines and
// fields and searched for the header names without a crash or a read outside the input.
#include "select/CsvText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::string text = zeph::decodeAnsiText(bytes);
    if (!zeph::isValidUtf8(text))
        std::abort(); // decoding always gives UTF-8
    zeph::LineReader lines(text);
    std::string_view line;
    bool header = true;
    while (lines.next(line)) {
        if (header) {
            (void)zeph::findCsvColumns(line, "extension");
            header = false;
        }
        for (std::string_view field : zeph::splitFields(line))
            (void)zeph::trimSpaces(field);
    }
    return 0;
}
