#pragma once
// Language libraries read as data: the string table of a Windows resource-only library (a PE
// file), found by walking its headers and resource directory ourselves, so that the same code
// reads them on every OS. Every offset and size is checked against the file: a truncated,
// damaged or hostile file yields no string, never a read outside the file.

#include "platform/Resources.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zeph::pe {

/// Random access to the bytes of a file or of memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    /// Copies `count` bytes from `offset` into `out`; false when any of them lies outside the
    /// source or cannot be read.
    virtual bool read(std::uint64_t offset, std::size_t count, std::uint8_t *out) const = 0;
};

/// Bytes already in memory (a test's image, a fuzzer's input).
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes)
        : m_bytes(bytes) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    bool read(std::uint64_t offset, std::size_t count, std::uint8_t *out) const override;

private:
    std::span<const std::uint8_t> m_bytes;
};

/// The resource type that holds string tables (RT_STRING).
inline constexpr std::uint32_t kStringResourceType = 6;

/// The string with this id from the image's string table, as UTF-16 code units. Strings are
/// kept in blocks of 16: block id / 16 + 1, entry id % 16. Nothing when the image is not a
/// valid PE file, lacks the string, or the string is empty (an empty entry is no string).
std::optional<std::u16string> findString(const ByteSource &image, std::uint32_t id);

/// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

/// Reads language libraries from files; paths may be written with backslashes.
std::unique_ptr<IResourceLoader> makeResourceLoader();

} // namespace zeph::pe
