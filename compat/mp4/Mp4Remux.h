#pragma once
#include <string>

namespace mp4 {

// Rewrites a (fragmented) MP4 file in place as a plain MP4 with its index before the media,
// which every player can seek. Works through a temporary file beside it and replaces the
// original only when the copy is complete. Returns an error text, empty on success.
std::string remuxToPlainMp4(const std::string& path);

// The text of a libav error code.
std::string avError(int code);

} // namespace mp4
