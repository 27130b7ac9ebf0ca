// The values clients send as parameters: every type read with its meaning, written back in the
// declared type unchanged, and the requests around them (named transactions, catalogue calls
// sent as text).
#include "standin/tds/CatalogProcedures.h"
#include "standin/tds/TdsBytes.h"
#include "standin/tds/TdsRequests.h"
#include "standin/tds/TdsTypes.h"

#include <gtest/gtest.h>

using namespace zeph;
using namespace zeph::tds;

namespace {

std::string bytes(std::initializer_list<int> list) {
    std::string out;
    for (int b : list)
        out += static_cast<char>(b);
    return out;
}

const std::string kCollation = bytes({0x09, 0x04, 0xD0, 0x00, 0x34});

TypedValue read(const std::string &typeAndValue) {
    ByteReader in(typeAndValue);
    TypedValue v = readTypedValue(in);
    EXPECT_TRUE(in.atEnd()) << "bytes left after the value";
    return v;
}

struct DecodeCase {
    const char *what;
    std::string wire;
    SqlKind kind;
    DbValue value;
};

TEST(TdsTypes, EveryParameterTypeIsReadWithItsMeaning) {
    const DecodeCase cases[] = {
        {"tinyint", bytes({0x30, 0xFF}), SqlKind::TinyInt, std::int64_t{255}},
        {"smallint", bytes({0x34, 0xFE, 0xFF}), SqlKind::SmallInt, std::int64_t{-2}},
        {"int", bytes({0x38, 0x01, 0x00, 0x00, 0x80}), SqlKind::Int, std::int64_t{-2147483647}},
        {"intN(2)", bytes({0x26, 2, 2, 0x00, 0x80}), SqlKind::SmallInt, std::int64_t{-32768}},
        {"intN(8) NULL", bytes({0x26, 8, 0}), SqlKind::BigInt, DbValue()},
        {"bitN", bytes({0x68, 1, 1, 5}), SqlKind::Bit, std::int64_t{1}},
        {"money 1.5", bytes({0x3C, 0, 0, 0, 0, 0x98, 0x3A, 0, 0}), SqlKind::Money, 1.5},
        {"money -0.0001", bytes({0x3C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
         SqlKind::Money, -0.0001},
        {"smallmoney 2.25", bytes({0x7A, 0xE4, 0x57, 0, 0}), SqlKind::SmallMoney, 2.25},
        {"moneyN(4) NULL", bytes({0x6E, 4, 0}), SqlKind::SmallMoney, DbValue()},
        // 2024-01-02 is day 45291 after 1900-01-01; 03:04:05.123 is 3313537 / 300 s.
        {"datetime", bytes({0x3D, 0xEB, 0xB0, 0, 0, 0x81, 0x8F, 0x32, 0x00}), SqlKind::DateTime,
         std::string("2024-01-02 03:04:05.123")},
        {"datetimeN(8)", bytes({0x6F, 8, 8, 0xEB, 0xB0, 0, 0, 0, 0, 0, 0}), SqlKind::DateTime,
         std::string("2024-01-02 00:00:00")},
        {"smalldatetime", bytes({0x3A, 0xEB, 0xB0, 0xB8, 0x00}), SqlKind::SmallDateTime,
         std::string("2024-01-02 03:04:00")},
        // 2024-01-02 is day 738886 after 0001-01-01 (0x0B4646).
        {"date", bytes({0x28, 3, 0x46, 0x46, 0x0B}), SqlKind::Date, std::string("2024-01-02")},
        {"date NULL", bytes({0x28, 0}), SqlKind::Date, DbValue()},
        {"time(7)", bytes({0x29, 7, 5, 0x07, 0x17, 0x68, 0xB7, 0x19}), SqlKind::Time,
         std::string("03:04:05.1234567")},
        {"time(0)", bytes({0x29, 0, 3, 0x3D, 0x00, 0x00}), SqlKind::Time, std::string("00:01:01")},
        {"datetime2(3)", bytes({0x2A, 3, 7, 0x03, 0x89, 0xA8, 0x00, 0x46, 0x46, 0x0B}),
         SqlKind::DateTime2, std::string("2024-01-02 03:04:05.123")},
        // 23:30 UTC on 2024-01-01 at +01:00 is 00:30 on 2024-01-02 there.
        {"datetimeoffset(0)", bytes({0x2B, 0, 8, 0x78, 0x4A, 0x01, 0x45, 0x46, 0x0B, 0x3C, 0x00}),
         SqlKind::DateTimeOffset, std::string("2024-01-02 00:30:00 +01:00")},
        {"varbinary", bytes({0xA5, 0x40, 0x1F, 3, 0, 'A', 0, 'C'}), SqlKind::Binary,
         std::string("A\0C", 3)},
        {"varbinary NULL", bytes({0xA5, 0x40, 0x1F, 0xFF, 0xFF}), SqlKind::Binary, DbValue()},
        {"binary", bytes({0xAD, 2, 0, 2, 0, 0xFF, 0x00}), SqlKind::Binary,
         std::string("\xFF\0", 2)},
        {"varbinary(max)",
         bytes({0xA5, 0xFF, 0xFF, 2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'h', 'i', 0, 0, 0, 0}),
         SqlKind::Binary, std::string("hi")},
        {"image", bytes({0x22, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0, 'z'}), SqlKind::Binary,
         std::string("z")},
        {"legacy varbinary", bytes({0x25, 8, 2, 'o', 'k'}), SqlKind::Binary, std::string("ok")},
        {"legacy varchar NULL", bytes({0x27, 8, 0xFF}), SqlKind::Text, DbValue()},
        {"nvarchar", bytes({0xE7, 0x40, 0x1F}) + kCollation + bytes({4, 0, 'h', 0, 'i', 0}),
         SqlKind::NText, std::string("hi")},
        {"ntext", bytes({0x63, 0xFF, 0xFF, 0xFF, 0x7F}) + kCollation + bytes({2, 0, 0, 0, 'x', 0}),
         SqlKind::NText, std::string("x")},
        {"decimal(5,2) -123.45", bytes({0x6A, 17, 5, 2, 5, 0, 0x39, 0x30, 0, 0}), SqlKind::Decimal,
         -123.45},
        {"numeric(19,0)", bytes({0x6C, 17, 19, 0, 9, 1, 0x15, 0xCD, 0x5B, 0x07, 0, 0, 0, 0}),
         SqlKind::Decimal, std::int64_t{123456789}},
        {"uniqueidentifier",
         bytes({0x24, 16, 16, 0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56, 0x12, 0x34, 0x56,
                0x78, 0x12, 0x34, 0x56, 0x78}),
         SqlKind::Guid, std::string("{12345678-1234-5678-1234-567812345678}")},
        {"xml", bytes({0xF1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, '<', 0, 'a', 0, 0, 0, 0, 0}),
         SqlKind::NText, std::string("<a")},
    };
    for (const auto &c : cases) {
        const TypedValue v = read(c.wire);
        EXPECT_EQ(v.type.kind, c.kind) << c.what;
        if (auto d = std::get_if<double>(&c.value)) {
            ASSERT_TRUE(std::holds_alternative<double>(v.value)) << c.what;
            EXPECT_NEAR(std::get<double>(v.value), *d, 1e-9) << c.what;
        } else {
            EXPECT_EQ(v.value, c.value) << c.what;
        }
    }
}

TEST(TdsTypes, TypesTheServerDoesNotTakeAreRefusedAndMalformedValuesAreProtocolErrors) {
    for (const std::string &wire :
         {bytes({0xF0, 0, 0}), bytes({0xF3, 0}), bytes({0x62, 0, 0}), bytes({0x99})}) {
        ByteReader in(wire);
        EXPECT_THROW(readTypedValue(in), UnsupportedRequest) << int(wire[0]);
    }
    for (const std::string &wire :
         {bytes({0x28, 4, 0, 0, 0, 0}),                      // a date of four bytes
          bytes({0x29, 9, 3, 0, 0, 0}),                      // a time of scale 9
          bytes({0x2A, 7, 6, 0, 0, 0, 0, 0, 0}),             // a datetime2(7) without its date
          bytes({0x6E, 8, 5, 0, 0, 0, 0, 0}),                // money of five bytes
          bytes({0x28, 3, 0xDB, 0xB9, 0x37}),                // a date after 9999-12-31
          bytes({0x29, 0, 3, 0x80, 0x51, 0x01}),             // a time of 24:00:00
          bytes({0x3D, 0, 0, 0, 0, 0x00, 0x82, 0x8B, 0x01}), // a datetime at 24:00:00
          bytes({0x3A, 0, 0, 0xA0, 0x05}),                   // a smalldatetime at 24:00
          bytes({0x6A, 17, 38, 0, 18, 1}),                   // a decimal of eighteen bytes
          bytes({0xE7, 0x40, 0x1F, 9, 4, 0xD0, 0, 0x34, 3, 0, 'a', 0, 'b'}), // odd UTF-16
          bytes({0xA5, 0x40, 0x1F, 9, 0, 'a'})}) {                           // shorter than it says
        ByteReader in(wire);
        EXPECT_THROW(readTypedValue(in), ProtocolError) << int(wire[0]);
    }
}

TEST(TdsTypes, AValueWrittenInItsTypeReadsBackTheSame) {
    const std::vector<std::pair<SqlType, DbValue>> cases = {
        {{SqlKind::Bit}, std::int64_t{1}},
        {{SqlKind::TinyInt}, std::int64_t{200}},
        {{SqlKind::SmallInt}, std::int64_t{-300}},
        {{SqlKind::Int}, std::int64_t{-70000}},
        {{SqlKind::BigInt}, std::int64_t{1} << 50},
        {{SqlKind::Real}, 0.5},
        {{SqlKind::Float}, 1e300},
        {{SqlKind::SmallMoney}, 12.5},
        {{SqlKind::Money}, -922337203685.4775},
        {{SqlKind::Decimal, 10, 3}, 1234.567},
        {{SqlKind::NText}, std::string("Ærø 😀")},
        {{SqlKind::Binary}, std::string("\0\1\2", 3)},
        {{SqlKind::Guid}, std::string("{12345678-9ABC-DEF0-1234-56789ABCDEF0}")},
        {{SqlKind::Date}, std::string("0001-01-01")},
        {{SqlKind::Date}, std::string("9999-12-31")},
        {{SqlKind::Time, 0, 7}, std::string("23:59:59.9999999")},
        {{SqlKind::DateTime2, 0, 7}, std::string("2024-02-29 12:00:00.5")},
        {{SqlKind::DateTimeOffset, 0, 7}, std::string("2024-01-01 00:30:00 +05:30")},
        {{SqlKind::DateTimeOffset, 0, 7}, std::string("2024-12-31 23:30:00 -08:00")},
        {{SqlKind::Int}, DbValue()},
        {{SqlKind::DateTime2}, DbValue()},
    };
    for (const auto &[type, value] : cases) {
        ByteWriter out;
        writeTypedValue(out, type, value);
        const TypedValue back = read(out.data());
        if (auto d = std::get_if<double>(&value)) {
            ASSERT_TRUE(std::holds_alternative<double>(back.value)) << int(type.kind);
            EXPECT_NEAR(std::get<double>(back.value), *d, std::abs(*d) * 1e-7) << int(type.kind);
        } else {
            EXPECT_EQ(back.value, value) << int(type.kind);
        }
    }
}

TEST(TdsTypes, DateTextsAreReadOnlyWhenTheyAreDates) {
    const auto parts = parseDateText("2024-01-02 03:04:05.5 -01:30");
    ASSERT_TRUE(parts);
    EXPECT_EQ(dateText(parts->days), "2024-01-02");
    EXPECT_EQ(parts->ticks, (3 * 3600 + 4 * 60 + 5) * 10'000'000ull + 5'000'000);
    EXPECT_EQ(parts->offsetMinutes, -90);
    for (const char *bad : {"", "2024-13-01", "2024-01-02 25:00:00", "2024-01-02 03:04",
                            "yesterday", "2024-01-02 03:04:05.", "2024-01-02 03:04:05 +1"})
        EXPECT_FALSE(parseDateText(bad)) << bad;
    EXPECT_EQ(timeText(1234500, 7), "00:00:00.12345");
}

TEST(TdsRequests, ATransactionsNameIsCountedInBytes) {
    ByteWriter commit;
    commit.u32(22).u32(18).u16(2).u64(7).u32(1); // headers: transaction 7
    commit.u16(7).u8(4).utf16("tx").u8(1);       // commit "tx", and begin another
    const TransactionRequest r = parseTransactionRequest(commit.data());
    EXPECT_EQ(r.kind, TransactionRequestKind::Commit);
    EXPECT_EQ(r.name, "tx");
    EXPECT_TRUE(r.beginAnother);
    EXPECT_EQ(r.headers.transaction, 7u);

    ByteWriter begin; // TDS 7.1: no headers
    begin.u16(5).u8(0).u8(10).utf16("_tedi");
    const TransactionRequest b = parseTransactionRequest(begin.data(), false);
    EXPECT_EQ(b.kind, TransactionRequestKind::Begin);
    EXPECT_EQ(b.name, "_tedi");
}

TEST(TdsCatalogue, PatternsMatchAsLikeDoes) {
    struct Case {
        const char *pattern;
        const char *text;
        bool match;
    } cases[] = {
        {"%", "Subscriber", true},
        {"subscriber", "Subscriber", true},
        {"Sub%", "Subscriber", true},
        {"Subscribe_", "Subscriber", true},
        {"Subscribe_", "Subscribers", false},
        {"%ber", "Subscriber", true},
        {"%x%", "Subscriber", false},
        {"S[a-u]b%", "Subscriber", true},
        {"S[^u]b%", "Subscriber", false},
        {"vw[_]%", "vw_Subscriber", true},
        {"vw[_]%", "vwXSubscriber", false},
        {"", "", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(likeMatch(c.pattern, c.text), c.match) << c.pattern << " " << c.text;
}

TEST(TdsCatalogue, ACatalogueCallSentAsTextIsReadWithItsArguments) {
    auto call = catalogBatch("sp_datatype_info_100 -9,3");
    ASSERT_TRUE(call);
    EXPECT_EQ(call->procedure, "sp_datatype_info_100");
    ASSERT_EQ(call->arguments.size(), 2u);
    EXPECT_EQ(call->arguments[0].name, "@data_type");
    EXPECT_EQ(call->arguments[0].value, DbValue(std::int64_t{-9}));
    EXPECT_EQ(call->arguments[1].name, "@ODBCVer");

    call = catalogBatch(" EXEC sp_tables @table_name = N'it''s', @table_type = NULL ; ");
    ASSERT_TRUE(call);
    ASSERT_EQ(call->arguments.size(), 2u);
    EXPECT_EQ(call->arguments[0].value, DbValue(std::string("it's")));
    EXPECT_EQ(call->arguments[1].value, DbValue());

    for (const char *other : {"SELECT 1", "sp_tables 'a'; DROP TABLE Subscriber",
                              "sp_columns 'a' 'b'", "sp_pkeys 1,2,3,4", "sp_tables 'open"})
        EXPECT_FALSE(catalogBatch(other)) << other;
}

} // namespace
