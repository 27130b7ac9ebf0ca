// libFuzzer entry for the TDS front's reading of what a client sends: bytes off a socket go
// through the packet reader in pieces of any size, and each message through the reader of its
// kind. Anything must be read or refused with a ProtocolError (or, for T-SQL, a TsqlError),
// never crash, and the reader never holds more than its bound.
#include "standin/tds/TdsBytes.h"
#include "standin/tds/TdsLogin.h"
#include "standin/tds/TdsPacket.h"
#include "standin/tds/TdsRequests.h"
#include "standin/tds/TsqlTranslation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::size_t kMaxMessage = 1 << 20;

void readMessage(const zeph::tds::Message &m) {
    using namespace zeph::tds;
    switch (m.type) {
    case packet::kPreLogin:
        preLoginReply(m.payload);
        break;
    case packet::kLogin7:
        parseLogin7(m.payload);
        break;
    case packet::kSqlBatch:
        translate(parseSqlBatch(m.payload).text, {});
        break;
    case packet::kRpc:
        for (const auto &call : parseRpc(m.payload).calls) {
            if (!call.params.empty())
                if (auto text = std::get_if<std::string>(&call.params[0].value))
                    translate(*text, {"@P1", "@P2"});
        }
        break;
    case packet::kTransactionManager:
        parseTransactionRequest(m.payload);
        break;
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace zeph::tds;
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    // The first byte chooses the size of the pieces the rest arrives in.
    const std::size_t piece = size ? 1 + data[0] % 64 : 1;
    PacketReader reader(kMaxMessage);
    try {
        for (std::size_t at = size ? 1 : 0; at < size; at += piece) {
            reader.feed(bytes.substr(at, piece));
            while (auto m = reader.next()) {
                try {
                    readMessage(*m);
                } catch (const TsqlError &) {
                }
            }
            if (reader.pending() > kMaxMessage + 2 * packet::kMaxSize)
                std::abort(); // held beyond its bound
        }
    } catch (const ProtocolError &) {
    }
    return 0;
}
