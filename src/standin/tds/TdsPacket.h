#pragma once
// TDS packets: an 8-byte header (type, status, big-endian length, channel, packet number,
// window) and up to the negotiated packet size of payload. A client's message is the payloads
// of its packets up to the one marked end-of-message; the reader puts them together, bounded,
// from bytes as they come off a connection.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zeph::tds {

namespace packet {
inline constexpr std::uint8_t kSqlBatch = 0x01;
inline constexpr std::uint8_t kRpc = 0x03;
inline constexpr std::uint8_t kReply = 0x04;
inline constexpr std::uint8_t kAttention = 0x06;
inline constexpr std::uint8_t kTransactionManager = 0x0E;
inline constexpr std::uint8_t kLogin7 = 0x10;
inline constexpr std::uint8_t kPreLogin = 0x12;

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::uint8_t kEndOfMessage = 0x01;
/// The packet size before a login sets another, and the bounds a login may ask for.
inline constexpr std::size_t kDefaultSize = 4096;
inline constexpr std::size_t kMinSize = 512;
inline constexpr std::size_t kMaxSize = 32767;
} // namespace packet

struct Message {
    std::uint8_t type = 0;
    std::string payload;
};

class PacketReader {
public:
    /// A message longer than `maxMessage` bytes is refused (ProtocolError): a client cannot make
    /// the server hold more than that for it.
    explicit PacketReader(std::size_t maxMessage = kDefaultMaxMessage);

    /// Takes bytes as they arrive. Throws ProtocolError for a malformed packet.
    void feed(std::string_view bytes);
    /// The next whole message, or nothing until more bytes arrive.
    std::optional<Message> next();
    /// Bytes held that do not yet make a whole message.
    std::size_t pending() const { return m_buffer.size() + m_partial.payload.size(); }
    /// Changes the bound (a client that has logged in may send longer messages).
    void setMaxMessage(std::size_t maxMessage) { m_maxMessage = maxMessage; }

    static constexpr std::size_t kDefaultMaxMessage = 64u << 20;

private:
    std::size_t m_maxMessage;
    std::string m_buffer; // bytes not yet taken into a message
    Message m_partial;    // the message being put together
    bool m_inMessage = false;
};

/// A message's payload cut into packets of at most `packetSize` bytes (header included).
std::string packetsFor(std::uint8_t type, std::string_view payload, std::size_t packetSize);

} // namespace zeph::tds
