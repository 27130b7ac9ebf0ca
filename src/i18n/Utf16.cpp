#include "Utf16.h"

namespace zeph::i18n {

namespace {

// The bytes and UTF-16 units of the character that starts at `pos`. A byte that starts no
// valid sequence counts as one byte and one unit, as its replacement character would.
struct Step {
    std::size_t bytes;
    std::size_t units;
};

Step stepAt(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t bytes = 1;
    if (lead >= 0xF0 && lead <= 0xF4)
        bytes = 4;
    else if (lead >= 0xE0)
        bytes = lead <= 0xEF ? 3 : 1;
    else if (lead >= 0xC2)
        bytes = 2;
    if (bytes > text.size() - pos)
        return {1, 1};
    for (std::size_t i = 1; i < bytes; ++i) {
        if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80)
            return {1, 1};
    }
    return {bytes, bytes == 4 ? std::size_t{2} : std::size_t{1}};
}

} // namespace

std::size_t utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        const Step s = stepAt(utf8, pos);
        pos += s.bytes;
        units += s.units;
    }
    return units;
}

std::string cutToUtf16Units(std::string_view utf8, std::size_t maxUnits) {
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const Step s = stepAt(utf8, pos);
        if (units + s.units > maxUnits)
            break;
        pos += s.bytes;
        units += s.units;
    }
    return std::string(utf8.substr(0, pos));
}

} // namespace zeph::i18n
