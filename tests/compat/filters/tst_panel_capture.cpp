// The panel capture filter on the offscreen platform: grabs a widget of the program, or the
// picture the program hands it, on the GUI thread, and streams it as bottom-up RGB32.
#include "FilterInterfaces.h"
#include "TestFilters.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

using testfilters::CollectingSink;

namespace {

class SolidWidget : public QWidget {
public:
    QColor colour = Qt::red;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }
};

// The bottom-up RGB32 sample's pixel at (x, y) counted from the top, as 0xRRGGBB.
uint32_t pixelFromTop(const std::vector<uint8_t>& sample, int width, int height, int x, int y)
{
    const uint8_t* p = &sample[(size_t(height - 1 - y) * width + x) * 4];
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Runs the GUI thread's events until a sample whose top-left pixel is `rgb` arrived.
bool waitForColour(CollectingSink* sink, int width, int height, uint32_t rgb)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const auto samples = sink->samples();
        if (!samples.empty() && pixelFromTop(samples.back().bytes, width, height, 3, 3) == rgb)
            return true;
    }
    return false;
}

} // namespace

TEST(PanelCapture, StreamsTheWidgetThenThePictureItIsGiven)
{
    int argc = 1;
    char name[] = "tst_panel_capture";
    char* argv[] = {name};
    QApplication app(argc, argv);
    RegisterOutsideFilters();

    SolidWidget panel;
    panel.resize(161, 120); // odd width: the stream is one pixel narrower
    panel.show();
    QCoreApplication::processEvents();

    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreate(CLSID_FilterGraph, &graph), S_OK);
    ComPtr<IBaseFilter> capture;
    ASSERT_EQ(CoCreate(CLSID_PanelCapture, &capture), S_OK);
    ComPtr<ISetPushPanel> settings;
    ASSERT_EQ(capture->QueryInterface(IID_ISetPushPanel, settings.PutVoid()), S_OK);
    // The order the pen board and the presentation use.
    ASSERT_EQ(settings->SetPanel(panel.winId(), panel.width(), panel.height()), S_OK);
    ASSERT_EQ(settings->SetFrameRate(20), S_OK);
    ASSERT_EQ(settings->SetPlayMode(0), S_OK);
    ASSERT_EQ(settings->SetOwnerWindow(panel.winId()), S_OK);
    ComPtr<CollectingSink> sink(new CollectingSink(MEDIATYPE_Video));
    ASSERT_EQ(graph->AddFilter(capture.Get(), "capture"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), "sink"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinsOf(capture.Get(), PINDIR_OUTPUT)[0].Get(),
                                   PinsOf(sink.Get(), PINDIR_INPUT)[0].Get(), nullptr),
              S_OK);
    const BITMAPINFOHEADER* bmi = sink->connectedType().BitmapHeader();
    ASSERT_NE(bmi, nullptr);
    EXPECT_EQ(sink->connectedType().subtype, MEDIASUBTYPE_RGB32);
    EXPECT_EQ(bmi->biWidth, 160);
    EXPECT_EQ(bmi->biHeight, 120) << "bottom-up";
    EXPECT_EQ(settings->SetPanel(panel.winId(), 320, 240), VFW_E_ALREADY_CONNECTED);

    auto control = graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_TRUE(waitForColour(sink.Get(), 160, 120, 0xFF0000)) << "the red panel";

    // A picture in two halves: blue top, green bottom; it replaces the panel.
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QPainter(&picture).fillRect(0, 120, 320, 120, Qt::green);
    ASSERT_EQ(settings->SetPicture(&picture), S_OK);
    ASSERT_TRUE(waitForColour(sink.Get(), 160, 120, 0x0000FF)) << "the picture";
    const auto frame = sink->samples().back().bytes;
    EXPECT_EQ(pixelFromTop(frame, 160, 120, 80, 110), 0x00FF00u) << "scaled, upright";

    // While a full-screen video covers the panel, the last picture repeats.
    ASSERT_EQ(settings->SetFullScreen(1), S_OK);
    picture.fill(Qt::yellow);
    const size_t before = sink->samples().size();
    QElapsedTimer timer;
    timer.start();
    while (sink->samples().size() < before + 5 && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(pixelFromTop(sink->samples().back().bytes, 160, 120, 3, 3), 0x0000FFu);
    ASSERT_EQ(settings->SetFullScreen(0), S_OK);
    EXPECT_TRUE(waitForColour(sink.Get(), 160, 120, 0xFFFF00)) << "grabbing again";
    control->Stop();
}
