#include "TdsRequests.h"

#include "TdsBytes.h"
#include "TdsTypes.h"

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

// TDS 7.1 has no headers before a request.
RequestHeaders readHeaders(ByteReader &in, bool present) {
    RequestHeaders headers;
    if (!present)
        return headers;
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
        TypedValue typed = readTypedValue(in);
        param.type = typed.type;
        param.value = std::move(typed.value);
        call.params.push_back(std::move(param));
    }
    return call;
}

} // namespace

SqlBatch parseSqlBatch(std::string_view payload, bool headers) {
    ByteReader in(payload);
    SqlBatch batch;
    batch.headers = readHeaders(in, headers);
    if (in.remaining() % 2)
        throw ProtocolError("a batch's text is not UTF-16");
    batch.text = in.utf16(in.remaining() / 2);
    return batch;
}

RpcRequest parseRpc(std::string_view payload, bool headers) {
    ByteReader in(payload);
    RpcRequest request;
    request.headers = readHeaders(in, headers);
    do {
        if (!request.calls.empty())
            in.u8(); // the separator between calls
        request.calls.push_back(readCall(in));
    } while (!in.atEnd());
    return request;
}

TransactionRequest parseTransactionRequest(std::string_view payload, bool headers) {
    ByteReader in(payload);
    TransactionRequest request;
    request.headers = readHeaders(in, headers);
    const std::uint16_t kind = in.u16();
    if (kind == kTmBegin) {
        request.kind = TransactionRequestKind::Begin;
        if (!in.atEnd()) {
            in.u8(); // isolation level
            if (!in.atEnd())
                request.name = fromUtf16(in.bytes(in.u8()));
        }
    } else if (kind == kTmCommit || kind == kTmRollback) {
        request.kind =
            kind == kTmCommit ? TransactionRequestKind::Commit : TransactionRequestKind::Rollback;
        // The transaction's name: a count of bytes, then UTF-16.
        request.name = fromUtf16(in.bytes(in.u8()));
        if (!in.atEnd())
            request.beginAnother = (in.u8() & 0x01) != 0;
    }
    return request;
}

} // namespace zeph::tds
