// A reply that goes out while it is written: its packets cut as the payload grows are the
// packets of the whole payload, the message's last packet is only ever the final one, and rows
// sent before the rest of their result is read carry types that the later rows fit.
#include "platform/sqltext/Tsql.h"
#include "standin/tds/TdsBytes.h"
#include "standin/tds/TdsPacket.h"
#include "standin/tds/TdsTokens.h"

#include <gtest/gtest.h>

using namespace zeph;
using namespace zeph::tds;

namespace {

constexpr std::size_t kPacketSize = 512;
constexpr std::size_t kRoom = kPacketSize - packet::kHeaderSize;

struct Packet {
    std::uint8_t status;
    std::uint8_t number;
    std::string payload;
};

std::vector<Packet> packetsOf(const std::string &bytes) {
    std::vector<Packet> packets;
    ByteReader in(bytes);
    while (!in.atEnd()) {
        in.u8();
        const std::uint8_t status = in.u8();
        const std::size_t length = in.u16be();
        in.u16be();
        const std::uint8_t number = in.u8();
        in.u8();
        packets.push_back({status, number, std::string(in.bytes(length - packet::kHeaderSize))});
    }
    return packets;
}

TEST(TdsStreaming, PacketsCutAsThePayloadGrowsAreThoseOfTheWholePayload) {
    // Payload sizes around the packet's room, and the pieces they are written in.
    const std::size_t sizes[] = {0, 1, kRoom - 1, kRoom, kRoom + 1, 5 * kRoom, 5 * kRoom + 3};
    const std::size_t pieces[] = {1, 100, kRoom, 3 * kRoom + 7};
    for (std::size_t size : sizes) {
        std::string payload;
        for (std::size_t i = 0; i < size; ++i)
            payload += static_cast<char>('a' + i % 26);
        for (std::size_t piece : pieces) {
            PacketCutter cutter(packet::kReply);
            std::string sent;
            for (std::size_t at = 0; at < size; at += piece) {
                cutter.add(std::string_view(payload).substr(at, piece));
                const std::string whole = cutter.takeWhole(kPacketSize);
                for (const Packet &p : packetsOf(whole)) {
                    EXPECT_EQ(p.status & packet::kEndOfMessage, 0) << size << "/" << piece;
                    EXPECT_EQ(p.payload.size(), kRoom) << size << "/" << piece;
                }
                EXPECT_GE(cutter.pending(), 1u) << "nothing kept back for the last packet";
                sent += whole;
            }
            sent += cutter.finish(kPacketSize);
            EXPECT_EQ(sent, packetsFor(packet::kReply, payload, kPacketSize))
                << size << "/" << piece;
            const std::vector<Packet> packets = packetsOf(sent);
            ASSERT_FALSE(packets.empty());
            EXPECT_EQ(packets.back().status & packet::kEndOfMessage, packet::kEndOfMessage);
        }
    }
}

TEST(TdsStreaming, PacketNumbersCountOnPast255AndStartAgainWithTheNextMessage) {
    PacketCutter cutter(packet::kReply);
    cutter.add(std::string(300 * kRoom, 'x'));
    std::vector<Packet> packets = packetsOf(cutter.takeWhole(kPacketSize));
    const std::vector<Packet> rest = packetsOf(cutter.finish(kPacketSize));
    packets.insert(packets.end(), rest.begin(), rest.end());
    ASSERT_EQ(packets.size(), 300u);
    for (std::size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i].number, static_cast<std::uint8_t>(i + 1)) << i;
    cutter.add("next");
    EXPECT_EQ(packetsOf(cutter.finish(kPacketSize)).at(0).number, 1);
}

DbRowSet rowsOf(std::vector<std::vector<DbValue>> rows) {
    DbRowSet set;
    for (std::size_t c = 0; c < (rows.empty() ? 0 : rows[0].size()); ++c)
        set.columns.push_back({"c" + std::to_string(c), false});
    set.rows = std::move(rows);
    return set;
}

TEST(TdsStreaming, AResultSentWholeIsItsMetadataAndItsRows) {
    const DbRowSet rows =
        rowsOf({{std::int64_t{1}, std::string("one"), 1.5, DbValue()},
                {std::int64_t{5000000000}, std::string(5000, 'x'), DbValue(), DbValue()}});
    for (std::uint32_t version : {version::k71, version::k74}) {
        TokenWriter whole(version), parts(version);
        whole.rowSet(rows);
        const std::vector<ColumnType> types = columnTypes(rows);
        parts.columnMetadata(rows, types);
        parts.rowTokens(rows, types);
        EXPECT_EQ(whole.take(), parts.take()) << std::hex << version;
    }
}

TEST(TdsStreaming, TheFirstRowsOfALongResultGiveTypesTheLaterRowsFit) {
    const DbRowSet first = rowsOf({{std::int64_t{1}, std::string("short"), 2.5, DbValue(),
                                    DbValue(std::string("\x01\x02", 2))}});
    const std::vector<ColumnType> types =
        streamedColumnTypes(first, {false, false, false, false, true});
    const std::vector<ColumnType> wanted = {ColumnType::BigInt, ColumnType::NVarCharMax,
                                            ColumnType::Float, ColumnType::NVarCharMax,
                                            ColumnType::VarBinaryMax};
    EXPECT_EQ(types, wanted);
}

struct FitCase {
    const char *what;
    ColumnType type;
    DbValue later;   // a later row's value
    DbValue sameAs;  // written as this value would be; monostate with `refused`
    int refused = 0; // SQL Server's error number when the value cannot be converted
};

TEST(TdsStreaming, ALaterValueOfAnotherKindIsConvertedOrRefusedAsSqlServerDoes) {
    const FitCase cases[] = {
        {"a number written as text", ColumnType::BigInt, std::string(" 42 "), std::int64_t{42}},
        {"a real number", ColumnType::BigInt, 7.9, std::int64_t{7}},
        {"a text that is no number", ColumnType::BigInt, std::string("abc"), {}, 245},
        {"a real number too large", ColumnType::BigInt, 1e30, {}, 8115},
        {"a whole number too wide for int", ColumnType::Int, std::int64_t{1} << 40, {}, 8115},
        {"a whole number in a real column", ColumnType::Float, std::int64_t{3}, 3.0},
        {"a text in a real column", ColumnType::Float, std::string("2.25"), 2.25},
        {"a word in a real column", ColumnType::Float, std::string("two"), {}, 8114},
        {"a number in a text column", ColumnType::NVarCharMax, std::int64_t{12}, std::string("12")},
        {"NULL in a number column", ColumnType::BigInt, DbValue(), DbValue()},
    };
    for (const FitCase &c : cases) {
        TokenWriter later, wanted;
        if (c.refused) {
            try {
                later.rowTokens(rowsOf({{c.later}}), {c.type});
                ADD_FAILURE() << c.what << ": not refused";
            } catch (const sqltext::TsqlError &e) {
                EXPECT_EQ(e.number(), c.refused) << c.what;
            }
            continue;
        }
        later.rowTokens(rowsOf({{c.later}}), {c.type});
        wanted.rowTokens(rowsOf({{c.sameAs}}), {c.type});
        EXPECT_EQ(later.take(), wanted.take()) << c.what;
    }
}

} // namespace
