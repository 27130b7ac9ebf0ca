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

/// A message cut into packets as its payload is written, so that its first packets can go out
/// before its end: a result of any length is then never held whole.
class PacketCutter {
public:
    explicit PacketCutter(std::uint8_t type)
        : m_type(type) {}
    /// Appends payload.
    void add(std::string_view bytes) { m_pending.append(bytes); }
    /// Payload not yet given out as packets.
    std::size_t pending() const { return m_pending.size(); }
    /// The whole packets of the payload so far, none of them the message's last (at least a
    /// byte is kept back for that one); they are given out once.
    std::string takeWhole(std::size_t packetSize);
    /// The packets of the rest of the payload, the last one marked as the message's end;
    /// the cutter then begins a new message.
    std::string finish(std::size_t packetSize);

private:
    std::string packets(std::size_t count, std::size_t room, bool last);

    std::uint8_t m_type;
    std::string m_pending;
    std::uint8_t m_number = 1;
};

} // namespace zeph::tds
