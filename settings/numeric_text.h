#pragma once
// The one definition of "numeric text" in the project: decimal text with an optional sign, fraction and
// exponent, surrounded by optional blanks. Shared by the settings decoders and the dialog's field checks.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace klvr {

// Raised when text does not convert to the wanted integer type (not a number, or out of range).
class ConversionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The value of the text when it is numeric as a whole, else nothing.
std::optional<double> NumericValue(std::string_view text);
inline bool IsNumericText(std::string_view text) {
    return NumericValue(text).has_value();
}

// Converts numeric text to a whole number, rounding halves to the even neighbour as the stored settings
// always were; throws ConversionError for text that is not numeric or does not fit the type.
std::int16_t ToInt16(std::string_view text);
std::int32_t ToInt32(std::string_view text);
// The same for 64-bit numbers, whole-number text taken exactly; anything beyond the range is an error,
// never a cast.
std::int64_t ToInt64(std::string_view text);

// Rounds like the conversions above; throws ConversionError when the result does not fit.
std::int16_t RoundToInt16(double value);
std::int32_t RoundToInt32(double value);

}  // namespace klvr
