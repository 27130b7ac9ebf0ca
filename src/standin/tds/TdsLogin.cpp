#include "TdsLogin.h"

#include "TdsBytes.h"

#include <vector>

namespace zeph::tds {
namespace {

constexpr std::uint8_t kVersion = 0x00;
constexpr std::uint8_t kEncryption = 0x01;
constexpr std::uint8_t kInstance = 0x02;
constexpr std::uint8_t kThreadId = 0x03;
constexpr std::uint8_t kMars = 0x04;
constexpr std::uint8_t kTerminator = 0xFF;
constexpr std::uint8_t kEncryptNotSupported = 0x02;
// Login option flags 2: integrated security.
constexpr std::uint8_t kIntegratedSecurity = 0x80;
// The fixed part of LOGIN7 before its variable fields' offsets.
constexpr std::size_t kFixedLogin = 36;

// A password travels with each byte's halves swapped and then XOR 0xA5.
std::string decodePassword(std::string_view bytes) {
    std::string plain(bytes);
    for (char &c : plain) {
        auto b = static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) ^ 0xA5);
        c = static_cast<char>(static_cast<std::uint8_t>(b << 4 | b >> 4));
    }
    return fromUtf16(plain);
}

} // namespace

std::string preLoginReply(std::string_view request) {
    // The request's options are read only to prove it well formed.
    ByteReader in(request);
    for (std::uint8_t token = in.u8(); token != kTerminator; token = in.u8()) {
        const std::size_t offset = in.u16be();
        const std::size_t length = in.u16be();
        if (offset > request.size() || length > request.size() - offset)
            throw ProtocolError("a pre-login option lies outside its message");
    }
    struct Option {
        std::uint8_t token;
        std::string data;
    };
    const std::vector<Option> options = {
        {kVersion, std::string("\x0F\x00\x07\xD0\x00\x00", 6)}, // 15.0.2000, sub-build 0
        {kEncryption, std::string(1, static_cast<char>(kEncryptNotSupported))},
        {kInstance, std::string(1, '\0')},
        {kThreadId, std::string()},
        {kMars, std::string(1, '\0')},
    };
    ByteWriter out;
    std::size_t offset = options.size() * 5 + 1;
    for (const auto &o : options) {
        out.u8(o.token)
            .u16be(static_cast<std::uint16_t>(offset))
            .u16be(static_cast<std::uint16_t>(o.data.size()));
        offset += o.data.size();
    }
    out.u8(kTerminator);
    for (const auto &o : options)
        out.bytes(o.data);
    return out.take();
}

Login parseLogin7(std::string_view payload) {
    ByteReader in(payload);
    const std::uint32_t length = in.u32();
    if (length > payload.size() || length < kFixedLogin + 2 * 4 * 9)
        throw ProtocolError("a login message has a wrong length");
    Login login;
    login.tdsVersion = in.u32();
    login.packetSize = in.u32();
    in.skip(4 + 4 + 4); // client version, process id, connection id
    in.u8();            // option flags 1
    login.integrated = (in.u8() & kIntegratedSecurity) != 0;
    in.skip(1 + 1 + 4 + 4); // type flags, option flags 3, time zone, locale id
    // Offset and length (in characters) of each variable field, from the message's start.
    auto field = [&](bool secret = false) {
        const std::size_t offset = in.u16();
        const std::size_t units = in.u16();
        if (offset > length || units * 2 > length - offset)
            throw ProtocolError("a login field lies outside its message");
        std::string_view bytes = payload.substr(offset, units * 2);
        return secret ? decodePassword(bytes) : fromUtf16(bytes);
    };
    login.hostName = field();
    login.userName = field();
    login.password = field(true);
    login.appName = field();
    field(); // server name
    field(); // extension
    field(); // client interface name
    field(); // language
    login.database = field();
    return login;
}

} // namespace zeph::tds
