#include "FormCodec.h"

#include <stdexcept>

namespace stub {

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

std::optional<std::string> FormDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<FormFields> ParseForm(std::string_view text) {
  FormFields fields;
  if (text.empty()) return fields;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view pair = text.substr(start, end - start);
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    auto name = FormDecode(pair.substr(0, eq));
    auto value = FormDecode(pair.substr(eq + 1));
    if (!name || !value) return std::nullopt;
    fields.emplace_back(std::move(*name), std::move(*value));
    start = end + 1;
  }
  return fields;
}

std::string CheckFieldOrder(const FormFields& fields, const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (i >= fields.size()) return "field " + names[i] + " missing";
    if (fields[i].first != names[i])
      return "field " + std::to_string(i + 1) + " is " + fields[i].first + ", expected " + names[i];
  }
  if (fields.size() > names.size()) return "unexpected field " + fields[names.size()].first;
  return {};
}

const std::string& FieldValue(const FormFields& fields, std::string_view name) {
  for (const auto& field : fields)
    if (field.first == name) return field.second;
  throw std::logic_error("form field not present: " + std::string(name));
}

bool IsPlainDecimal(std::string_view text) {
  if (text.empty() || text.size() > 19) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace stub
