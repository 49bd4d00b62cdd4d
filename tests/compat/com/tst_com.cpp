#include "compat/com/ClassRegistry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

TEST(Guid, FormatsAndParsesRoundTrip) {
    constexpr GUID g = MakeGuid("{891a04f1-bd06-4660-be42-0c66fd85e137}");
    EXPECT_EQ(GuidToString(g), "{891A04F1-BD06-4660-BE42-0C66FD85E137}");
    EXPECT_EQ(g.Data1, 0x891A04F1u);
    EXPECT_EQ(g.Data4[7], 0x37);
    auto parsed = GuidFromString("891A04F1-BD06-4660-BE42-0C66FD85E137");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, g);
}

TEST(Guid, RejectsMalformedText) {
    for (const char *text : {"", "{}", "{891A04F1-BD06-4660-BE42-0C66FD85E13}", "{891A04F1-BD06-4660-BE42-0C66FD85E1377}",
                             "{891A04F1+BD06-4660-BE42-0C66FD85E137}", "{891A04F1-BD06-4660-BE42-0C66FD85E13G}",
                             "(891A04F1-BD06-4660-BE42-0C66FD85E137)"})
        EXPECT_FALSE(GuidFromString(text)) << text;
}

TEST(HResult, CodesKeepThePlatformValues) {
    struct Case {
        HRESULT code;
        uint32_t value;
    } cases[] = {{E_FAIL, 0x80004005}, {E_POINTER, 0x80004003}, {E_NOTIMPL, 0x80004001},
                 {E_INVALIDARG, 0x80070057}, {E_ACCESSDENIED, 0x80070005}, {E_OUTOFMEMORY, 0x8007000E},
                 {VFW_E_NOT_FOUND, 0x80040216}, {VFW_S_NO_MORE_ITEMS, 262403}, {VFW_E_NOT_CONNECTED, 0x80040209},
                 {VFW_E_NOT_COMMITTED, 0x80040211}, {VFW_E_ALREADY_CONNECTED, 0x80040204}};
    for (const Case &c : cases) EXPECT_EQ(uint32_t(c.code), c.value);
    EXPECT_TRUE(FAILED(VFW_E_NOT_FOUND));
    EXPECT_TRUE(SUCCEEDED(VFW_S_NO_MORE_ITEMS));
    EXPECT_EQ(HResultText(VFW_E_NOT_FOUND), "An object or name was not found.");
    EXPECT_NE(HResultText(MakeHResult(0x80991234)).find("80991234"), std::string::npos);
}

std::atomic<int> destroyed{0};

struct Counted final : CUnknown {
    ~Counted() override { destroyed++; }
};

TEST(Unknown, ReferenceCountIsExactUnderConcurrentUse) {
    destroyed = 0;
    ComPtr<IUnknown> object;
    ASSERT_EQ(CreateComObject<Counted>(IID_IUnknown, object.PutVoid()), S_OK);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                ComPtr<IUnknown> copy = object;
                ComPtr<IUnknown> again = copy;
            }
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(destroyed.load(), 0);
    object = nullptr;
    EXPECT_EQ(destroyed.load(), 1);
}

TEST(Unknown, QueryInterfaceAnswersOnlyWhatTheObjectIs) {
    ComPtr<IUnknown> object;
    ASSERT_EQ(CreateComObject<Counted>(IID_IUnknown, object.PutVoid()), S_OK);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(object.As(&factory), E_NOINTERFACE);
    EXPECT_FALSE(factory);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_TRUE(IsSameObject(object.Get(), object.Get()));
}

class RegistryFile : public ::testing::Test {
protected:
    void SetUp() override {
        path = std::filesystem::temp_directory_path() /
               ("com-registry-" + std::to_string(::getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
        std::filesystem::remove(path);
        ClassRegistry::Instance().SetRegistryFilePath(path.string());
    }
    void TearDown() override { std::filesystem::remove(path); }
    std::filesystem::path path;
};

constexpr CLSID kBuiltIn = MakeGuid("{0C1A7E11-0000-4000-8000-000000000001}");
constexpr CLSID kFileClass = MakeGuid("{0C1A7E11-0000-4000-8000-000000000002}");
constexpr GUID kCategory = MakeGuid("{0C1A7E11-0000-4000-8000-0000000000CA}");

TEST_F(RegistryFile, BuiltInClassesAreCreatedByIdentifier) {
    auto &registry = ClassRegistry::Instance();
    registry.RegisterBuiltIn({kBuiltIn, "Built in", "", "Both", MERIT_NORMAL, {kCategory}, {}, {}},
                             [](IUnknown *, REFIID iid, void **object) { return CreateComObject<Counted>(iid, object); });
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(kBuiltIn, nullptr, CLSCTX_INPROC, IID_IUnknown, object.PutVoid()), S_OK);
    EXPECT_TRUE(object);
    registry.UnregisterBuiltIn(kBuiltIn);
    EXPECT_EQ(CoCreateInstance(kBuiltIn, nullptr, CLSCTX_INPROC, IID_IUnknown, object.PutVoid()), REGDB_E_CLASSNOTREG);
}

TEST_F(RegistryFile, AFileThatCannotBeReadIsNeverWrittenOver) {
    auto &registry = ClassRegistry::Instance();
    const std::string broken[] = {
        "{\"classes\": [", // cut short
        "{\"classes\": [{\"clsid\": \"not a class identifier\"}]}\n",
    };
    for (const std::string &text : broken) {
        SCOPED_TRACE(text);
        std::ofstream(path) << text;
        registry.SetRegistryFilePath(path.string());
        EXPECT_EQ(registry.RegisterServer({kFileClass, "Filed", "/x/libfiled.so", "Both", MERIT_NORMAL, {}, {}, {}}),
                  STG_E_READFAULT);
        EXPECT_EQ(registry.UnregisterServer(kFileClass), S_FALSE);
        std::ifstream in(path);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
        EXPECT_FALSE(registry.Find(kFileClass));
    }
}

TEST_F(RegistryFile, LibraryClassesPersistInTheFile) {
    auto &registry = ClassRegistry::Instance();
    ClassRegistration info{kFileClass, "Filed", "/nonexistent/libfiled.so", "Both", MERIT_UNLIKELY, {kCategory},
                           {{MakeGuid("{73646976-0000-0010-8000-00AA00389B71}"), GUID_NULL}}, {}};
    ASSERT_EQ(registry.RegisterServer(info), S_OK);
    ASSERT_TRUE(std::filesystem::exists(path));

    // Another process's view: point away and back, forcing a fresh read of the file.
    registry.SetRegistryFilePath(path.string() + ".other");
    EXPECT_FALSE(registry.Find(kFileClass));
    registry.SetRegistryFilePath(path.string());
    auto found = registry.Find(kFileClass);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "Filed");
    EXPECT_EQ(found->merit, MERIT_UNLIKELY);
    EXPECT_EQ(found->inputTypes, info.inputTypes);
    EXPECT_TRUE(found->InCategory(kCategory));

    ComPtr<IUnknown> object;
    EXPECT_EQ(registry.CreateInstance(kFileClass, nullptr, IID_IUnknown, object.PutVoid()), CO_E_DLLNOTFOUND);

    EXPECT_EQ(registry.UnregisterServer(kFileClass), S_OK);
    EXPECT_FALSE(registry.Find(kFileClass));
    EXPECT_EQ(registry.UnregisterServer(kFileClass), S_FALSE);
}

TEST_F(RegistryFile, CategoryListsHighestMeritFirst) {
    auto &registry = ClassRegistry::Instance();
    const CLSID low = MakeGuid("{0C1A7E11-0000-4000-8000-000000000010}");
    const CLSID high = MakeGuid("{0C1A7E11-0000-4000-8000-000000000011}");
    ASSERT_EQ(registry.RegisterServer({low, "Low", "/x/low.so", "Both", MERIT_UNLIKELY, {kCategory}, {}, {}}), S_OK);
    registry.RegisterBuiltIn({high, "High", "", "Both", MERIT_PREFERRED, {kCategory}, {}, {}},
                             [](IUnknown *, REFIID, void **) { return E_FAIL; });
    auto list = registry.ClassesInCategory(kCategory);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "High");
    EXPECT_EQ(list[1].name, "Low");
    registry.UnregisterBuiltIn(high);
}

TEST_F(RegistryFile, DamagedFileIsReadAsEmpty) {
    for (const char *content : {"", "{", "[1,2,3]", R"({"classes":[{"clsid":"nonsense"},{"name":3},7]})"}) {
        {
            std::ofstream(path) << content;
        }
        ClassRegistry::Instance().SetRegistryFilePath(path.string());
        EXPECT_FALSE(ClassRegistry::Instance().Find(kFileClass)) << content;
        EXPECT_TRUE(ClassRegistry::Instance().ClassesInCategory(kCategory).empty()) << content;
    }
}

TEST_F(RegistryFile, RegisteringALibraryThatIsNotThereFails) {
    std::string error;
    EXPECT_EQ(ClassRegistry::Instance().RegisterLibrary("/nonexistent/libnothing.so", &error), CO_E_DLLNOTFOUND);
    EXPECT_FALSE(error.empty());
}

}  // namespace
