// regsvr [-u] [--registry FILE] LIBRARY...
// Loads each library and runs its DllRegisterServer (or DllUnregisterServer with -u), which
// records its classes in the media layer's registry file. Exit status 0 when every library
// succeeded, 1 when one failed, 2 for a wrong command line.

#include "compat/com/ClassRegistry.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
void PrintUsage() {
    std::fprintf(stderr,
                 "usage: regsvr [-u] [--registry FILE] LIBRARY...\n"
                 "  -u               unregister instead of register\n"
                 "  --registry FILE  use FILE as the registry (default: %s)\n",
                 ClassRegistry::Instance().RegistryFilePath().c_str());
}
}  // namespace

int main(int argc, char **argv) {
    bool unregister = false;
    std::vector<std::string> libraries;
    auto &registry = ClassRegistry::Instance();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-u" || arg == "/u") {
            unregister = true;
        } else if (arg == "--registry") {
            if (++i >= argc) {
                PrintUsage();
                return 2;
            }
            registry.SetRegistryFilePath(argv[i]);
        } else if (arg == "-h" || arg == "--help") {
            PrintUsage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "regsvr: unknown option %s\n", arg.c_str());
            PrintUsage();
            return 2;
        } else {
            libraries.push_back(arg);
        }
    }
    if (libraries.empty()) {
        PrintUsage();
        return 2;
    }
    int status = 0;
    for (const std::string &library : libraries) {
        std::string error;
        const HRESULT hr = unregister ? registry.UnregisterLibrary(library, &error) : registry.RegisterLibrary(library, &error);
        if (FAILED(hr)) {
            std::fprintf(stderr, "regsvr: %s: %s (0x%08X)%s%s\n", library.c_str(), HResultText(hr).c_str(),
                         static_cast<unsigned>(hr), error.empty() ? "" : ": ", error.c_str());
            status = 1;
        } else {
            std::printf("%s %s in %s\n", unregister ? "Unregistered" : "Registered", library.c_str(),
                        registry.RegistryFilePath().c_str());
        }
    }
    return status;
}
