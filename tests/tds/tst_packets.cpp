// The packet reader: messages put together from packets however the bytes arrive, and every
// malformed or oversized input refused instead of read past or held without bound.
#include "standin/tds/TdsBytes.h"
#include "standin/tds/TdsPacket.h"
#include "standin/tds/TdsRequests.h"

#include <bit>

#include <gtest/gtest.h>

using namespace zeph::tds;

namespace {

std::string packet(std::uint8_t type, bool last, std::string_view body) {
    ByteWriter out;
    out.u8(type).u8(last ? 1 : 0).u16be(static_cast<std::uint16_t>(body.size() + 8)).u16be(0);
    out.u8(1).u8(0).bytes(body);
    return out.take();
}

TEST(TdsPackets, AMessageIsPutTogetherFromItsPacketsWhateverTheBytesComeIn) {
    const std::string payload(10000, 'x');
    const std::string bytes = packetsFor(packet::kSqlBatch, payload, 512);
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{512}, bytes.size()}) {
        PacketReader reader;
        std::vector<Message> got;
        for (std::size_t at = 0; at < bytes.size(); at += chunk) {
            reader.feed(std::string_view(bytes).substr(at, chunk));
            while (auto m = reader.next())
                got.push_back(*m);
        }
        ASSERT_EQ(got.size(), 1u) << chunk;
        EXPECT_EQ(got[0].type, packet::kSqlBatch);
        EXPECT_EQ(got[0].payload, payload);
        EXPECT_EQ(reader.pending(), 0u);
    }
}

TEST(TdsPackets, TwoMessagesInOneReadComeOutOneAfterTheOther) {
    PacketReader reader;
    reader.feed(packet(packet::kSqlBatch, true, "one") + packet(packet::kRpc, true, "two"));
    auto first = reader.next();
    auto second = reader.next();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->payload, "one");
    EXPECT_EQ(second->type, packet::kRpc);
    EXPECT_FALSE(reader.next());
}

TEST(TdsPackets, ACancelEndsTheMessageUnderWay) {
    PacketReader reader;
    reader.feed(packet(packet::kSqlBatch, false, "half") + packet(packet::kAttention, true, ""));
    auto m = reader.next();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type, packet::kAttention);
    EXPECT_TRUE(m->payload.empty());
}

TEST(TdsPackets, MalformedOrOversizedInputIsRefused) {
    struct Case {
        const char *what;
        std::string bytes;
        std::size_t max;
    };
    const Case cases[] = {
        {"length shorter than a header", std::string("\x01\x01\x00\x04\x00\x00\x01\x00", 8), 1024},
        {"another kind mid-message",
         packet(packet::kSqlBatch, false, "a") + packet(packet::kRpc, true, "b"), 1024},
        {"message over the bound",
         packet(packet::kSqlBatch, false, std::string(600, 'a')) +
             packet(packet::kSqlBatch, true, std::string(600, 'a')),
         1000},
    };
    for (const auto &c : cases) {
        PacketReader reader(c.max);
        EXPECT_THROW(
            {
                reader.feed(c.bytes);
                while (reader.next()) {
                }
            },
            ProtocolError)
            << c.what;
    }
}

TEST(TdsPackets, ReadersNeverReadPastTheirEnd) {
    ByteReader in(std::string_view("\x05\x00\x41\x00", 4));
    EXPECT_THROW(in.usVarchar(), ProtocolError); // five units announced, one there
    ByteReader empty{std::string_view()};
    EXPECT_THROW(empty.u8(), ProtocolError);
}

TEST(TdsPackets, ParametersOfImpossibleSizesAreRefused) {
    auto call = [](std::uint8_t type, std::uint8_t length) {
        ByteWriter out;
        out.u32(4).u16(1).utf16("p").u16(0); // no headers; procedure "p"
        out.u8(0).u8(0).u8(type).u8(length).u8(length).bytes(std::string(length, '\x01'));
        return out.take();
    };
    EXPECT_EQ(std::get<double>(parseRpc(call(0x6D, 8)).calls.at(0).params.at(0).value),
              std::bit_cast<double>(0x0101010101010101ULL));
    EXPECT_THROW(parseRpc(call(0x6D, 9)), ProtocolError);  // a float of nine bytes
    EXPECT_THROW(parseRpc(call(0x26, 16)), ProtocolError); // a whole number of sixteen
    EXPECT_THROW(parseRpc(call(0x24, 15)), ProtocolError); // a GUID of fifteen
}

TEST(TdsPackets, TextTravelsAsUtf16WithCharactersBeyondTheBasicPlane) {
    const std::string text = "Ærø – 日本 😀";
    EXPECT_EQ(fromUtf16(toUtf16(text)), text);
    EXPECT_EQ(toUtf16("A"), std::string("A\0", 2));
    EXPECT_EQ(fromUtf16(std::string("\x00\xD8", 2)), "\xEF\xBF\xBD"); // half a pair
}

} // namespace
