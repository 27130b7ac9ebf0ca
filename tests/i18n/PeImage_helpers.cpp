#include "PeImage.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zeph::test {

void PeImage::put16(std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PeImage::put32(std::size_t offset, std::uint32_t value) {
    put16(offset, static_cast<std::uint16_t>(value));
    put16(offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint32_t PeImage::get32(std::size_t offset) const {
    return static_cast<std::uint32_t>(bytes.at(offset)) | bytes.at(offset + 1) << 8 |
           bytes.at(offset + 2) << 16 | static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24;
}

namespace {

constexpr std::size_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionRva = 0x1000;

std::size_t alignUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

} // namespace

PeImage buildStringLibrary(const std::map<std::uint32_t, std::u16string> &strings, bool pe32) {
    // Blocks of 16 strings: block id / 16 + 1, each entry a count and its UTF-16 units.
    std::map<std::uint32_t, std::vector<std::u16string>> blocks;
    for (const auto &[id, text] : strings) {
        auto &block = blocks[id / 16 + 1];
        block.resize(16);
        block[id % 16] = text;
    }

    PeImage image;
    const std::size_t optionalSize = pe32 ? 96 + 16 * 8 : 112 + 16 * 8;
    image.peHeader = 0x40;
    const std::size_t optional = image.peHeader + 4 + 20;
    image.sectionHeader = optional + optionalSize;
    image.resourceStart = alignUp(image.sectionHeader + 40, kFileAlignment);
    image.resourceRva = kSectionRva;

    // The resource section: root, name directory, one language directory per block, the data
    // entries, then the blocks themselves.
    const std::size_t root = 0;
    const std::size_t names = root + 16 + 8;
    const std::size_t languages = names + 16 + 8 * blocks.size();
    const std::size_t entries = languages + (16 + 8) * blocks.size();
    std::vector<std::uint8_t> section(entries + 16 * blocks.size());
    auto put16 = [&section](std::size_t at, std::uint32_t v) {
        section.at(at) = static_cast<std::uint8_t>(v);
        section.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    put16(root + 14, 1);
    put32(root + 16, 6);
    put32(root + 20, 0x80000000u | static_cast<std::uint32_t>(names));
    put16(names + 14, static_cast<std::uint16_t>(blocks.size()));
    std::size_t i = 0;
    for (const auto &[blockId, texts] : blocks) {
        const std::size_t language = languages + (16 + 8) * i;
        const std::size_t entry = entries + 16 * i;
        put32(names + 16 + 8 * i, blockId);
        put32(names + 16 + 8 * i + 4, 0x80000000u | static_cast<std::uint32_t>(language));
        put16(language + 14, 1);
        put32(language + 16, 0x0409);
        put32(language + 20, static_cast<std::uint32_t>(entry));
        std::vector<std::uint8_t> block;
        for (const auto &text : texts) {
            block.push_back(static_cast<std::uint8_t>(text.size()));
            block.push_back(static_cast<std::uint8_t>(text.size() >> 8));
            for (char16_t c : text) {
                block.push_back(static_cast<std::uint8_t>(c));
                block.push_back(static_cast<std::uint8_t>(c >> 8));
            }
        }
        put32(entry, kSectionRva + static_cast<std::uint32_t>(section.size()));
        put32(entry + 4, static_cast<std::uint32_t>(block.size()));
        section.insert(section.end(), block.begin(), block.end());
        section.resize(alignUp(section.size(), 4));
        image.dataEntries.push_back(image.resourceStart + entry);
        ++i;
    }
    image.nameDirectory = image.resourceStart + names;
    const std::size_t rawSize = alignUp(section.size(), kFileAlignment);

    image.bytes.assign(image.resourceStart + rawSize, 0);
    image.bytes[0] = 'M';
    image.bytes[1] = 'Z';
    image.put32(0x3C, static_cast<std::uint32_t>(image.peHeader));
    image.bytes[image.peHeader] = 'P';
    image.bytes[image.peHeader + 1] = 'E';
    image.put16(image.peHeader + 4, 0x8664);
    image.put16(image.peHeader + 6, 1); // sections
    image.put16(image.peHeader + 20, static_cast<std::uint16_t>(optionalSize));
    image.put16(image.peHeader + 22, 0x2022);
    image.put16(optional, pe32 ? 0x10B : 0x20B);
    const std::size_t directories = optional + (pe32 ? 96 : 112);
    image.put32(directories - 4, 16);
    image.resourceEntry = directories + 2 * 8;
    image.put32(image.resourceEntry, kSectionRva);
    image.put32(image.resourceEntry + 4, static_cast<std::uint32_t>(section.size()));
    const char name[] = ".rsrc";
    std::copy(name, name + 5,
              image.bytes.begin() + static_cast<std::ptrdiff_t>(image.sectionHeader));
    image.put32(image.sectionHeader + 8, static_cast<std::uint32_t>(section.size()));
    image.put32(image.sectionHeader + 12, kSectionRva);
    image.put32(image.sectionHeader + 16, static_cast<std::uint32_t>(rawSize));
    image.put32(image.sectionHeader + 20, static_cast<std::uint32_t>(image.resourceStart));
    image.put32(image.sectionHeader + 36, 0x40000040);
    std::copy(section.begin(), section.end(),
              image.bytes.begin() + static_cast<std::ptrdiff_t>(image.resourceStart));
    return image;
}

void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> readBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace zeph::test
