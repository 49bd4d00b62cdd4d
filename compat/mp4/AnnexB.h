#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace mp4 {

// The NAL units of an H.264 Annex B byte stream (start code 00 00 01 or 00 00 00 01), without
// their start codes.
std::vector<std::span<const uint8_t>> annexBUnits(std::span<const uint8_t> stream);

// The sequence and picture parameter sets of an access unit, each with a 4-byte start code, in
// stream order: the decoder configuration a container needs. Empty when either kind is missing.
std::vector<uint8_t> h264ParameterSets(std::span<const uint8_t> accessUnit);

} // namespace mp4
