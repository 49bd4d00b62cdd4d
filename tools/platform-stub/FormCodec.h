#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Form and query text as the platform reads it: name=value pairs joined by "&", values
// percent-encoded with "+" for a blank. Order is kept because the platform checks it.
namespace stub {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// Decodes one value; nullopt when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> FormDecode(std::string_view text);

// Splits and decodes "a=1&b=2"; nullopt when a pair has no "=" or a value does not decode.
std::optional<FormFields> ParseForm(std::string_view text);

// Checks that the pairs carry exactly these names in this order; returns an explanation
// of the first difference, empty when they match.
std::string CheckFieldOrder(const FormFields& fields, const std::vector<std::string>& names);

// The value of a field known to be present (after CheckFieldOrder).
const std::string& FieldValue(const FormFields& fields, std::string_view name);

// True for a decimal number without sign and without leading zeros ("0" allowed).
bool IsPlainDecimal(std::string_view text);

}  // namespace stub
