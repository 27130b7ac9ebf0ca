#pragma once
// The errors the data layer raises itself, with the numbers and texts an ADO program sees.
// Errors of the database (a refused statement, a broken constraint) come from the backend.

#include "platform/Error.h"

namespace zeph::db {

namespace adoerr {
inline constexpr long kTypeMismatch = 13;
inline constexpr long kInvalidUseOfNull = errnum::kInvalidUseOfNull; // 94
inline constexpr long kInvalidArgument = 3001;
inline constexpr long kNoCurrentRecord = 3021;
inline constexpr long kIllegalOperation = 3219;
inline constexpr long kNotUpdatable = 3251;
inline constexpr long kItemNotFound = 3265;
inline constexpr long kDataConversion = 3421;
inline constexpr long kObjectClosed = 3704;
inline constexpr long kObjectOpen = 3705;
/// A saved row that is no longer where it was read (the backend raises it).
inline constexpr long kRowNotFoundForUpdate = -2147217864;
} // namespace adoerr

/// Throws the data layer's error with its standard description.
[[noreturn]] void throwAdo(long number);

/// The standard description of one of the numbers above ("" for others).
const char *adoDescription(long number);

} // namespace zeph::db
