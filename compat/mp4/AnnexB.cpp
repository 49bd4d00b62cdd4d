#include "AnnexB.h"

namespace mp4 {

namespace {
// Index just past the next start code at or after `from`, or stream.size() when there is none.
size_t nextUnitStart(std::span<const uint8_t> s, size_t from)
{
    for (size_t i = from; i + 3 <= s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1)
            return i + 3;
    }
    return s.size();
}
} // namespace

std::vector<std::span<const uint8_t>> annexBUnits(std::span<const uint8_t> stream)
{
    std::vector<std::span<const uint8_t>> units;
    size_t begin = nextUnitStart(stream, 0);
    while (begin < stream.size()) {
        const size_t next = nextUnitStart(stream, begin);
        size_t end = next == stream.size() ? stream.size() : next - 3;
        // Trailing zeros belong to the next start code (4-byte form) or are padding.
        while (end > begin && stream[end - 1] == 0)
            --end;
        if (end > begin)
            units.push_back(stream.subspan(begin, end - begin));
        begin = next;
    }
    return units;
}

std::vector<uint8_t> h264ParameterSets(std::span<const uint8_t> accessUnit)
{
    static constexpr uint8_t kStartCode[] = {0, 0, 0, 1};
    constexpr int kSps = 7;
    constexpr int kPps = 8;
    std::vector<uint8_t> config;
    bool haveSps = false;
    bool havePps = false;
    for (auto unit : annexBUnits(accessUnit)) {
        const int type = unit[0] & 0x1f;
        if (type != kSps && type != kPps)
            continue;
        (type == kSps ? haveSps : havePps) = true;
        config.insert(config.end(), std::begin(kStartCode), std::end(kStartCode));
        config.insert(config.end(), unit.begin(), unit.end());
    }
    if (!haveSps || !havePps)
        config.clear();
    return config;
}

} // namespace mp4
