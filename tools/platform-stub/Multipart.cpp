#include "Multipart.h"

#include <cctype>

namespace stub {

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The value of a parameter like name="x" or boundary=y inside a header value.
bool HeaderParameter(std::string_view header, std::string_view name, std::string& value) {
  size_t start = header.find(';');
  while (start != std::string_view::npos) {
    size_t end = header.find(';', start + 1);
    std::string_view item = TrimBlanks(header.substr(start + 1, end == header.npos ? header.npos : end - start - 1));
    if (item.size() > name.size() && item.substr(0, name.size()) == name && item[name.size()] == '=') {
      std::string_view raw = item.substr(name.size() + 1);
      if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
      value = std::string(raw);
      return true;
    }
    start = end;
  }
  return false;
}

}  // namespace

std::string ParseSingleFilePart(std::string_view contentTypeHeader, std::string_view body, FilePart& part) {
  if (contentTypeHeader.substr(0, 20) != "multipart/form-data;") return "Content-Type is not multipart/form-data";
  std::string boundary;
  if (!HeaderParameter(contentTypeHeader, "boundary", boundary) || boundary.empty())
    return "multipart boundary missing";
  const std::string opening = "--" + boundary + "\r\n";
  if (body.substr(0, opening.size()) != opening) return "body does not start with the boundary";
  std::string_view rest = body.substr(opening.size());
  const size_t headEnd = rest.find("\r\n\r\n");
  if (headEnd == std::string_view::npos) return "part headers not terminated";
  std::string_view headers = rest.substr(0, headEnd + 2);
  rest.remove_prefix(headEnd + 4);

  std::string closing = "\r\n--" + boundary + "--\r\n";
  if (rest.size() >= closing.size() && rest.substr(rest.size() - closing.size()) == closing) {
    part.data = rest.substr(0, rest.size() - closing.size());
  } else {
    closing.resize(closing.size() - 2);  // the final CR LF is optional
    if (rest.size() < closing.size() || rest.substr(rest.size() - closing.size()) != closing)
      return "closing boundary missing";
    part.data = rest.substr(0, rest.size() - closing.size());
  }
  if (part.data.find("\r\n--" + boundary) != std::string_view::npos) return "more than one part";

  bool haveDisposition = false;
  while (!headers.empty()) {
    const size_t end = headers.find("\r\n");
    const std::string_view line = headers.substr(0, end);
    headers.remove_prefix(end + 2);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return "malformed part header";
    std::string name(line.substr(0, colon));
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (name == "content-disposition") {
      if (value.substr(0, 10) != "form-data;") return "part is not form-data";
      if (!HeaderParameter(value, "name", part.fieldName)) return "part has no field name";
      if (!HeaderParameter(value, "filename", part.fileName)) return "part carries no file";
      haveDisposition = true;
    } else if (name == "content-type") {
      part.contentType = std::string(value);
    }
  }
  if (!haveDisposition) return "Content-Disposition missing";
  if (part.contentType.empty()) return "part Content-Type missing";
  return {};
}

}  // namespace stub
