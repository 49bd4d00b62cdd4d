// libframescaler.so as a graph meets it: registered into a private registry file, created by
// class identifier, resizing frames between a push source and the sample grabber, showing its
// property page in the media layer's property frame, and unregistered again.
#include "ScalerGraph.h"
#include "framescaler/ScaleSettings.h"
#include "zoom/Zoom.h"

#include "compat/dshow/PropertyPage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <random>

using namespace framescaler_test;

namespace {

class ScaleRegistrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "tst_scaleregistration";
        static char* argv[] = {name, nullptr};
        static QApplication application(argc, argv);
    }
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ClassRegistry::Instance().SetRegistryFilePath(dir.filePath("registry.json").toStdString());
        std::string error;
        ASSERT_EQ(ClassRegistry::Instance().RegisterLibrary(FRAMESCALER_LIBRARY_PATH, &error), S_OK) << error;
    }
    QTemporaryDir dir;
};

TEST_F(ScaleRegistrationTest, RegistersTheFilterAndItsPage)
{
    const auto filter = ClassRegistry::Instance().Find(CLSID_ScaleFilter);
    ASSERT_TRUE(filter.has_value());
    EXPECT_EQ(filter->name, "Orin Resize Filter");
    EXPECT_EQ(filter->merit, 2097152u);
    EXPECT_EQ(filter->threadingModel, "Both");
    EXPECT_TRUE(filter->InCategory(CLSID_LegacyAmFilterCategory));
    const std::vector<RegisteredMediaType> anyVideo{{MEDIATYPE_Video, GUID_NULL}};
    EXPECT_EQ(filter->inputTypes, anyVideo);
    EXPECT_EQ(filter->outputTypes, anyVideo);
    const auto page = ClassRegistry::Instance().Find(CLSID_ScalePropertyPage);
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->name, "Orin Resize Filter");
    EXPECT_FALSE(page->InCategory(CLSID_LegacyAmFilterCategory));

    ASSERT_EQ(ClassRegistry::Instance().UnregisterLibrary(FRAMESCALER_LIBRARY_PATH), S_OK);
    EXPECT_FALSE(ClassRegistry::Instance().Find(CLSID_ScaleFilter).has_value());
    EXPECT_FALSE(ClassRegistry::Instance().Find(CLSID_ScalePropertyPage).has_value());
}

TEST_F(ScaleRegistrationTest, FilterCreatedByClassResizesFramesInAGraph)
{
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreate(CLSID_ScaleFilter, &filter), S_OK);
    ComPtr<IPin> in, out;
    EXPECT_EQ(filter->FindPin("XForm In", in.Put()), S_OK);
    EXPECT_EQ(filter->FindPin("XForm Out", out.Put()), S_OK);
    auto settings = filter.As<IScaleSettings>();
    ASSERT_TRUE(settings);
    // 16:9 into 4:3 with the aspect kept: 160 x 90 between bars of 15 rows.
    TScaleParams p;
    p.width = 160;
    p.height = 120;
    p.keepAspect = 1;
    p.mode = 1;
    ASSERT_EQ(settings->SetParams(&p), S_OK);

    const int inW = 320, inH = 180;
    std::vector<Frame> sent(2);
    std::mt19937 random(9);
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i].bytes.resize(size_t(inW) * inH * 4);
        for (auto& b : sent[i].bytes)
            b = uint8_t(1 + random() % 255);
        sent[i].start = REFERENCE_TIME(i) * 400000;
        sent[i].stop = sent[i].start + 400000;
        sent[i].syncPoint = true;
    }
    ScalerGraph graph(filter.Get(), rgb32Type(inW, inH), sent);
    ASSERT_EQ(graph.connect(), S_OK);
    const auto got = graph.run(sent.size());
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < got.size(); ++i) {
        std::vector<uint8_t> fit(160 * 90 * 4);
        framescaler::zoomBilinear({fit.data(), 160 * 4, 160, 90}, {sent[i].bytes.data(), inW * 4, inW, inH},
                                  framescaler::kBilinear_C);
        std::vector<uint8_t> expected(160 * 120 * 4, 0);
        std::copy(fit.begin(), fit.end(), expected.begin() + 15 * 160 * 4);
        EXPECT_EQ(got[i].bytes, expected) << "frame " << i;
        EXPECT_EQ(got[i].start, sent[i].start);
    }
}

TEST_F(ScaleRegistrationTest, PropertyFrameShowsThePageTheFilterNames)
{
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreate(CLSID_ScaleFilter, &filter), S_OK);
    auto specify = filter.As<ISpecifyPropertyPages>();
    ASSERT_TRUE(specify);
    CAUUID pages;
    ASSERT_EQ(specify->GetPages(&pages), S_OK);
    ASSERT_EQ(pages.cElems, 1u);
    const std::vector<CLSID> clsids(pages.pElems, pages.pElems + pages.cElems);
    CoTaskMemFree(pages.pElems);
    EXPECT_EQ(clsids[0], CLSID_ScalePropertyPage);

    PropertyFrame frame(nullptr, "Orin Resize Filter", filter.Get(), clsids);
    ASSERT_EQ(frame.PageCount(), 1);
    PROPPAGEINFO info;
    ASSERT_EQ(frame.Page(0)->GetPageInfo(&info), S_OK);
    EXPECT_EQ(info.pszTitle, "Properties Page");
    EXPECT_NE(frame.Page(0)->PageWidget()->findChild<QWidget*>("1013"), nullptr);
}

} // namespace
