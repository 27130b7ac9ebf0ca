#include "TdsRequests.h"

#include "TdsBytes.h"

#include <bit>
#include <cstdio>

namespace zeph::tds {
namespace {

constexpr std::uint16_t kTransactionHeader = 2;
constexpr std::uint8_t kOutputFlag = 0x01;
constexpr std::uint8_t kBatchSeparator = 0xFF;
constexpr std::uint8_t kBatchSeparator71 = 0x80;
constexpr std::uint16_t kProcByNumber = 0xFFFF;
constexpr std::uint16_t kTmBegin = 5;
constexpr std::uint16_t kTmCommit = 7;
constexpr std::uint16_t kTmRollback = 8;
constexpr std::uint64_t kPlpNull = ~std::uint64_t{0};
constexpr std::uint64_t kPlpUnknownLength = ~std::uint64_t{0} - 1;

RequestHeaders readHeaders(ByteReader &in) {
    RequestHeaders headers;
    const std::uint32_t total = in.u32();
    if (total < 4 || total - 4 > in.remaining())
        throw ProtocolError("a request's headers run past its end");
    ByteReader all(in.bytes(total - 4));
    while (!all.atEnd()) {
        const std::uint32_t length = all.u32();
        if (length < 6 || length - 4 > all.remaining())
            throw ProtocolError("a request header has a wrong length");
        ByteReader header(all.bytes(length - 4));
        if (header.u16() == kTransactionHeader)
            headers.transaction = header.u64();
    }
    return headers;
}

std::int64_t signedLittle(std::string_view bytes) {
    if (bytes.size() > 8)
        throw ProtocolError("a number is longer than eight bytes");
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        v |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(bytes[i])) << (8 * i);
    const unsigned bits = static_cast<unsigned>(bytes.size() * 8);
    if (bits < 64 && bits > 0 && (v >> (bits - 1)) & 1)
        v |= ~std::uint64_t{0} << bits; // sign extension
    return static_cast<std::int64_t>(v);
}

DbValue floatValue(std::string_view bytes) {
    if (bytes.size() == 4)
        return DbValue(static_cast<double>(
            std::bit_cast<float>(static_cast<std::uint32_t>(signedLittle(bytes)))));
    return DbValue(std::bit_cast<double>(static_cast<std::uint64_t>(signedLittle(bytes))));
}

// A GUID's first three groups are stored little-endian.
DbValue guidValue(std::string_view b) {
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string text = "{";
    for (int i = 0; i < 16; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<std::uint8_t>(b[order[i]]));
        text += hex;
        if (i == 3 || i == 5 || i == 7 || i == 9)
            text += '-';
    }
    return DbValue(text + "}");
}

DbValue decimalValue(std::string_view bytes, std::uint8_t scale) {
    if (bytes.empty())
        throw ProtocolError("a decimal value has no sign");
    const bool positive = bytes[0] != 0;
    double magnitude = 0;
    for (std::size_t i = bytes.size(); i-- > 1;)
        magnitude = magnitude * 256 + static_cast<std::uint8_t>(bytes[i]);
    if (scale == 0 && magnitude < 9.2e18)
        return DbValue(static_cast<std::int64_t>(positive ? magnitude : -magnitude));
    for (std::uint8_t i = 0; i < scale; ++i)
        magnitude /= 10;
    return DbValue(positive ? magnitude : -magnitude);
}

// Partly length-prefixed chunks of a value of unlimited length, up to the chunk of length 0.
std::string readPlp(ByteReader &in, bool &isNull) {
    const std::uint64_t total = in.u64();
    isNull = total == kPlpNull;
    std::string value;
    if (isNull)
        return value;
    if (total != kPlpUnknownLength && total > in.remaining())
        throw ProtocolError("a long value is longer than its message");
    for (std::uint32_t chunk = in.u32(); chunk != 0; chunk = in.u32())
        value.append(in.bytes(chunk));
    return value;
}

/// Reads a parameter's type and value. Texts come as UTF-8; a type the server does not take
/// as a parameter is a protocol error.
DbValue readTypedValue(ByteReader &in) {
    const std::uint8_t type = in.u8();
    auto fixed = [&](std::size_t n) { return in.bytes(n); };
    switch (type) {
    case 0x1F: // NULL type
        return DbValue();
    case 0x30: // tinyint: unsigned
        return DbValue(static_cast<std::int64_t>(in.u8()));
    case 0x32: // bit
        return DbValue(static_cast<std::int64_t>(in.u8() != 0));
    case 0x34:
        return DbValue(signedLittle(fixed(2)));
    case 0x38:
        return DbValue(signedLittle(fixed(4)));
    case 0x7F:
        return DbValue(signedLittle(fixed(8)));
    case 0x3B:
        return floatValue(fixed(4));
    case 0x3E:
        return floatValue(fixed(8));
    case 0x26:   // intN
    case 0x68:   // bitN
    case 0x6D:   // floatN
    case 0x24: { // uniqueidentifier
        const std::uint8_t max = in.u8();
        const std::uint8_t length = in.u8();
        if (length > max)
            throw ProtocolError("a value is longer than its type allows");
        if (length == 0)
            return DbValue();
        std::string_view bytes = in.bytes(length);
        if (type == 0x24) {
            if (length != 16)
                throw ProtocolError("a uniqueidentifier is not 16 bytes");
            return guidValue(bytes);
        }
        if (type == 0x6D) {
            if (length != 4 && length != 8)
                throw ProtocolError("a float has a wrong length");
            return floatValue(bytes);
        }
        if (type == 0x68)
            return DbValue(static_cast<std::int64_t>(bytes[0] != 0));
        if (length != 1 && length != 2 && length != 4 && length != 8)
            throw ProtocolError("a whole number has a wrong length");
        return length == 1 ? DbValue(static_cast<std::int64_t>(static_cast<std::uint8_t>(bytes[0])))
                           : DbValue(signedLittle(bytes));
    }
    case 0x6A:   // decimal
    case 0x6C: { // numeric
        in.u8(); // max length
        in.u8(); // precision
        const std::uint8_t scale = in.u8();
        const std::uint8_t length = in.u8();
        return length == 0 ? DbValue() : decimalValue(in.bytes(length), scale);
    }
    case 0xE7:   // nvarchar
    case 0xEF:   // nchar
    case 0xA7:   // varchar
    case 0xAF: { // char
        const std::uint16_t max = in.u16();
        in.skip(5); // collation
        const bool wide = type == 0xE7 || type == 0xEF;
        if (max == 0xFFFF) {
            bool isNull = false;
            std::string bytes = readPlp(in, isNull);
            return isNull ? DbValue() : DbValue(wide ? fromUtf16(bytes) : bytes);
        }
        const std::uint16_t length = in.u16();
        if (length == 0xFFFF)
            return DbValue();
        std::string_view bytes = in.bytes(length);
        return DbValue(wide ? fromUtf16(bytes) : std::string(bytes));
    }
    case 0x63:      // ntext
    case 0x23: {    // text
        in.u32();   // max length
        in.skip(5); // collation
        const std::uint32_t length = in.u32();
        if (length == 0xFFFFFFFF)
            return DbValue();
        std::string_view bytes = in.bytes(length);
        return DbValue(type == 0x63 ? fromUtf16(bytes) : std::string(bytes));
    }
    default: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", type);
        throw ProtocolError(std::string("a parameter of type ") + hex +
                            " is not taken by this server");
    }
    }
}

RpcCall readCall(ByteReader &in) {
    RpcCall call;
    const std::uint16_t nameLength = in.u16();
    if (nameLength == kProcByNumber)
        call.number = in.u16();
    else
        call.name = in.utf16(nameLength);
    in.u16(); // option flags
    while (!in.atEnd()) {
        const std::uint8_t next = static_cast<std::uint8_t>(in.whole()[in.position()]);
        if (next == kBatchSeparator || next == kBatchSeparator71)
            break;
        RpcParam param;
        param.name = in.bVarchar();
        param.output = (in.u8() & kOutputFlag) != 0;
        param.value = readTypedValue(in);
        call.params.push_back(std::move(param));
    }
    return call;
}

} // namespace

SqlBatch parseSqlBatch(std::string_view payload) {
    ByteReader in(payload);
    SqlBatch batch;
    batch.headers = readHeaders(in);
    if (in.remaining() % 2)
        throw ProtocolError("a batch's text is not UTF-16");
    batch.text = in.utf16(in.remaining() / 2);
    return batch;
}

RpcRequest parseRpc(std::string_view payload) {
    ByteReader in(payload);
    RpcRequest request;
    request.headers = readHeaders(in);
    do {
        if (!request.calls.empty())
            in.u8(); // the separator between calls
        request.calls.push_back(readCall(in));
    } while (!in.atEnd());
    return request;
}

TransactionRequest parseTransactionRequest(std::string_view payload) {
    ByteReader in(payload);
    TransactionRequest request;
    request.headers = readHeaders(in);
    const std::uint16_t kind = in.u16();
    if (kind == kTmBegin) {
        request.kind = TransactionRequestKind::Begin;
    } else if (kind == kTmCommit || kind == kTmRollback) {
        request.kind =
            kind == kTmCommit ? TransactionRequestKind::Commit : TransactionRequestKind::Rollback;
        in.bVarchar(); // transaction name
        if (!in.atEnd())
            request.beginAnother = (in.u8() & 0x01) != 0;
    }
    return request;
}

} // namespace zeph::tds
