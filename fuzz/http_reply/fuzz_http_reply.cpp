// The uploader's HTTP reply reader on arbitrary bytes, fed in pieces of arbitrary sizes.

#include "platform/HttpReplyReader.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte picks the piece size, the second whether the connection ends.
    const size_t piece = 1 + data[0] % 64;
    const bool closes = data[1] & 1;
    const std::string_view bytes(reinterpret_cast<const char *>(data + 2), size - 2);

    THttpReplyReader::TLimits limits;
    limits.maxHead = 512;
    limits.maxBody = 1024;
    THttpReplyReader reader(limits);
    for (size_t at = 0; at < bytes.size(); at += piece)
        reader.Feed(bytes.substr(at, piece));
    if (closes)
        reader.FinishAtClose();

    switch (reader.State()) {
    case THttpReplyReader::TState::Complete:
        if (reader.Status() < 200 || reader.Status() > 999 || reader.Body().size() > limits.maxBody ||
            reader.Leftover().size() > bytes.size())
            std::abort();
        break;
    case THttpReplyReader::TState::Failed:
        if (reader.Error().empty())
            std::abort();
        break;
    case THttpReplyReader::TState::NeedMore:
        if (reader.Body().size() > limits.maxBody)
            std::abort();
        break;
    }
    return 0;
}
