#pragma once

#include <string>
#include <string_view>

namespace stub {

// The one file part of a multipart/form-data body.
struct FilePart {
  std::string fieldName;
  std::string fileName;
  std::string contentType;
  std::string_view data;  // points into the body
};

// Parses a body that must hold exactly one part with a file; returns an explanation of
// what is wrong, empty on success.
std::string ParseSingleFilePart(std::string_view contentTypeHeader, std::string_view body, FilePart& part);

}  // namespace stub
