// Runs a libFuzzer entry point without libFuzzer (for compilers that lack it): every corpus
// file first, then random and mutated inputs until the time is up. Built with AddressSanitizer
// and UndefinedBehaviorSanitizer; when one of them stops the program, the input that did it
// is written to fuzz-crash-input in the working folder.
//
//   <target> [--seconds N] [--seed S] [corpus files or folders ...]

#include <sanitizer/common_interface_defs.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<uint8_t> currentInput;

void SaveCurrentInput()
{
    std::ofstream out("fuzz-crash-input", std::ios::binary);
    out.write(reinterpret_cast<const char *>(currentInput.data()), std::streamsize(currentInput.size()));
    std::fprintf(stderr, "the failing input was written to fuzz-crash-input (%zu bytes)\n", currentInput.size());
}

void RunOne(const std::vector<uint8_t> &input)
{
    currentInput = input;
    LLVMFuzzerTestOneInput(currentInput.data(), currentInput.size());
}

// Pieces of text the parsers react to, spliced into inputs.
const char *const Tokens[] = {"\r\n", "\r\n\r\n", "HTTP/1.1 200 OK\r\n", "HTTP/1.0 100 Continue\r\n",
                              "Content-Length: ", "Transfer-Encoding: chunked\r\n", "Connection: close\r\n",
                              "0\r\n\r\n", "ffffffff\r\n", "%", "%%", "+", "{", "}", "[", "]", "\"", ":", ",",
                              "\"success\":true", "\"list\":", "\"id\":", "ErrorCode=", "\\u00", "null", "1e999"};

std::vector<uint8_t> Mutate(std::vector<uint8_t> input, std::mt19937_64 &random)
{
    const int steps = 1 + int(random() % 8);
    for (int step = 0; step < steps; ++step) {
        const size_t at = input.empty() ? 0 : size_t(random() % (input.size() + 1));
        switch (random() % 6) {
        case 0:
            if (!input.empty())
                input[at % input.size()] ^= uint8_t(1u << (random() % 8));
            break;
        case 1:
            input.insert(input.begin() + std::ptrdiff_t(at), uint8_t(random()));
            break;
        case 2:
            if (!input.empty())
                input.erase(input.begin() + std::ptrdiff_t(at % input.size()));
            break;
        case 3: {
            const std::string token = Tokens[random() % std::size(Tokens)];
            input.insert(input.begin() + std::ptrdiff_t(at), token.begin(), token.end());
            break;
        }
        case 4:
            if (!input.empty()) {  // repeat a slice
                const size_t from = random() % input.size();
                const size_t length = 1 + random() % std::min<size_t>(64, input.size() - from);
                const std::vector<uint8_t> slice(input.begin() + std::ptrdiff_t(from),
                                                 input.begin() + std::ptrdiff_t(from + length));
                input.insert(input.begin() + std::ptrdiff_t(at), slice.begin(), slice.end());
            }
            break;
        default:
            input.resize(at);
            break;
        }
    }
    if (input.size() > 65536)
        input.resize(65536);
    return input;
}

}  // namespace

int main(int argc, char **argv)
{
    double seconds = 10;
    uint64_t seed = std::random_device{}();
    std::vector<std::vector<uint8_t>> corpus;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (argument == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else {
            std::vector<std::filesystem::path> files;
            if (std::filesystem::is_directory(argument)) {
                for (const auto &entry : std::filesystem::directory_iterator(argument))
                    files.push_back(entry.path());
            } else {
                files.emplace_back(argument);
            }
            for (const auto &file : files) {
                std::ifstream in(file, std::ios::binary);
                corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        }
    }
    __sanitizer_set_death_callback(SaveCurrentInput);
    std::printf("seed %llu, %zu corpus inputs, %.0f s\n", static_cast<unsigned long long>(seed), corpus.size(),
                seconds);
    std::fflush(stdout);

    for (const auto &input : corpus)
        RunOne(input);
    std::mt19937_64 random(seed);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    uint64_t runs = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        for (int batch = 0; batch < 256; ++batch, ++runs) {
            if (!corpus.empty() && random() % 4 != 0) {
                RunOne(Mutate(corpus[random() % corpus.size()], random));
            } else {
                std::vector<uint8_t> input(random() % 512);
                for (auto &byte : input)
                    byte = uint8_t(random());
                RunOne(Mutate(std::move(input), random));
            }
        }
    }
    std::printf("%llu runs without a finding\n", static_cast<unsigned long long>(runs));
    return 0;
}
