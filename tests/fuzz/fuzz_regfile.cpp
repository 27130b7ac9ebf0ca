// libFuzzer entry for the registry file reader: any bytes must parse or be refused with a
// line number, never crash; what parses must write out and parse again to the same text.
#include "standin/RegFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace zeph::sim::regfile;
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    Document doc;
    ParseError error;
    if (!parse(bytes, doc, error))
        return 0;
    const std::string written = write(doc);
    Document again;
    if (!parse(written, again, error) || write(again) != written)
        std::abort(); // a file we wrote must read back as written
    return 0;
}
