#pragma once
// The error numbers a database backend gives its failures: those the SQL Server driver reports
// for the same kinds of failure, so that the "(error):" lines read alike on every backend.

namespace zeph {

/// Error numbers as the SQL Server driver reports the same kinds of failure.
namespace sqlerr {
inline constexpr long kGeneral = -2147467259;        // unspecified failure (a lost or bad file)
inline constexpr long kSyntaxOrObject = -2147217900; // a bad statement or a missing object
inline constexpr long kMissingValue = -2147217904;   // a placeholder without a value
inline constexpr long kPermission = -2147217911;     // the statement is not allowed here
inline constexpr long kConversion = -2147217913;     // a value of the wrong type
inline constexpr long kConstraint = -2147217873;     // a key, unique or check constraint
inline constexpr long kTimeout = -2147217871;        // the database stayed busy
inline constexpr long kTooLong = -2147217833;        // a value too long for the database
inline constexpr long kRowChanged = -2147217864;     // the row to update is no longer there
} // namespace sqlerr

} // namespace zeph
