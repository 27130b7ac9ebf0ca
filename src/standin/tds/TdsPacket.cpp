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

namespace {

std::size_t payloadRoom(std::size_t packetSize) {
    return std::max(packetSize, packet::kMinSize) - packet::kHeaderSize;
}

} // namespace

std::string packetsFor(std::uint8_t type, std::string_view payload, std::size_t packetSize) {
    PacketCutter cutter(type);
    cutter.add(payload);
    return cutter.finish(packetSize);
}

std::string PacketCutter::packets(std::size_t count, std::size_t room, bool last) {
    ByteWriter out;
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t part = std::min(room, m_pending.size() - at);
        const bool end = last && i + 1 == count;
        out.u8(m_type)
            .u8(end ? packet::kEndOfMessage : 0)
            .u16be(static_cast<std::uint16_t>(part + packet::kHeaderSize))
            .u16be(0)
            .u8(m_number++) // counts on from 255 to 0, as the protocol's packet ids do
            .u8(0)
            .bytes(std::string_view(m_pending).substr(at, part));
        at += part;
    }
    m_pending.erase(0, at);
    return out.take();
}

std::string PacketCutter::takeWhole(std::size_t packetSize) {
    const std::size_t room = payloadRoom(packetSize);
    if (m_pending.size() <= room)
        return {};
    return packets((m_pending.size() - 1) / room, room, false);
}

std::string PacketCutter::finish(std::size_t packetSize) {
    const std::size_t room = payloadRoom(packetSize);
    // An empty message is still one packet.
    const std::size_t count = std::max<std::size_t>(1, (m_pending.size() + room - 1) / room);
    std::string out = packets(count, room, true);
    m_number = 1;
    return out;
}

} // namespace zeph::tds
