#include "TdsBytes.h"

#include "platform/TextEncoding.h"

namespace zeph::tds {
namespace {

void appendUnit(std::string &out, std::uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

} // namespace

std::uint8_t ByteReader::u8() {
    return static_cast<std::uint8_t>(bytes(1)[0]);
}

std::uint16_t ByteReader::u16() {
    std::string_view b = bytes(2);
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) |
                                      static_cast<std::uint8_t>(b[1]) << 8);
}

std::uint16_t ByteReader::u16be() {
    std::string_view b = bytes(2);
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) << 8 |
                                      static_cast<std::uint8_t>(b[1]));
}

std::uint32_t ByteReader::u32() {
    std::uint32_t low = u16();
    return low | static_cast<std::uint32_t>(u16()) << 16;
}

std::uint64_t ByteReader::u64() {
    std::uint64_t low = u32();
    return low | static_cast<std::uint64_t>(u32()) << 32;
}

std::string_view ByteReader::bytes(std::size_t n) {
    if (n > remaining())
        throw ProtocolError("a message ends before its contents do");
    std::string_view part = m_bytes.substr(m_at, n);
    m_at += n;
    return part;
}

std::string ByteReader::utf16(std::size_t units) {
    if (units > remaining() / 2)
        throw ProtocolError("a text runs past the end of its message");
    return fromUtf16(bytes(units * 2));
}

ByteWriter &ByteWriter::u8(std::uint8_t v) {
    m_out += static_cast<char>(v);
    return *this;
}

ByteWriter &ByteWriter::u16(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v)).u8(static_cast<std::uint8_t>(v >> 8));
}

ByteWriter &ByteWriter::u16be(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v));
}

ByteWriter &ByteWriter::u32(std::uint32_t v) {
    return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16));
}

ByteWriter &ByteWriter::u64(std::uint64_t v) {
    return u32(static_cast<std::uint32_t>(v)).u32(static_cast<std::uint32_t>(v >> 32));
}

ByteWriter &ByteWriter::bytes(std::string_view b) {
    m_out.append(b);
    return *this;
}

ByteWriter &ByteWriter::utf16(std::string_view utf8) {
    m_out += toUtf16(utf8);
    return *this;
}

ByteWriter &ByteWriter::bVarchar(std::string_view utf8) {
    std::string text = toUtf16(utf8);
    text.resize(std::min<std::size_t>(text.size(), 255 * 2));
    u8(static_cast<std::uint8_t>(text.size() / 2));
    m_out += text;
    return *this;
}

ByteWriter &ByteWriter::usVarchar(std::string_view utf8) {
    std::string text = toUtf16(utf8);
    text.resize(std::min<std::size_t>(text.size(), 65535 * 2));
    u16(static_cast<std::uint16_t>(text.size() / 2));
    m_out += text;
    return *this;
}

void ByteWriter::patchLength16(std::size_t at) {
    const std::size_t length = m_out.size() - at - 2;
    m_out[at] = static_cast<char>(length & 0xFF);
    m_out[at + 1] = static_cast<char>((length >> 8) & 0xFF);
}

std::string toUtf16(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() * 2);
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = b < 0x80         ? 1
                              : (b >> 5) == 6  ? 2
                              : (b >> 4) == 14 ? 3
                              : (b >> 3) == 30 ? 4
                                               : 0;
        char32_t cp = 0xFFFD;
        if (n == 0 || i + n > utf8.size()) {
            ++i;
        } else {
            cp = n == 1 ? b : b & (0x7F >> n);
            for (std::size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            i += n;
        }
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            appendUnit(out, 0xD800 + (cp >> 10));
            appendUnit(out, 0xDC00 + (cp & 0x3FF));
        } else {
            appendUnit(out, cp > 0xFFFF ? 0xFFFD : cp);
        }
    }
    return out;
}

std::string fromUtf16(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) -> char32_t {
        return static_cast<unsigned char>(bytes[2 * i]) |
               static_cast<unsigned char>(bytes[2 * i + 1]) << 8;
    };
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        char32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

} // namespace zeph::tds
