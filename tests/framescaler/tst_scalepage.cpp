// The resize filter's property page on the offscreen platform: the controls show the filter's
// record, follow the enabling rule, mark the page dirty, and apply what was typed.
#include "filter/ScaleFilter.h"
#include "filter/ScalePropertyPage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>

using namespace framescaler;

namespace {

QApplication& app()
{
    static int argc = 1;
    static char name[] = "tst_scalepage";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return application;
}

class RecordingSite final : public CUnknown, public IPropertyPageSite {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IPropertyPageSite)
            return GetInterface(static_cast<IPropertyPageSite*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT OnStatusChange(DWORD flags) override
    {
        changes.push_back(flags);
        return S_OK;
    }
    std::vector<DWORD> changes;
};

class ScalePageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { app(); }
    void SetUp() override
    {
        HRESULT hr = S_OK;
        filter = static_cast<TScaleFilter*>(TScaleFilter::CreateInstance(nullptr, &hr));
        page = static_cast<TScalePropertyPage*>(TScalePropertyPage::CreateInstance(nullptr, &hr));
        site = new RecordingSite();
        ASSERT_EQ(page->SetPageSite(site.Get()), S_OK);
        IUnknown* objects[] = {static_cast<IBaseFilter*>(filter.Get())};
        ASSERT_EQ(page->SetObjects(1, objects), S_OK);
        ASSERT_EQ(page->Activate(&host), S_OK);
    }
    void TearDown() override
    {
        page->Deactivate();
        page->SetObjects(0, nullptr);
        page->SetPageSite(nullptr);
    }

    template <class T>
    T* control(int id)
    {
        return page->PageWidget()->findChild<T*>(QString::number(id));
    }

    TScaleParams filterParams()
    {
        TScaleParams p;
        filter->GetParams(&p);
        return p;
    }

    QWidget host;
    ComPtr<TScaleFilter> filter;
    ComPtr<TScalePropertyPage> page;
    ComPtr<RecordingSite> site;
};

TEST_F(ScalePageTest, ControlsShowTheFiltersRecord)
{
    EXPECT_EQ(control<QLineEdit>(TScalePropertyPage::kWidthEdit)->text(), "1024");
    EXPECT_EQ(control<QLineEdit>(TScalePropertyPage::kHeightEdit)->text(), "768");
    EXPECT_TRUE(control<QCheckBox>(TScalePropertyPage::kEnabledCheck)->isChecked());
    EXPECT_FALSE(control<QCheckBox>(TScalePropertyPage::kKeepAspectCheck)->isChecked());
    EXPECT_FALSE(control<QCheckBox>(TScalePropertyPage::kPauseCheck)->isChecked());
    EXPECT_TRUE(control<QRadioButton>(TScalePropertyPage::kFastRadio)->isChecked());
    EXPECT_FALSE(control<QRadioButton>(TScalePropertyPage::kBilinearRadio)->isChecked());
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_TRUE(site->changes.empty());
}

TEST_F(ScalePageTest, EnabledDecidesWhichControlsCanBeUsedAndMarksThePageDirty)
{
    control<QCheckBox>(TScalePropertyPage::kEnabledCheck)->click();
    for (int id : {TScalePropertyPage::kWidthEdit, TScalePropertyPage::kHeightEdit,
                   TScalePropertyPage::kKeepAspectCheck, TScalePropertyPage::kPauseCheck})
        EXPECT_FALSE(page->PageWidget()->findChild<QWidget*>(QString::number(id))->isEnabled()) << id;
    EXPECT_TRUE(control<QRadioButton>(TScalePropertyPage::kBilinearRadio)->isEnabled());
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(site->changes, std::vector<DWORD>{PROPPAGESTATUS_DIRTY});
}

TEST_F(ScalePageTest, ApplyHandsTheControlsToTheFilter)
{
    control<QLineEdit>(TScalePropertyPage::kWidthEdit)->setText("640");
    control<QLineEdit>(TScalePropertyPage::kHeightEdit)->setText("360");
    control<QCheckBox>(TScalePropertyPage::kKeepAspectCheck)->click();
    control<QRadioButton>(TScalePropertyPage::kBilinearRadio)->click();
    ASSERT_EQ(page->Apply(), S_OK);
    const TScaleParams p = filterParams();
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 360);
    EXPECT_EQ(p.keepAspect, 1);
    EXPECT_EQ(p.mode, 1);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
}

TEST_F(ScalePageTest, TextThatIsNoNumberReadsAsZeroAndChangesNothing)
{
    control<QLineEdit>(TScalePropertyPage::kWidthEdit)->setText("abc");
    control<QCheckBox>(TScalePropertyPage::kPauseCheck)->click();
    ASSERT_EQ(page->Apply(), S_OK);
    const TScaleParams p = filterParams();
    EXPECT_EQ(p.width, 1024);
    EXPECT_EQ(p.pause, 0);
}

TEST_F(ScalePageTest, AnImpossibleSizeIsReportedInAMessageBox)
{
    control<QLineEdit>(TScalePropertyPage::kWidthEdit)->setText("40000");
    control<QCheckBox>(TScalePropertyPage::kPauseCheck)->click();
    QString title, text;
    bool critical = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        title = box->windowTitle();
        text = box->text();
        critical = box->icon() == QMessageBox::Critical;
        box->accept();
    });
    EXPECT_EQ(page->Apply(), E_INVALIDARG);
    EXPECT_EQ(title, "ERROR");
    EXPECT_EQ(text, "Invalidate parameter!");
    EXPECT_TRUE(critical);
    EXPECT_EQ(filterParams().width, 1024);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
}

TEST(ScalePage, ConnectsOnlyToObjectsWithTheSettingsInterface)
{
    app();
    HRESULT hr = S_OK;
    ComPtr<TScalePropertyPage> page(static_cast<TScalePropertyPage*>(TScalePropertyPage::CreateInstance(nullptr, &hr)));
    ComPtr<RecordingSite> notAFilter(new RecordingSite());
    IUnknown* objects[] = {static_cast<IPropertyPageSite*>(notAFilter.Get())};
    EXPECT_EQ(page->SetObjects(1, objects), E_NOINTERFACE);
    EXPECT_EQ(page->OnConnect(nullptr), E_POINTER);
}

} // namespace
