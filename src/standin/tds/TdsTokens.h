#pragma once
// The token stream of the server's replies: login acknowledgement, environment changes, errors
// and messages, result sets (column metadata and rows), completion tokens, return status and
// output parameters.

#include "TdsBytes.h"
#include "TdsTypes.h"
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
/// that of the values it holds: whole numbers as int, or bigint when one needs it; byte
/// strings as varbinary.
enum class ColumnType {
    Int,
    BigInt,
    Float,
    NVarChar,
    NVarCharMax,
    VarBinary,
    VarBinaryMax,
    NText, // long texts before TDS 7.2, which has no nvarchar(max)
    Image, // long byte strings before TDS 7.2
};

/// The TDS versions this server answers in, as a login gives them.
namespace version {
inline constexpr std::uint32_t k71 = 0x71000001;
inline constexpr std::uint32_t k72 = 0x72090002;
inline constexpr std::uint32_t k73A = 0x730A0003;
inline constexpr std::uint32_t k73B = 0x730B0003;
inline constexpr std::uint32_t k74 = 0x74000004;
} // namespace version

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
    explicit TokenWriter(std::uint32_t tdsVersion = version::k74,
                         std::string serverName = "ZEPHRANE-SIM")
        : m_version(tdsVersion)
        , m_server(std::move(serverName)) {}

    void loginAck(std::string_view program);
    void envChange(std::uint8_t type, std::string_view newValue, std::string_view oldValue);
    void envCollation();
    /// A transaction began (type 8), was committed (9) or rolled back (10).
    void envTransaction(std::uint8_t type, std::uint64_t descriptor);
    void message(const ServerMessage &m, bool isError);
    /// A result set: its column metadata and every row. `binary`: the columns that hold byte
    /// strings (a text of the database's is never one).
    void rowSet(const DbRowSet &rows, const std::vector<bool> &binary = {});
    /// The column metadata of a result whose rows follow in parts (`rows` gives the columns,
    /// and the base table when it has one), each column in the type given.
    void columnMetadata(const DbRowSet &rows, const std::vector<ColumnType> &types);
    /// Rows of a result whose metadata declared `types`. A value of another kind than its
    /// column's is converted as SQL Server converts it, or refused with SQL Server's error
    /// (TsqlError) when it cannot be: the rows before it are written.
    void rowTokens(const DbRowSet &rows, const std::vector<ColumnType> &types);
    void doneToken(std::uint8_t kind, std::uint16_t status, std::uint16_t command,
                   std::uint64_t rows);
    void returnStatus(std::int32_t status);
    /// An output parameter holding a whole number (a prepared statement's handle).
    void returnInt(std::uint16_t ordinal, std::string_view name, std::optional<std::int32_t> value);
    /// An output parameter's value in the type the client declared it with.
    void returnValue(std::uint16_t ordinal, std::string_view name, const SqlType &type,
                     const DbValue &value);

    std::size_t size() const { return m_out.size(); }
    std::string take() { return m_out.take(); }

private:
    void columnValue(ColumnType type, const DbValue &value);
    /// The types as this session's TDS version carries them.
    std::vector<ColumnType> sentTypes(std::vector<ColumnType> types) const;
    void baseTable(const DbRowSet &rows);

    /// Before TDS 7.2 a user type and a line number are two bytes, a row count four.
    bool wide() const { return m_version >= version::k72; }

    std::uint32_t m_version;
    ByteWriter m_out;
    std::string m_server;
};

/// The type each column of the rows travels as.
std::vector<ColumnType> columnTypes(const DbRowSet &rows, const std::vector<bool> &binary = {});
/// The type each column of a result travels as when its first rows must go out before the
/// rest is read: the types of those rows, widened so that the later rows fit too (whole
/// numbers as bigint, texts and byte strings of any length).
std::vector<ColumnType> streamedColumnTypes(const DbRowSet &firstRows,
                                            const std::vector<bool> &binary = {});

} // namespace zeph::tds
