#pragma once
// Builds small language libraries (PE images with a string table) in memory, so that tests
// can place every structure where they want and damage it on purpose.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zeph::test {

struct PeImage {
    std::vector<std::uint8_t> bytes;
    // File offsets of the structures a test may damage.
    std::size_t peHeader = 0;             // "PE\0\0"
    std::size_t resourceEntry = 0;        // the resource data directory (RVA, size)
    std::size_t sectionHeader = 0;        // the one section's header
    std::size_t resourceStart = 0;        // the section's data: the root resource directory
    std::size_t nameDirectory = 0;        // the directory of string blocks
    std::vector<std::size_t> dataEntries; // one per block, in block order
    std::uint32_t resourceRva = 0;

    void put16(std::size_t offset, std::uint16_t value);
    void put32(std::size_t offset, std::uint32_t value);
    std::uint32_t get32(std::size_t offset) const;
};

/// A library whose string table holds these strings (grouped into blocks of 16 ids); PE32+
/// unless `pe32` is set.
PeImage buildStringLibrary(const std::map<std::uint32_t, std::u16string> &strings,
                           bool pe32 = false);

/// Writes bytes to a file.
void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes);
/// The whole content of a file.
std::vector<std::uint8_t> readBytes(const std::string &path);

} // namespace zeph::test
