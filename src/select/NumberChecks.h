#pragma once
// The numeric tests of the selection page: the platform's test for "is this text a number", the
// number a text stands for, and MyIsNumber, which also wants a whole, non-negative value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zeph {

/// The platform's numeric test: blanks around, an optional sign, digits with an optional decimal
/// part, and an optional exponent ("12", " -5 ", "1.5", ".5", "1e3"). An empty text, a lone sign or
/// point, and a number too large for a double are not numeric.
bool isNumericText(std::string_view text);

/// The value of a numeric text; nothing when isNumericText is false.
std::optional<double> numericValue(std::string_view text);

/// A number written back as decimal text without blanks: whole numbers in plain digits ("007" gives
/// "7", "1e3" gives "1000"), others in their shortest exact form ("12.5").
std::string numberText(double value);

/// True for an empty text, and for a numeric text whose value is a whole number that is not
/// negative and that is written without a "." ("007", "1e3"; not "-5", "1.0", "12a"). The bounds
/// apply only when at least one is given and they are not both 0.
bool MyIsNumber(std::string_view text, std::optional<std::int32_t> lowest = std::nullopt,
                std::optional<std::int32_t> highest = std::nullopt);

} // namespace zeph
