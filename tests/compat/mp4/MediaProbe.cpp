#include "MediaProbe.h"

#include <cstdio>
#include <fstream>

namespace testmedia {

nlohmann::json ffprobe(const std::string& path, const std::string& arguments)
{
    const std::string command =
        "ffprobe -v error -of json " + arguments + " '" + path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return nlohmann::json::object();
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    if (pclose(pipe) != 0)
        return nlohmann::json::object();
    return nlohmann::json::parse(text, nullptr, false);
}

std::vector<std::string> topLevelBoxes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> boxes;
    unsigned char header[16];
    while (in.read(reinterpret_cast<char*>(header), 8)) {
        uint64_t size = uint64_t(header[0]) << 24 | header[1] << 16 | header[2] << 8 | header[3];
        uint64_t headerSize = 8;
        if (size == 1) {
            if (!in.read(reinterpret_cast<char*>(header + 8), 8))
                break;
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | header[i];
            headerSize = 16;
        }
        boxes.emplace_back(reinterpret_cast<char*>(header + 4), 4);
        if (size < headerSize)
            break;
        in.seekg(static_cast<std::streamoff>(size - headerSize), std::ios::cur);
    }
    return boxes;
}

} // namespace testmedia
