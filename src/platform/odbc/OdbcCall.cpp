#include "OdbcCall.h"

#include "platform/DbErrors.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <iterator>

namespace zeph::odbc {

long errorNumber(std::string_view sqlState) {
    auto is = [&](std::string_view prefix) { return sqlState.substr(0, prefix.size()) == prefix; };
    if (is("07001") || is("07002"))
        return sqlerr::kMissingValue;
    if (is("22001"))
        return sqlerr::kTooLong;
    if (is("22"))
        return sqlerr::kConversion;
    if (is("23"))
        return sqlerr::kConstraint;
    if (is("42") || is("37") || is("S0"))
        return sqlerr::kSyntaxOrObject;
    if (is("HYT"))
        return sqlerr::kTimeout;
    return sqlerr::kGeneral;
}

ErrorKind errorKind(std::string_view sqlState, long nativeError) {
    switch (nativeError) {
    case 1101: // no new page: the filegroup is full
    case 1105: // no space for an object: the filegroup is full
    case 9002: // the transaction log is full
    case 3906: // the database is read-only
    case 823:  // the operating system failed a read or write of a database file
    case 824:  // a page read back is not what was written
    case 825:  // a read had to be retried
    case 1222: // a lock was not granted in time
    case 1204: // no lock can be had: the server has run out of them
        return ErrorKind::WriteRefused;
    default:
        break;
    }
    auto is = [&](std::string_view prefix) { return sqlState.substr(0, prefix.size()) == prefix; };
    // The query time-out ran out, or the connection to the server is gone.
    if (is("HYT") || is("08"))
        return ErrorKind::WriteRefused;
    return ErrorKind::Plain;
}

namespace {

// Drivers put the names of the layers a message passed through before it
// ("[FreeTDS][SQL Server]..."); the message itself is what the server said, as the embedded
// backend reports it.
std::string withoutSourceNames(std::string text) {
    std::size_t start = 0;
    while (start < text.size() && text[start] == '[') {
        const std::size_t close = text.find(']', start);
        if (close == std::string::npos)
            break;
        start = close + 1;
    }
    return start < text.size() ? text.substr(start) : text;
}

} // namespace

Error diagnosticError(SQLSMALLINT handleType, SQLHANDLE handle, std::string_view what) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[2048] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = handle == SQL_NULL_HANDLE
                       ? SQL_ERROR
                       : SQLGetDiagRecW(handleType, handle, 1, state, &native, message,
                                        static_cast<SQLSMALLINT>(std::size(message)), &length);
    if (!SQL_SUCCEEDED(rc))
        return Error(sqlerr::kGeneral, std::string(what) + " failed (the driver told no reason).");
    const std::string sqlState = fromWide(state, 5);
    const std::size_t shown = std::min<std::size_t>(
        static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), std::size(message) - 1);
    std::string text = withoutSourceNames(fromWide(message, shown));
    // A refused permission is an error of its own kind on the server: 229/230 (object/column).
    long number = native == 229 || native == 230 ? sqlerr::kPermission : errorNumber(sqlState);
    return Error(number, text.empty() ? std::string(what) + " failed (" + sqlState + ")." : text,
                 errorKind(sqlState, native));
}

void check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view what) {
    if (!SQL_SUCCEEDED(rc))
        throw diagnosticError(handleType, handle, what);
}

std::basic_string<SQLWCHAR> toWide(std::string_view utf8) {
    std::basic_string<SQLWCHAR> out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0xFFFD;
        std::size_t n = b < 0x80         ? 1
                        : (b >> 5) == 6  ? 2
                        : (b >> 4) == 14 ? 3
                        : (b >> 3) == 30 ? 4
                                         : 0;
        if (n == 0 || i + n > utf8.size()) {
            ++i; // a stray byte: replaced, never dropped silently
        } else {
            cp = n == 1 ? b : b & (0x7F >> n);
            for (std::size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            i += n;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<SQLWCHAR>(0xD800 + (cp >> 10));
            out += static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<SQLWCHAR>(cp);
        }
    }
    return out;
}

std::string fromWide(const SQLWCHAR *text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD; // half a pair
        }
        appendUtf8(out, cp);
    }
    return out;
}

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent)
    : m_type(type) {
    SQLRETURN rc = SQLAllocHandle(type, parent, &m_handle);
    if (!SQL_SUCCEEDED(rc)) {
        SQLSMALLINT parentType = type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC;
        throw diagnosticError(parentType, parent, "Allocating an ODBC handle");
    }
}

Handle::~Handle() {
    if (m_handle != SQL_NULL_HANDLE)
        SQLFreeHandle(m_type, m_handle);
}

} // namespace zeph::odbc
