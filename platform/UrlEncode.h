#pragma once

#include <string>
#include <string_view>

// Form-encoding of the platform's addresses: letters, digits and * @ . _ - $ ! ' ( ) pass,
// a blank becomes "+", every other byte "%" and two uppercase hexadecimal digits. The text
// is UTF-8; multi-byte characters are thus escaped byte by byte.
std::string UrlEncode(std::string_view utf8);
