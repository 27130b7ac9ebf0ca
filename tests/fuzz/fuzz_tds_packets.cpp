// libFuzzer entry for the TDS front's reading of what a client sends: bytes off a socket go
// through the packet reader in pieces of any size, and each message through the reader of its
// kind. Anything must be read or refused with a ProtocolError (or, for T-SQL, a TsqlError),
// never crash, and the reader never holds more than its bound.
#include "standin/tds/CatalogProcedures.h"
#include "standin/tds/TdsBytes.h"
#include "standin/tds/TdsLogin.h"
#include "standin/tds/TdsPacket.h"
#include "standin/tds/TdsRequests.h"
#include "standin/tds/TdsTypes.h"
#include "standin/tds/TsqlTranslation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::size_t kMaxMessage = 1 << 20;

// Every text a parameter brings is also read as a date, and written back in its type.
void readValues(const zeph::tds::RpcRequest &request) {
    using namespace zeph::tds;
    for (const auto &call : request.calls) {
        for (const auto &param : call.params) {
            ByteWriter out;
            writeTypedValue(out, param.type, param.value);
            if (auto text = std::get_if<std::string>(&param.value))
                parseDateText(*text);
        }
        if (!call.params.empty())
            if (auto text = std::get_if<std::string>(&call.params[0].value))
                translate(*text, {"@P1", "@P2"});
    }
}

// A request after the login is read with and without the headers of TDS 7.2 and later, as a
// session of either version would; one the server cannot take is refused.
void readMessage(const zeph::tds::Message &m) {
    using namespace zeph::tds;
    for (bool headers : {true, false}) {
        try {
            switch (m.type) {
            case packet::kPreLogin:
                preLoginReply(m.payload);
                break;
            case packet::kLogin7:
                parseLogin7(m.payload);
                break;
            case packet::kSqlBatch: {
                const std::string text = parseSqlBatch(m.payload, headers).text;
                catalogBatch(text);
                translate(text, {});
                break;
            }
            case packet::kRpc:
                readValues(parseRpc(m.payload, headers));
                break;
            case packet::kTransactionManager:
                parseTransactionRequest(m.payload, headers);
                break;
            default:
                break;
            }
        } catch (const ProtocolError &) {
        } catch (const UnsupportedRequest &) {
        } catch (const TsqlError &) {
        }
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
                readMessage(*m);
            }
            if (reader.pending() > kMaxMessage + 2 * packet::kMaxSize)
                std::abort(); // held beyond its bound
        }
    } catch (const ProtocolError &) {
    }
    return 0;
}
