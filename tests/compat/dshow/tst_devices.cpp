// Device enumeration, moniker names and the graph/filter components.

#include "TestFilters.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Components.h"
#include "compat/dshow/FilterGraph.h"

#include <gtest/gtest.h>

namespace {

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        devices = std::make_shared<TestDeviceSource>();
        DeviceRegistry::Instance().AddSource(devices);
    }
    void TearDown() override { DeviceRegistry::Instance().RemoveSource(devices); }

    void AddCamera(const std::string &name, const std::string &path) {
        DeviceEntry entry;
        entry.category = CLSID_VideoInputDeviceCategory;
        entry.friendlyName = name;
        entry.displayName = "@device:pnp:" + path;
        entry.properties["DevicePath"] = path;
        entry.create = [name](REFIID iid, void **object) {
            auto *source = new TestSource(name.c_str(), MakeVideoType(MEDIASUBTYPE_YUY2, 32, 24, 16));
            source->NonDelegatingAddRef();
            HRESULT hr = source->NonDelegatingQueryInterface(iid, object);
            source->NonDelegatingRelease();
            return hr;
        };
        devices->AddDevice(entry);
    }

    std::shared_ptr<TestDeviceSource> devices;
};

TEST_F(Devices, CategoryListsDevicesWithTheirProperties) {
    ComPtr<ICreateDevEnum> enumerator;
    ASSERT_EQ(CoCreate(CLSID_SystemDeviceEnum, &enumerator), S_OK);
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Put(), 0), S_FALSE);
    EXPECT_FALSE(monikers);

    AddCamera("Camera A", "/dev/video0");
    AddCamera("Camera B", "/dev/video2");
    ASSERT_EQ(enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Put(), 0), S_OK);
    std::vector<std::string> names;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        ASSERT_EQ(moniker->BindToStorage(IID_IPropertyBag, bag.PutVoid()), S_OK);
        std::string name, path, missing;
        ASSERT_EQ(bag->Read("FriendlyName", &name), S_OK);
        ASSERT_EQ(bag->Read("DevicePath", &path), S_OK);
        EXPECT_EQ(bag->Read("NoSuchProperty", &missing), E_INVALIDARG);
        names.push_back(name + "=" + path);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Camera A=/dev/video0", "Camera B=/dev/video2"}));

    TSysDevEnum cameras(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(cameras.CountFilters(), 2);
    EXPECT_EQ(cameras.FriendlyName(1), "Camera B");
    EXPECT_EQ(cameras.DisplayName(0), "@device:pnp:/dev/video0");
    EXPECT_EQ(cameras.FriendlyName(2), "");
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(cameras.CreateFilter(0, filter.Put()), S_OK);
    FILTER_INFO info;
    filter->QueryFilterInfo(&info);
    EXPECT_EQ(info.achName, "Camera A");
    EXPECT_EQ(cameras.CreateFilter(-1, filter.Put()), E_INVALIDARG);
}

TEST_F(Devices, MonikerNamesBindRegisteredClassesAndDevices) {
    AddCamera("Camera A", "/dev/video0");
    const std::string byClass = SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_NullRenderer);
    EXPECT_EQ(byClass, "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{C1F400A4-3F08-11D3-9F0B-006008039E37}");
    struct Case {
        std::string name;
        HRESULT expected;
    } cases[] = {
        {byClass, S_OK},
        {"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Null Renderer", S_OK},
        {"@device:pnp:/dev/video0", S_OK},
        {"@device:pnp:/dev/video9", MK_E_NOOBJECT},
        {"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{00000000-1111-2222-3333-444444444444}", MK_E_NOOBJECT},
        {"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\No Such Filter", MK_E_NOOBJECT},
        {"@device:sw:{083863F1-70DE-11D0}\\{C1F400A4-3F08-11D3-9F0B-006008039E37}", MK_E_SYNTAX},
        {"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}", MK_E_SYNTAX},
        {"", MK_E_SYNTAX},
    };
    for (const Case &c : cases) {
        ComPtr<IBaseFilter> filter;
        EXPECT_EQ(BindMonikerName(c.name, IID_IBaseFilter, filter.PutVoid()), c.expected) << c.name;
        EXPECT_EQ(filter != nullptr, c.expected == S_OK) << c.name;
    }
}

TEST_F(Devices, GraphComponentAddsAndReleasesItsFilters) {
    AddCamera("Camera A", "/dev/video0");
    TFilterGraph graph("FilterGraphCam");
    TFilter camera("FilterCam");
    TFilter nullRenderer("NullRender");
    camera.SetMonikerName("@device:pnp:/dev/video0");
    nullRenderer.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_NullRenderer));
    camera.SetFilterGraph(&graph);
    nullRenderer.SetFilterGraph(&graph);
    ComPtr<IBaseFilter> probe;
    EXPECT_EQ(camera.QueryInterface(&probe), E_FAIL) << "no filter while the graph is inactive";
    EXPECT_FALSE(graph.Play());

    ASSERT_TRUE(graph.SetActive(true));
    ASSERT_TRUE(graph.Active());
    ASSERT_TRUE(camera.GetFilter());
    ComPtr<IBaseFilter> found;
    ASSERT_EQ(graph.GraphBuilder()->FindFilterByName("FilterCam", found.Put()), S_OK);
    EXPECT_TRUE(IsSameObject(found.Get(), camera.GetFilter().Get()));
    ASSERT_EQ(graph.CaptureGraphBuilder()->RenderStream(nullptr, nullptr, camera.GetFilter().Get(), nullptr,
                                                        nullRenderer.GetFilter().Get()),
              S_OK);
    ASSERT_TRUE(graph.Play());
    EXPECT_EQ(graph.State(), State_Running);

    // A filter attached while active joins at once; detaching removes it.
    TFilter late("Late");
    late.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_SampleGrabber));
    late.SetFilterGraph(&graph);
    EXPECT_EQ(graph.GraphBuilder()->FindFilterByName("Late", found.Put()), S_OK);
    late.SetFilterGraph(nullptr);
    EXPECT_EQ(graph.GraphBuilder()->FindFilterByName("Late", found.Put()), VFW_E_NOT_FOUND);

    found = nullptr;
    ASSERT_TRUE(graph.SetActive(false));
    EXPECT_FALSE(graph.Active());
    EXPECT_FALSE(camera.GetFilter());
    EXPECT_EQ(graph.GraphBuilder(), nullptr);

    // A moniker that binds to nothing leaves the component without a filter.
    TFilter missing("Missing");
    missing.SetMonikerName("@device:pnp:/dev/video9");
    missing.SetFilterGraph(&graph);
    ASSERT_TRUE(graph.SetActive(true));
    EXPECT_FALSE(missing.GetFilter());
    EXPECT_EQ(missing.BindResult(), MK_E_NOOBJECT);
}

TEST_F(Devices, ComponentsForgetAGraphThatIsDestroyed) {
    TFilter filter("F");
    filter.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_NullRenderer));
    {
        TFilterGraph graph;
        filter.SetFilterGraph(&graph);
        graph.SetActive(true);
        EXPECT_TRUE(filter.GetFilter());
    }
    EXPECT_EQ(filter.FilterGraph(), nullptr);
    EXPECT_FALSE(filter.GetFilter());
}

}  // namespace
