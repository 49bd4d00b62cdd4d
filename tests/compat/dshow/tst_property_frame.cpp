// Property pages hosted by the property frame, on the offscreen Qt platform.

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/PropertyPage.h"

#include <QApplication>
#include <QCheckBox>

#include <gtest/gtest.h>

SC_INTERFACE_ID(ITestSetting, "{7E57BA6E-0001-4000-8000-0000000BA6E1}")
struct ITestSetting : IUnknown {
    virtual bool Get() = 0;
    virtual void Set(bool value) = 0;
};

namespace {

class SettingObject final : public CUnknown, public ITestSetting, public ISpecifyPropertyPages {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_ITestSetting) return GetInterface(static_cast<ITestSetting *>(this), object);
        if (iid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    bool Get() override { return value; }
    void Set(bool v) override { value = v; }
    HRESULT GetPages(CAUUID *pages) override {
        pages->cElems = 1;
        pages->pElems = static_cast<GUID *>(CoTaskMemAlloc(sizeof(GUID)));
        pages->pElems[0] = kPageClass;
        return S_OK;
    }
    static constexpr CLSID kPageClass = MakeGuid("{7E57BA6E-0002-4000-8000-0000000BA6E2}");
    bool value = false;
};

class SettingPage final : public CBasePropertyPage {
public:
    SettingPage() : CBasePropertyPage("SettingPage", "Setting") {}
    HRESULT OnConnect(IUnknown *object) override { return object->QueryInterface(IID_ITestSetting, setting.PutVoid()); }
    HRESULT OnDisconnect() override {
        setting = nullptr;
        return S_OK;
    }
    HRESULT OnActivate(QWidget *page) override {
        box = new QCheckBox("Enabled", page);
        box->setChecked(setting->Get());
        QObject::connect(box, &QCheckBox::toggled, page, [this] { SetDirty(); });
        return S_OK;
    }
    HRESULT OnApplyChanges() override {
        setting->Set(box->isChecked());
        return S_OK;
    }
    ComPtr<ITestSetting> setting;
    QCheckBox *box = nullptr;
};

TEST(PropertyFrame, HostsPagesAndAppliesChanges) {
    int argc = 1;
    char name[] = "tst_property_frame";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ClassRegistry::Instance().RegisterBuiltIn({SettingObject::kPageClass, "Setting page", "", "Both", 0, {}, {}, {}},
                                              [](IUnknown *, REFIID iid, void **object) {
                                                  return CreateComObject<SettingPage>(iid, object);
                                              });
    ComPtr<IUnknown> object;
    ASSERT_EQ(CreateComObject<SettingObject>(IID_IUnknown, object.PutVoid()), S_OK);
    auto setting = object.As<ITestSetting>();
    {
        PropertyFrame frame(nullptr, "Properties", object.Get(), {SettingObject::kPageClass, GUID_NULL});
        ASSERT_EQ(frame.PageCount(), 1) << "a class that cannot be made is left out";
        EXPECT_FALSE(frame.ApplyEnabled());
        auto *box = frame.Page(0)->PageWidget()->findChild<QCheckBox *>();
        ASSERT_NE(box, nullptr);
        box->setChecked(true);
        EXPECT_TRUE(frame.ApplyEnabled());
        EXPECT_FALSE(setting->Get());
        EXPECT_EQ(frame.ApplyAll(), S_OK);
        EXPECT_TRUE(setting->Get());
        EXPECT_FALSE(frame.ApplyEnabled());
    }
    ClassRegistry::Instance().UnregisterBuiltIn(SettingObject::kPageClass);
}

}  // namespace
