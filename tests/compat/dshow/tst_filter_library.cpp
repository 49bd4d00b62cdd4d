// A filter library registered through its own DllRegisterServer, created through the class
// registry, unloaded only when it says it can be; and the regsvr tool doing the same.

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Interfaces.h"
#include "compat/dshow/Uuids.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr CLSID CLSID_PluginFilter = MakeGuid("{7E57F11E-0001-4000-8000-00000000F11E}");
constexpr CLSID CLSID_PluginPage = MakeGuid("{7E57F11E-0002-4000-8000-00000000F11E}");

class FilterLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = std::getenv("SC_TEST_PLUGIN") ? std::getenv("SC_TEST_PLUGIN") : "";
        ASSERT_FALSE(plugin.empty());
        registryFile = std::filesystem::temp_directory_path() / ("filter-library-" + std::to_string(::getpid()) + ".json");
        std::filesystem::remove(registryFile);
        ClassRegistry::Instance().SetRegistryFilePath(registryFile.string());
    }
    void TearDown() override { std::filesystem::remove(registryFile); }

    std::string plugin;
    std::filesystem::path registryFile;
};

TEST_F(FilterLibrary, RegistersItsClassesWithFilterData) {
    auto &registry = ClassRegistry::Instance();
    std::string error;
    ASSERT_EQ(registry.RegisterLibrary(plugin, &error), S_OK) << error;
    auto filter = registry.Find(CLSID_PluginFilter);
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->name, "Plugin Filter");
    EXPECT_EQ(filter->library, std::filesystem::canonical(plugin).string());
    EXPECT_EQ(filter->merit, MERIT_NORMAL);
    EXPECT_TRUE(filter->InCategory(CLSID_LegacyAmFilterCategory));
    ASSERT_EQ(filter->inputTypes.size(), 1u);
    EXPECT_EQ(filter->inputTypes[0].majorType, MEDIATYPE_Video);
    EXPECT_EQ(filter->inputTypes[0].subType, GUID_NULL);
    auto page = registry.Find(CLSID_PluginPage);
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->categories.empty());

    ASSERT_EQ(registry.UnregisterLibrary(plugin, &error), S_OK) << error;
    EXPECT_FALSE(registry.Find(CLSID_PluginFilter));
    EXPECT_FALSE(registry.Find(CLSID_PluginPage));
}

TEST_F(FilterLibrary, LoadsOnceAndUnloadsOnlyWhenUnused) {
    auto &registry = ClassRegistry::Instance();
    ASSERT_EQ(registry.RegisterLibrary(plugin), S_OK);
    registry.FreeUnusedLibraries();
    ASSERT_FALSE(registry.IsLibraryLoaded(plugin));

    ComPtr<IBaseFilter> first, second;
    ASSERT_EQ(CoCreate(CLSID_PluginFilter, &first), S_OK);
    ASSERT_EQ(CoCreate(CLSID_PluginFilter, &second), S_OK);
    EXPECT_NE(first.Get(), second.Get());
    EXPECT_TRUE(registry.IsLibraryLoaded(plugin));
    CLSID clsid;
    ASSERT_EQ(first->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_PluginFilter);

    first = nullptr;
    registry.FreeUnusedLibraries();
    EXPECT_TRUE(registry.IsLibraryLoaded(plugin)) << "unloaded while an object lives";
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(second->EnumPins(pins.Put()), S_OK);  // the object's code is still mapped
    pins = nullptr;
    second = nullptr;
    registry.FreeUnusedLibraries();
    EXPECT_FALSE(registry.IsLibraryLoaded(plugin));

    // A held class factory with a lock keeps the library too.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(registry.GetClassObject(CLSID_PluginFilter, IID_IClassFactory, factory.PutVoid()), S_OK);
    factory->LockServer(1);
    factory = nullptr;
    registry.FreeUnusedLibraries();
    EXPECT_TRUE(registry.IsLibraryLoaded(plugin));
    ASSERT_EQ(registry.GetClassObject(CLSID_PluginFilter, IID_IClassFactory, factory.PutVoid()), S_OK);
    factory->LockServer(0);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_IUnknown, aggregated.PutVoid()), CLASS_E_NOAGGREGATION);
    factory = nullptr;
    registry.FreeUnusedLibraries();
    EXPECT_FALSE(registry.IsLibraryLoaded(plugin));
    registry.UnregisterLibrary(plugin);
}

int RunCommand(const std::string &command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(FilterLibrary, RegsvrToolRegistersAndUnregisters) {
    const char *tool = std::getenv("SC_REGSVR");
    ASSERT_TRUE(tool);
    const std::string base = std::string(tool) + " --registry " + registryFile.string() + " ";
    EXPECT_EQ(RunCommand(base + plugin), 0);
    EXPECT_NE(ReadFile(registryFile).find(GuidToString(CLSID_PluginFilter)), std::string::npos);
    ClassRegistry::Instance().SetRegistryFilePath(registryFile.string());
    EXPECT_TRUE(ClassRegistry::Instance().Find(CLSID_PluginFilter));

    EXPECT_EQ(RunCommand(base + "-u " + plugin), 0);
    EXPECT_EQ(ReadFile(registryFile).find(GuidToString(CLSID_PluginFilter)), std::string::npos);

    EXPECT_EQ(RunCommand(base + "/nonexistent/libnothing.so"), 1);
    EXPECT_EQ(RunCommand(std::string(tool)), 2);
    EXPECT_EQ(RunCommand(std::string(tool) + " --bogus " + plugin), 2);
}

}  // namespace
