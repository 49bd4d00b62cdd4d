#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A temporary folder for the files a test uploads; removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path &Path() const { return path; }
    // A file of pseudo-random bytes (the same for the same seed).
    std::string WriteRandomFile(const std::string &name, int64_t size, uint32_t seed = 1) const;
    // A file of the given size that takes no disk space (reads as zeros).
    std::string WriteSparseFile(const std::string &name, int64_t size) const;

private:
    std::filesystem::path path;
};

std::string ReadWholeFile(const std::string &path);
