#pragma once
// What ffprobe says about a media file, and the top-level boxes of an MP4 file.
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace testmedia {

// Runs ffprobe with `arguments` (plus JSON output) on `path`; empty object when it fails.
nlohmann::json ffprobe(const std::string& path, const std::string& arguments);

// Top-level box types in file order ("ftyp", "moov", "mdat", "moof", ...).
std::vector<std::string> topLevelBoxes(const std::string& path);

} // namespace testmedia
