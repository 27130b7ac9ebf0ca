#include "PeResources.h"

#include "platform/TextEncoding.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

namespace zeph::pe {

namespace {

// Layout of the headers and resource structures (all little-endian).
constexpr std::uint64_t kDosNewHeaderOffset = 0x3C; // e_lfanew
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
// A block holds 16 counted strings of at most 65535 code units each; a data entry that claims
// more than that cannot be a string block, and reading it all would only cost memory.
constexpr std::uint64_t kMaxBlockSize = 16u * (2u + 2u * 65535u);

std::uint16_t le16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t le32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t mappedSize = 0; // bytes of the section that come from the file
    std::uint32_t fileOffset = 0;
};

// The parts of one image that a look-up needs, each read and checked once.
class Image {
public:
    explicit Image(const ByteSource &source)
        : m_source(source) {}

    // Reads the headers and section table; false when they are not those of a PE file.
    bool open();

    std::uint32_t resourceRoot() const { return m_resourceRva; }

    // Copies `count` bytes at a relative virtual address; false unless all of them lie in one
    // section's file data and inside the file.
    bool readRva(std::uint64_t rva, std::size_t count, std::uint8_t *out) const;

private:
    bool readSections(std::uint64_t tableOffset, std::uint16_t count);

    const ByteSource &m_source;
    std::vector<Section> m_sections;
    std::uint32_t m_resourceRva = 0;
};

bool Image::open() {
    std::array<std::uint8_t, 4> word{};
    if (!m_source.read(0, 2, word.data()) || word[0] != 'M' || word[1] != 'Z')
        return false;
    if (!m_source.read(kDosNewHeaderOffset, 4, word.data()))
        return false;
    const std::uint64_t peOffset = le32(word.data());
    if (!m_source.read(peOffset, 4, word.data()) ||
        word != std::array<std::uint8_t, 4>{'P', 'E', 0, 0})
        return false;

    std::array<std::uint8_t, kCoffHeaderSize> coff{};
    if (!m_source.read(peOffset + 4, coff.size(), coff.data()))
        return false;
    const std::uint16_t sectionCount = le16(&coff[2]);
    const std::uint16_t optionalSize = le16(&coff[16]);
    const std::uint64_t optionalOffset = peOffset + 4 + kCoffHeaderSize;

    // The optional header says where the data directories start and how many there are.
    std::array<std::uint8_t, 2> magic{};
    if (optionalSize < 2 || !m_source.read(optionalOffset, 2, magic.data()))
        return false;
    std::uint64_t countField = 0;
    if (le16(magic.data()) == kPe32Magic)
        countField = 92;
    else if (le16(magic.data()) == kPe32PlusMagic)
        countField = 108;
    else
        return false;
    const std::uint64_t directories = countField + 4;
    const std::uint64_t resourceEntry = directories + 8 * kResourceDirectoryIndex;
    if (resourceEntry + 8 > optionalSize)
        return false;
    if (!m_source.read(optionalOffset + countField, 4, word.data()) ||
        le32(word.data()) <= kResourceDirectoryIndex)
        return false;
    std::array<std::uint8_t, 8> entry{};
    if (!m_source.read(optionalOffset + resourceEntry, entry.size(), entry.data()))
        return false;
    m_resourceRva = le32(&entry[0]);
    if (m_resourceRva == 0 || le32(&entry[4]) == 0)
        return false; // no resources at all
    return readSections(optionalOffset + optionalSize, sectionCount);
}

bool Image::readSections(std::uint64_t tableOffset, std::uint16_t count) {
    if (count == 0)
        return false;
    const std::size_t tableSize = std::size_t{count} * kSectionHeaderSize;
    std::vector<std::uint8_t> table(tableSize);
    if (!m_source.read(tableOffset, tableSize, table.data()))
        return false;
    m_sections.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t *h = table.data() + i * kSectionHeaderSize;
        const std::uint32_t virtualSize = le32(h + 8);
        const std::uint32_t rawSize = le32(h + 16);
        Section s;
        s.virtualAddress = le32(h + 12);
        s.fileOffset = le32(h + 20);
        // Only the file data that the section's virtual size covers is mapped; the rest of
        // the raw data is padding. A virtual size of 0 means the raw size.
        s.mappedSize = virtualSize == 0 ? rawSize : std::min(virtualSize, rawSize);
        m_sections.push_back(s);
    }
    return true;
}

bool Image::readRva(std::uint64_t rva, std::size_t count, std::uint8_t *out) const {
    for (const Section &s : m_sections) {
        if (rva < s.virtualAddress)
            continue;
        const std::uint64_t into = rva - s.virtualAddress;
        if (into >= s.mappedSize)
            continue;
        if (count > s.mappedSize - into)
            return false; // the range runs past the section's data
        return m_source.read(std::uint64_t{s.fileOffset} + into, count, out);
    }
    return false;
}

// The entry of a resource directory with this numeric id: its OffsetToData field.
std::optional<std::uint32_t> findById(const Image &image, std::uint32_t directory,
                                      std::uint32_t id) {
    const std::uint64_t rva = std::uint64_t{image.resourceRoot()} + directory;
    std::array<std::uint8_t, kDirectoryHeaderSize> header{};
    if (!image.readRva(rva, header.size(), header.data()))
        return std::nullopt;
    const std::size_t named = le16(&header[12]);
    const std::size_t numbered = le16(&header[14]);
    std::vector<std::uint8_t> entries((named + numbered) * kDirectoryEntrySize);
    if (entries.empty() ||
        !image.readRva(rva + kDirectoryHeaderSize, entries.size(), entries.data()))
        return std::nullopt;
    // Named entries come first; only the numbered ones can match.
    for (std::size_t i = named; i < named + numbered; ++i) {
        const std::uint8_t *e = entries.data() + i * kDirectoryEntrySize;
        const std::uint32_t name = le32(e);
        if ((name & kHighBit) == 0 && name == id)
            return le32(e + 4);
    }
    return std::nullopt;
}

// The first entry of a language directory that is data, not a further directory.
std::optional<std::uint32_t> firstDataEntry(const Image &image, std::uint32_t directory) {
    const std::uint64_t rva = std::uint64_t{image.resourceRoot()} + directory;
    std::array<std::uint8_t, kDirectoryHeaderSize> header{};
    if (!image.readRva(rva, header.size(), header.data()))
        return std::nullopt;
    const std::size_t count = std::size_t{le16(&header[12])} + le16(&header[14]);
    std::vector<std::uint8_t> entries(count * kDirectoryEntrySize);
    if (entries.empty() ||
        !image.readRva(rva + kDirectoryHeaderSize, entries.size(), entries.data()))
        return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t offset = le32(entries.data() + i * kDirectoryEntrySize + 4);
        if ((offset & kHighBit) == 0)
            return offset;
    }
    return std::nullopt;
}

// A directory offset from an entry that must point at a sub-directory.
std::optional<std::uint32_t> subdirectory(std::optional<std::uint32_t> offset) {
    if (!offset || (*offset & kHighBit) == 0)
        return std::nullopt;
    return *offset & ~kHighBit;
}

// The string at `index` of a block of 16 counted UTF-16 strings.
std::optional<std::u16string> stringInBlock(std::span<const std::uint8_t> block, unsigned index) {
    std::size_t pos = 0;
    for (unsigned i = 0;; ++i) {
        if (block.size() - pos < 2)
            return std::nullopt;
        const std::size_t length = le16(&block[pos]);
        pos += 2;
        if (block.size() - pos < 2 * length)
            return std::nullopt;
        if (i == index) {
            if (length == 0)
                return std::nullopt;
            std::u16string text(length, u'\0');
            for (std::size_t k = 0; k < length; ++k)
                text[k] = static_cast<char16_t>(le16(&block[pos + 2 * k]));
            return text;
        }
        pos += 2 * length;
    }
}

// A file read piece by piece, so that a huge file costs no memory.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string &path)
        : m_in(path, std::ios::binary) {
        if (m_in) {
            m_in.seekg(0, std::ios::end);
            const std::streamoff end = m_in.tellg();
            m_size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
        }
    }
    bool isOpen() const { return static_cast<bool>(m_in); }
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::size_t count, std::uint8_t *out) const override {
        if (offset > m_size || count > m_size - offset)
            return false;
        if (count == 0)
            return true;
        m_in.clear();
        m_in.seekg(static_cast<std::streamoff>(offset));
        m_in.read(reinterpret_cast<char *>(out), static_cast<std::streamsize>(count));
        return m_in.gcount() == static_cast<std::streamsize>(count);
    }

private:
    mutable std::ifstream m_in;
    std::uint64_t m_size = 0;
};

std::string nativePath(std::string path) {
#ifndef _WIN32
    std::replace(path.begin(), path.end(), '\\', '/');
#endif
    return path;
}

class PeResourceLoader : public IResourceLoader {
public:
    std::optional<std::string> loadString(const std::string &libraryPath, unsigned id) override {
        // Only a plain file can be a library; opening a pipe or device would wait or never end.
        const std::string path = nativePath(libraryPath);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec))
            return std::nullopt;
        FileSource file(path);
        if (!file.isOpen())
            return std::nullopt;
        auto text = findString(file, id);
        if (!text)
            return std::nullopt;
        return utf16ToUtf8(*text);
    }
};

} // namespace

bool MemorySource::read(std::uint64_t offset, std::size_t count, std::uint8_t *out) const {
    if (offset > m_bytes.size() || count > m_bytes.size() - offset)
        return false;
    std::copy_n(m_bytes.data() + offset, count, out);
    return true;
}

std::optional<std::u16string> findString(const ByteSource &source, std::uint32_t id) {
    // Resource names are 16-bit numbers: ids whose block number does not fit have no string.
    const std::uint32_t blockId = id / 16 + 1;
    if (blockId > 0xFFFF)
        return std::nullopt;
    Image image(source);
    if (!image.open())
        return std::nullopt;
    // Exactly three levels (type, name, language) are walked, so a directory that points back
    // at itself or at a parent cannot make the walk go round.
    auto names = subdirectory(findById(image, 0, kStringResourceType));
    if (!names)
        return std::nullopt;
    auto languages = subdirectory(findById(image, *names, blockId));
    if (!languages)
        return std::nullopt;
    auto dataEntry = firstDataEntry(image, *languages);
    if (!dataEntry)
        return std::nullopt;

    std::array<std::uint8_t, kDataEntrySize> entry{};
    if (!image.readRva(std::uint64_t{image.resourceRoot()} + *dataEntry, entry.size(),
                       entry.data()))
        return std::nullopt;
    const std::uint32_t dataRva = le32(&entry[0]); // data entries hold an address, not an offset
    const std::uint64_t dataSize = std::min<std::uint64_t>(le32(&entry[4]), kMaxBlockSize);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(dataSize));
    if (!image.readRva(dataRva, block.size(), block.data()))
        return std::nullopt;
    return stringInBlock(block, id % 16);
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((char32_t{c} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

std::unique_ptr<IResourceLoader> makeResourceLoader() {
    return std::make_unique<PeResourceLoader>();
}

} // namespace zeph::pe
