#include "TdsPacket.h"

#include "TdsBytes.h"

#include <algorithm>

namespace zeph::tds {

PacketReader::PacketReader(std::size_t maxMessage)
    : m_maxMessage(maxMessage) {}

void PacketReader::feed(std::string_view bytes) {
    // Bytes beyond a whole packet wait here; never more than a packet and a message's worth.
    if (m_buffer.size() + bytes.size() > m_maxMessage + packet::kMaxSize * 2)
        throw ProtocolError("a client sent more than a message can hold");
    m_buffer.append(bytes);
}

std::optional<Message> PacketReader::next() {
    std::size_t used = 0;
    std::optional<Message> done;
    while (!done && m_buffer.size() - used >= packet::kHeaderSize) {
        ByteReader header(std::string_view(m_buffer).substr(used, packet::kHeaderSize));
        const std::uint8_t type = header.u8();
        const std::uint8_t status = header.u8();
        const std::size_t length = header.u16be();
        if (length < packet::kHeaderSize)
            throw ProtocolError("a packet is shorter than its header");
        if (m_buffer.size() - used < length)
            break;
        if (m_inMessage && type != m_partial.type && type != packet::kAttention)
            throw ProtocolError("a packet of another kind came in the middle of a message");
        if (!m_inMessage) {
            m_partial = Message{type, {}};
            m_inMessage = true;
        }
        const std::size_t body = length - packet::kHeaderSize;
        if (type == packet::kAttention && m_partial.type != packet::kAttention) {
            // A cancel ends the message under way: what came of it is dropped.
            m_partial = Message{type, {}};
        } else {
            if (m_partial.payload.size() + body > m_maxMessage)
                throw ProtocolError("a message is longer than the server accepts");
            m_partial.payload.append(m_buffer, used + packet::kHeaderSize, body);
        }
        used += length;
        if (status & packet::kEndOfMessage || type == packet::kAttention) {
            done = std::move(m_partial);
            m_partial = Message{};
            m_inMessage = false;
        }
    }
    m_buffer.erase(0, used);
    return done;
}

std::string packetsFor(std::uint8_t type, std::string_view payload, std::size_t packetSize) {
    const std::size_t room = std::max(packetSize, packet::kMinSize) - packet::kHeaderSize;
    ByteWriter out;
    std::uint8_t number = 1;
    std::size_t at = 0;
    do {
        const std::size_t part = std::min(room, payload.size() - at);
        const bool last = at + part == payload.size();
        out.u8(type)
            .u8(last ? packet::kEndOfMessage : 0)
            .u16be(static_cast<std::uint16_t>(part + packet::kHeaderSize))
            .u16be(0)
            .u8(number++)
            .u8(0)
            .bytes(payload.substr(at, part));
        at += part;
    } while (at < payload.size());
    return out.take();
}

} // namespace zeph::tds
