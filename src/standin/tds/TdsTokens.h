#pragma once
// The token stream of the server's replies: login acknowledgement, environment changes, errors
// and messages, result sets (column metadata and rows), completion tokens, return status and
// output parameters.

#include "TdsBytes.h"
#include "platform/Database.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zeph::tds {

namespace done {
inline constexpr std::uint16_t kFinal = 0x00;
inline constexpr std::uint16_t kMore = 0x01;
inline constexpr std::uint16_t kError = 0x02;
inline constexpr std::uint16_t kCount = 0x10;
inline constexpr std::uint16_t kAttention = 0x20;
} // namespace done

namespace token {
inline constexpr std::uint8_t kDone = 0xFD;
inline constexpr std::uint8_t kDoneProc = 0xFE;
inline constexpr std::uint8_t kDoneInProc = 0xFF;
} // namespace token

/// How a result column travels: SQLite's values have no declared type, so a column's type is
/// that of the values it holds.
enum class ColumnType { BigInt, Float, NVarChar, NVarCharMax };

/// A message of the server's (an error when its class is 11 or more).
struct ServerMessage {
    std::int32_t number = 0;
    std::uint8_t state = 1;
    std::uint8_t severity = 16;
    std::string text;
    std::string procedure;
};

class TokenWriter {
public:
    explicit TokenWriter(std::string serverName = "ZEPHRANE-SIM")
        : m_server(std::move(serverName)) {}

    void loginAck(std::string_view program);
    void envChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue);
    void envCollation();
    /// A transaction began (type 8), was committed (9) or rolled back (10).
    void envTransaction(std::uint8_t type, std::uint64_t descriptor);
    void message(const ServerMessage &m, bool isError);
    /// A result set: its column metadata and every row.
    void rowSet(const DbRowSet &rows);
    void doneToken(std::uint8_t kind, std::uint16_t status, std::uint16_t command,
                   std::uint64_t rows);
    void returnStatus(std::int32_t status);
    /// An output parameter holding a whole number (a prepared statement's handle).
    void returnInt(std::uint16_t ordinal, std::string_view name, std::optional<std::int32_t> value);

    std::size_t size() const { return m_out.size(); }
    std::string take() { return m_out.take(); }

private:
    void columnValue(ColumnType type, const DbValue &value);
    void baseTable(const DbRowSet &rows);

    ByteWriter m_out;
    std::string m_server;
};

/// The type each column of the rows travels as.
std::vector<ColumnType> columnTypes(const DbRowSet &rows);

} // namespace zeph::tds
