#pragma once
// Reading and writing the byte forms of the TDS protocol: little-endian numbers (big-endian in
// packet headers and pre-login), and UTF-16LE text as the protocol carries every character
// string. A reader never reads past its end: a short or malformed message is a ProtocolError.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zeph::tds {

/// A message that breaks the protocol; the session ends the connection.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ByteReader {
public:
    explicit ByteReader(std::string_view bytes)
        : m_bytes(bytes) {}

    std::uint8_t u8();
    std::uint16_t u16();   // little-endian
    std::uint16_t u16be(); // big-endian
    std::uint32_t u32();
    std::uint64_t u64();
    std::string_view bytes(std::size_t n);
    /// `units` UTF-16 code units as UTF-8.
    std::string utf16(std::size_t units);
    /// A text with a one-byte (B_VARCHAR) or two-byte (US_VARCHAR) count of code units.
    std::string bVarchar() { return utf16(u8()); }
    std::string usVarchar() { return utf16(u16()); }
    void skip(std::size_t n) { bytes(n); }

    std::size_t position() const { return m_at; }
    std::size_t remaining() const { return m_bytes.size() - m_at; }
    bool atEnd() const { return m_at == m_bytes.size(); }
    std::string_view whole() const { return m_bytes; }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

class ByteWriter {
public:
    ByteWriter &u8(std::uint8_t v);
    ByteWriter &u16(std::uint16_t v);
    ByteWriter &u16be(std::uint16_t v);
    ByteWriter &u32(std::uint32_t v);
    ByteWriter &u64(std::uint64_t v);
    ByteWriter &bytes(std::string_view b);
    ByteWriter &utf16(std::string_view utf8);
    /// A text with a one-byte count of code units (cut to 255 units).
    ByteWriter &bVarchar(std::string_view utf8);
    /// A text with a two-byte count of code units (cut to 65,535 units).
    ByteWriter &usVarchar(std::string_view utf8);

    /// Writes a two-byte length at `at` (the number of bytes written after it).
    void patchLength16(std::size_t at);

    std::size_t size() const { return m_out.size(); }
    const std::string &data() const { return m_out; }
    std::string take() { return std::move(m_out); }

private:
    std::string m_out;
};

/// UTF-8 text as UTF-16LE bytes; a malformed byte becomes U+FFFD.
std::string toUtf16(std::string_view utf8);
/// UTF-16LE bytes as UTF-8; half a surrogate pair becomes U+FFFD.
std::string fromUtf16(std::string_view bytes);

} // namespace zeph::tds
