#include "platform/UrlEncode.h"

namespace {
bool PassesUnchanged(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '*': case '@': case '.': case '_': case '-': case '$': case '!': case '\'': case '(': case ')':
      return true;
    default:
      return false;
  }
}
}  // namespace

std::string UrlEncode(std::string_view utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size() * 3);
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (PassesUnchanged(c)) {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    }
  }
  return out;
}
