#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// A 128-bit class, interface, category or media identifier, laid out as the platform's GUID.
struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};

    friend constexpr bool operator==(const GUID &a, const GUID &b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
    friend bool operator<(const GUID &a, const GUID &b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};
static_assert(sizeof(GUID) == 16);

using CLSID = GUID;
using IID = GUID;
using REFGUID = const GUID &;
using REFIID = const IID &;
using REFCLSID = const CLSID &;

inline constexpr GUID GUID_NULL{};

namespace com_detail {
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (braces optional); false on any deviation.
constexpr bool ParseGuidText(std::string_view text, GUID &out) {
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}') return false;
        text = text.substr(1, 36);
    }
    if (text.size() != 36) return false;
    uint8_t bytes[16] = {};
    int byteIndex = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return false;
            ++i;
            continue;
        }
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[byteIndex++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    out.Data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    out.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    out.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) out.Data4[i] = bytes[8 + i];
    return true;
}
}  // namespace com_detail

// For identifiers written in the source: a malformed literal does not compile.
consteval GUID MakeGuid(std::string_view text) {
    GUID g;
    if (!com_detail::ParseGuidText(text, g)) throw "malformed GUID literal";
    return g;
}

// For identifiers read at run time (registry file, moniker names): nothing on a malformed text.
std::optional<GUID> GuidFromString(std::string_view text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case digits.
std::string GuidToString(const GUID &guid);

// The media-subtype identifier of a four-character code: {fourcc-0000-0010-8000-00AA00389B71}.
constexpr GUID FourCCGuid(uint32_t fourcc) {
    return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}

template <>
struct std::hash<GUID> {
    size_t operator()(const GUID &g) const noexcept {
        uint64_t a, b;
        std::memcpy(&a, &g, 8);
        std::memcpy(&b, reinterpret_cast<const char *>(&g) + 8, 8);
        return std::hash<uint64_t>()(a * 0x9E3779B97F4A7C15ull ^ b);
    }
};
