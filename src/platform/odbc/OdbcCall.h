#pragma once
// The ODBC handles the backend holds, and ODBC's failures turned into the system's errors.

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include "platform/Error.h"

#include <string>
#include <string_view>

namespace zeph::odbc {

/// The error number for a diagnostic's SQLSTATE, as the SQL Server driver's clients see it.
long errorNumber(std::string_view sqlState);
/// WriteRefused when SQL Server's native error number or the state says that the server cannot
/// take a write for a reason of its own (full, read-only, failing storage, a lock not granted
/// in time, the connection gone); Plain otherwise.
ErrorKind errorKind(std::string_view sqlState, long nativeError);

/// The error of a failed call on a handle: the first diagnostic record's number and text (the
/// driver's own text, e.g. "[FreeTDS][SQL Server]Invalid object name 'X'.").
Error diagnosticError(SQLSMALLINT handleType, SQLHANDLE handle, std::string_view what);

/// Throws diagnosticError unless the call succeeded (SQL_SUCCESS or SQL_SUCCESS_WITH_INFO).
void check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, std::string_view what);

/// Text between the program (UTF-8) and the driver's wide characters (UTF-16).
std::basic_string<SQLWCHAR> toWide(std::string_view utf8);
std::string fromWide(const SQLWCHAR *text, std::size_t length);

/// An ODBC handle of one kind, freed by the destructor.
class Handle {
public:
    Handle(SQLSMALLINT type, SQLHANDLE parent);
    ~Handle();
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    SQLHANDLE get() const { return m_handle; }
    SQLSMALLINT type() const { return m_type; }
    /// Throws diagnosticError for this handle unless rc is a success.
    void check(SQLRETURN rc, std::string_view what) const {
        odbc::check(rc, m_type, m_handle, what);
    }

private:
    SQLSMALLINT m_type;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

} // namespace zeph::odbc
