#include "DemoPicture.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace stub {

namespace {

uint32_t Crc32(const std::string& data, size_t from) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = from; i < data.size(); ++i) crc = table[(crc ^ uint8_t(data[i])) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PutBig32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += char((value >> shift) & 0xFF);
}

void AppendChunk(std::string& png, const char* type, const std::string& payload) {
  PutBig32(png, uint32_t(payload.size()));
  const size_t typeAt = png.size();
  png += type;
  png += payload;
  PutBig32(png, Crc32(png, typeAt));
}

// zlib stream of stored (uncompressed) deflate blocks.
std::string StoredZlib(const std::string& raw) {
  std::string out = "\x78\x01";
  size_t at = 0;
  do {
    const size_t length = std::min<size_t>(raw.size() - at, 65535);
    const bool last = at + length == raw.size();
    out += char(last ? 1 : 0);
    out += char(length & 0xFF);
    out += char(length >> 8);
    out += char(~length & 0xFF);
    out += char((~length >> 8) & 0xFF);
    out.append(raw, at, length);
    at += length;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(out, (b << 16) | a);
  return out;
}

}  // namespace

std::string DemoAvatarPng(int size) {
  std::string raw;
  const double centre = (size - 1) / 2.0, radius = size * 0.45;
  for (int y = 0; y < size; ++y) {
    raw += char(0);  // filter: none
    for (int x = 0; x < size; ++x) {
      const double dx = x - centre, dy = y - centre;
      const bool inside = dx * dx + dy * dy <= radius * radius;
      raw += char(inside ? 51 : 255);
      raw += char(inside ? 136 : 255);
      raw += char(255);
    }
  }
  std::string header;
  PutBig32(header, uint32_t(size));
  PutBig32(header, uint32_t(size));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  AppendChunk(png, "IHDR", header);
  AppendChunk(png, "IDAT", StoredZlib(raw));
  AppendChunk(png, "IEND", {});
  return png;
}

}  // namespace stub
