#pragma once
// Builds small language libraries (PE images with a string table) in memory, so that tests
// can place every structure where they want and damage it on purpose.

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace zeph::test {

struct PeImage {
    std::vector<std::uint8_t> bytes;
    // File offsets of what tests damage: "PE\0\0", the resource data directory, the section
    // header, the root resource directory, the string blocks' directory, the data entries.
    std::size_t peHeader = 0x40, resourceEntry = 0, sectionHeader = 0, resourceStart = 0;
    std::size_t nameDirectory = 0;
    std::vector<std::size_t> dataEntries;

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
    auto u32 = [](std::size_t n) { return static_cast<std::uint32_t>(n); };
    std::map<std::uint32_t, std::vector<std::u16string>> blocks;
    std::size_t textBytes = 0;
    for (const auto &[id, text] : strings) {
        textBytes += 2 * text.size();
        blocks[id / 16 + 1].resize(16);
        blocks[id / 16 + 1][id % 16] = text;
    }
    PeImage image;
    const std::size_t optional = image.peHeader + 24, directories = optional + (pe32 ? 96 : 112);
    image.resourceEntry = directories + 2 * 8;
    image.sectionHeader = directories + 16 * 8;
    image.resourceStart = align(image.sectionHeader + 40, 0x200);
    image.nameDirectory = image.resourceStart + 24;
    // The resource section: root, block directory, one language directory per block, the data
    // entries, then the blocks themselves.
    const std::size_t n = blocks.size(), names = 24, languages = names + 16 + 8 * n;
    const std::size_t entries = languages + 24 * n, s = image.resourceStart;
    std::size_t end = entries + 16 * n, i = 0;
    image.bytes.assign(s + end + 36 * n + textBytes, 0);
    image.put16(s + 14, 1), image.put32(s + 16, 6);
    image.put32(s + 20, 0x80000000u | names);
    image.put16(s + names + 14, u32(n));
    for (const auto &[blockId, texts] : blocks) {
        const std::size_t language = languages + 24 * i, entry = entries + 16 * i++;
        image.put32(s + names + 8 + 8 * i, blockId);
        image.put32(s + names + 12 + 8 * i, u32(0x80000000u | language));
        image.put16(s + language + 14, 1), image.put32(s + language + 16, 0x0409);
        image.put32(s + language + 20, u32(entry));
        image.put32(s + entry, u32(kRva + end));
        const std::size_t start = end;
        for (const auto &text : texts) {
            image.put16(s + end, u32(text.size()));
            for (char16_t c : text)
                image.put16(s + (end += 2), c);
            end += 2;
        }
        image.put32(s + entry + 4, u32(end - start));
        end = align(end, 4);
        image.dataEntries.push_back(s + entry);
    }
    image.bytes.resize(s + align(end, 0x200));
    image.put16(0, 'M' | 'Z' << 8);
    image.put32(0x3C, u32(image.peHeader));
    image.put16(image.peHeader, 'P' | 'E' << 8);
    image.put16(image.peHeader + 4, 0x8664);
    image.put16(image.peHeader + 6, 1); // sections
    image.put16(image.peHeader + 20, u32(image.sectionHeader - optional));
    image.put16(image.peHeader + 22, 0x2022);
    image.put16(optional, pe32 ? 0x10B : 0x20B);
    image.put32(directories - 4, 16);
    image.put32(image.resourceEntry, kRva), image.put32(image.resourceEntry + 4, u32(end));
    const std::size_t h = image.sectionHeader;
    image.put32(h, '.' | 'r' << 8 | 's' << 16 | 'r' << 24);
    image.put16(h + 4, 'c');
    image.put32(h + 8, u32(end)), image.put32(h + 12, kRva);
    image.put32(h + 16, u32(image.bytes.size() - s)), image.put32(h + 20, u32(s));
    image.put32(h + 36, 0x40000040);
    return image;
}

inline void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

} // namespace zeph::test
