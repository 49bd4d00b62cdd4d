// The web service reply readers on arbitrary text: decoding, the error table and the JSON
// readers, which must give a defined result for anything.

#include "platform/WebReplies.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);

    const auto decoded = DecodeReply(text);
    if (decoded && decoded->size() > text.size())
        std::abort();

    const TAddVideoReply video = ReadAddVideoReply(text + ErrorCodeText(text));
    // Anything but a decodable JSON object leaves the failure values in place.
    if (!decoded && (video.errorCode != "55" || video.success != "false"))
        std::abort();

    const TCategoryAndGradeReply lists = ReadCategoryAndGradeReply(text);
    const TUserSystemReply check = ReadUserSystemReply(text);
    if ((lists.success || check.success) && !decoded)
        std::abort();
    return 0;
}
