#include "UploadTestFiles.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "upload-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempFolder::WriteRandomFile(const std::string &name, int64_t size, uint32_t seed) const
{
    const std::string file = (path / name).string();
    std::ofstream out(file, std::ios::binary);
    std::mt19937 generator(seed);
    std::string block(65536, '\0');
    for (int64_t written = 0; written < size;) {
        for (char &c : block)
            c = char(generator());
        const int64_t take = std::min<int64_t>(int64_t(block.size()), size - written);
        out.write(block.data(), take);
        written += take;
    }
    if (!out.flush())
        throw std::runtime_error("cannot write " + file);
    return file;
}

std::string TempFolder::WriteSparseFile(const std::string &name, int64_t size) const
{
    const std::string file = (path / name).string();
    { std::ofstream create(file, std::ios::binary); }
    std::filesystem::resize_file(file, uintmax_t(size));
    return file;
}

std::string ReadWholeFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}
