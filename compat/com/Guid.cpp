#include "compat/com/Guid.h"

#include <cstdio>

std::optional<GUID> GuidFromString(std::string_view text) {
    GUID g;
    if (!com_detail::ParseGuidText(text, g)) return std::nullopt;
    return g;
}

std::string GuidToString(const GUID &g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return text;
}
