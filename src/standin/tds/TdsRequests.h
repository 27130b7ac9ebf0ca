#pragma once
// The client's requests after login: SQL batches (a text), remote procedure calls (a procedure
// by name or by the server's number, with typed parameters) and transaction manager requests.

#include "TdsTypes.h"
#include "platform/Database.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::tds {

/// What every request carries before its own content (TDS 7.2 and later).
struct RequestHeaders {
    /// The transaction the client believes it is in (0: none).
    std::uint64_t transaction = 0;
};

/// The server's own procedures a call may name by number.
namespace procid {
inline constexpr std::uint16_t kExecuteSql = 10;
inline constexpr std::uint16_t kPrepare = 11;
inline constexpr std::uint16_t kExecute = 12;
inline constexpr std::uint16_t kPrepExec = 13;
inline constexpr std::uint16_t kUnprepare = 15;
} // namespace procid

struct RpcParam {
    std::string name; // with its "@", or empty
    bool output = false;
    SqlType type;
    DbValue value;
};

struct RpcCall {
    std::string name;         // empty when called by number
    std::uint16_t number = 0; // one of procid when called by number
    std::vector<RpcParam> params;
};

struct SqlBatch {
    RequestHeaders headers;
    std::string text;
};

struct RpcRequest {
    RequestHeaders headers;
    std::vector<RpcCall> calls;
};

enum class TransactionRequestKind { Begin, Commit, Rollback, Other };

struct TransactionRequest {
    RequestHeaders headers;
    TransactionRequestKind kind = TransactionRequestKind::Other;
    /// A commit or rollback that asks for a new transaction to begin at once.
    bool beginAnother = false;
    /// The transaction's name, when the client gave one.
    std::string name;
};

/// Each reader throws ProtocolError for a malformed request, UnsupportedRequest for one this
/// server cannot take. `headers`: the request begins with its headers (TDS 7.2 and later).
SqlBatch parseSqlBatch(std::string_view payload, bool headers = true);
RpcRequest parseRpc(std::string_view payload, bool headers = true);
TransactionRequest parseTransactionRequest(std::string_view payload, bool headers = true);

} // namespace zeph::tds
