#pragma once
// Builds small language libraries (PE images with a string table) in memory, so that tests
// can place every structure where they want and damage it on purpose.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace zeph::test {

struct PeImage {
    std::vector<std::uint8_t> bytes;
    // File offsets of the structures a test may damage.
    std::size_t peHeader = 0x40;          // "PE\0\0"
    std::size_t resourceEntry = 0;        // the resource data directory (RVA, size)
    std::size_t sectionHeader = 0;        // the one section's header
    std::size_t resourceStart = 0;        // the section's data: the root resource directory
    std::size_t nameDirectory = 0;        // the directory of string blocks
    std::vector<std::size_t> dataEntries; // one per block, in block order

    void put16(std::size_t at, std::uint32_t v) {
        bytes.at(at) = static_cast<std::uint8_t>(v);
        bytes.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
    }
    void put32(std::size_t at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    }
};

/// A library whose string table holds these strings (in blocks of 16 ids); PE32+ unless `pe32`.
inline PeImage buildStringLibrary(const std::map<std::uint32_t, std::u16string> &strings,
                                  bool pe32 = false) {
    constexpr std::uint32_t kRva = 0x1000;
    auto align = [](std::size_t n, std::size_t to) { return (n + to - 1) / to * to; };
    std::map<std::uint32_t, std::vector<std::u16string>> blocks;
    std::size_t textBytes = 0;
    for (const auto &[id, text] : strings) {
        textBytes += 2 * text.size();
        auto &block = blocks[id / 16 + 1];
        block.resize(16);
        block[id % 16] = text;
    }
    PeImage image;
    const std::size_t optional = image.peHeader + 24;
    const std::size_t directories = optional + (pe32 ? 96 : 112);
    image.resourceEntry = directories + 2 * 8;
    image.sectionHeader = directories + 16 * 8;
    image.resourceStart = align(image.sectionHeader + 40, 0x200);
    image.nameDirectory = image.resourceStart + 24;
    // The resource section, written in place: root, block directory, one language directory
    // per block, the data entries, then the blocks themselves.
    const std::size_t n = blocks.size(), names = 24, languages = names + 16 + 8 * n;
    const std::size_t entries = languages + 24 * n;
    std::size_t end = entries + 16 * n;
    image.bytes.assign(image.resourceStart + end + 36 * n + textBytes, 0);
    const std::size_t s = image.resourceStart;
    image.put16(s + 14, 1);
    image.put32(s + 16, 6);
    image.put32(s + 20, 0x80000000u | names);
    image.put16(s + names + 14, static_cast<std::uint32_t>(n));
    std::size_t i = 0;
    for (const auto &[blockId, texts] : blocks) {
        const std::size_t language = languages + 24 * i, entry = entries + 16 * i;
        image.put32(s + names + 16 + 8 * i, blockId);
        image.put32(s + names + 20 + 8 * i, static_cast<std::uint32_t>(0x80000000u | language));
        image.put16(s + language + 14, 1);
        image.put32(s + language + 16, 0x0409);
        image.put32(s + language + 20, static_cast<std::uint32_t>(entry));
        image.put32(s + entry, static_cast<std::uint32_t>(kRva + end));
        const std::size_t start = end;
        for (const auto &text : texts) {
            image.put16(s + end, static_cast<std::uint32_t>(text.size()));
            end += 2;
            for (char16_t c : text) {
                image.put16(s + end, c);
                end += 2;
            }
        }
        image.put32(s + entry + 4, static_cast<std::uint32_t>(end - start));
        end = align(end, 4);
        image.dataEntries.push_back(s + entry);
        ++i;
    }
    image.bytes.resize(s + align(end, 0x200));
    image.bytes[0] = 'M';
    image.bytes[1] = 'Z';
    image.put32(0x3C, static_cast<std::uint32_t>(image.peHeader));
    image.put16(image.peHeader, 'P' | 'E' << 8);
    image.put16(image.peHeader + 4, 0x8664);
    image.put16(image.peHeader + 6, 1); // sections
    image.put16(image.peHeader + 20, static_cast<std::uint32_t>(image.sectionHeader - optional));
    image.put16(image.peHeader + 22, 0x2022);
    image.put16(optional, pe32 ? 0x10B : 0x20B);
    image.put32(directories - 4, 16);
    image.put32(image.resourceEntry, kRva);
    image.put32(image.resourceEntry + 4, static_cast<std::uint32_t>(end));
    const std::size_t h = image.sectionHeader;
    image.put32(h, '.' | 'r' << 8 | 's' << 16 | 'r' << 24);
    image.put16(h + 4, 'c');
    image.put32(h + 8, static_cast<std::uint32_t>(end));
    image.put32(h + 12, kRva);
    image.put32(h + 16, static_cast<std::uint32_t>(image.bytes.size() - s));
    image.put32(h + 20, static_cast<std::uint32_t>(s));
    image.put32(h + 36, 0x40000040);
    return image;
}

inline void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

} // namespace zeph::test
