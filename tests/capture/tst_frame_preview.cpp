// The preview frame: the inset arithmetic for every output size, the border colour, the graph
// it builds from push sources, the pictures it composes in each layout mode, and how the
// entry points behave while the preview is paused, stopped or rebuilt.

#include "capture/DSUtilEx.h"
#include "capture/FramePreviews.h"

#include "app/DataModule.h"
#include "app/Messages.h"
#include "compat/dshow/Devices.h"
#include "compat/dshow/Uuids.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace {

QApplication &App() {
    static int argc = 1;
    static char name[] = "tst_frame_preview";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

template <class Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A source graph of one colour (push source → grabber → null renderer); frames are pushed by
// the test's own thread, as a camera graph's streaming thread would.
class SolidSource {
public:
    // YUY2 of (y, u, v), or RGB32 bottom-up of `rgb` (red in the low byte) when yuy2 is false.
    SolidSource(int width, int height, bool yuy2, uint32_t colour) : graph("SolidGraph"), grabber("SolidGrabber") {
        if (yuy2) {
            type = MakeVideoType(MEDIASUBTYPE_YUY2, width, height, 16, 500000, MakeFourCC('Y', 'U', 'Y', '2'));
            picture.resize(size_t(width) * height * 2);
            for (size_t i = 0; i < picture.size(); i += 4) {
                picture[i] = picture[i + 2] = uint8_t(colour);
                picture[i + 1] = uint8_t(colour >> 8);
                picture[i + 3] = uint8_t(colour >> 16);
            }
        } else {
            type = MakeVideoType(MEDIASUBTYPE_RGB32, width, height, 32, 500000);
            picture.resize(size_t(width) * height * 4);
            for (size_t i = 0; i < picture.size(); i += 4) {
                picture[i] = uint8_t(colour >> 16);  // B, G, R, A
                picture[i + 1] = uint8_t(colour >> 8);
                picture[i + 2] = uint8_t(colour);
                picture[i + 3] = 255;
            }
        }
        nullRenderer.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_NullRenderer));
        nullRenderer.SetFilterGraph(&graph);
    }
    ~SolidSource() { Stop(); }

    void Start(TSampleGrabberEx::TSampleEvent entry) {
        graph.SetActive(true);
        grabber.SetFilterGraph(&graph);
        source = ComPtr<TDeliverSource>(new TDeliverSource("Solid"));
        CheckDSResult(graph.GraphBuilder()->AddFilter(source.Get(), "Solid"), "AddFilter Solid");
        CheckDSResult(source->SetPin(0, "out1", &type), "Solid.SetPin");
        CheckDSResult(ConnectFilters(source.Get(), &grabber), "Solid --> Grabber");
        CheckDSResult(ConnectFilters(&grabber, &nullRenderer), "Grabber --> NullRenderer");
        grabber.SetOnSample(std::move(entry));
        graph.Play();
        running = true;
        thread = std::thread([this] {
            while (running) {
                source->DeliverBuffer(0, picture.data(), LONG(picture.size()), 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    void Stop() {
        running = false;
        if (thread.joinable()) thread.join();
        grabber.SetOnSample(nullptr);
        graph.Stop();
        graph.SetActive(false);
    }

    AM_MEDIA_TYPE type;

private:
    std::vector<uint8_t> picture;
    TFilterGraph graph;
    TSampleGrabberEx grabber;
    TFilter nullRenderer{"NullRenderer"};
    ComPtr<TDeliverSource> source;
    std::thread thread;
    std::atomic<bool> running{false};
};

// Colours as the pipeline carries them: YUY2 cameras, RGB32 panels (studio-range conversion).
constexpr uint32_t Camera1Yuv = 0x6E2E51;   // Y 81, U 46, V 110
constexpr uint32_t Camera2Yuv = 0xF06A29;   // Y 41, U 106, V 240
constexpr uint32_t SlideRgb = 0xFF0000;     // blue
constexpr uint32_t BoardRgb = 0x00FF00;     // green

// The preview with four solid sources running, and the last composed frame.
struct Rig {
    QApplication &app = App();
    TFramePreview preview;
    SolidSource camera1{320, 240, true, Camera1Yuv};
    SolidSource camera2{320, 240, true, Camera2Yuv};
    SolidSource slides{640, 480, false, SlideRgb};
    SolidSource board{640, 480, false, BoardRgb};
    std::mutex lock;
    std::vector<uint8_t> frame;
    int frames = 0;

    explicit Rig(int width = 640, int height = 480) {
        preview.SetFrameSize(width, height);
        preview.OpenMainPush();
        camera1.Start([this](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.Cam1Sample(g, s, t); });
        camera2.Start([this](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.Cam2Sample(g, s, t); });
        slides.Start([this](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.PresentationSample(g, s, t); });
        board.Start([this](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.PenSample(g, s, t); });
        preview.Camera1MediaType = camera1.type;
        preview.Camera2MediaType = camera2.type;
        preview.PresentationMediaType = slides.type;
        preview.PenMediaType = board.type;
        preview.SetOnSample([this](TSampleGrabberEx *, IMediaSample *sample, double) {
            BYTE *data = nullptr;
            sample->GetPointer(&data);
            std::lock_guard guard(lock);
            frame.assign(data, data + sample->GetActualDataLength());
            ++frames;
        });
    }
    ~Rig() {
        // The preview's handler writes into `frame`, which goes before `preview` does.
        preview.StopPreview();
        for (SolidSource *source : {&camera1, &camera2, &slides, &board}) source->Stop();
    }
    // Waits for a few frames composed after now, then returns the last one.
    std::vector<uint8_t> NextFrame() {
        int start;
        {
            std::lock_guard guard(lock);
            start = frames;
        }
        EXPECT_TRUE(WaitFor([&] {
            std::lock_guard guard(lock);
            return frames >= start + 4;
        }));
        std::lock_guard guard(lock);
        return frame;
    }
};

// Y, U, V of the pixel pair at (x, y) in a YUY2 frame of width w.
std::array<int, 3> YuvAt(const std::vector<uint8_t> &frame, int w, int x, int y) {
    const size_t at = (size_t(y) * w + (x & ~1)) * 2;
    return {frame.at(at + (x & 1) * 2), frame.at(at + 1), frame.at(at + 3)};
}

void ExpectColour(const std::vector<uint8_t> &frame, int w, int x, int y, std::array<int, 3> expected,
                  const char *what) {
    const auto got = YuvAt(frame, w, x, y);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(got[i], expected[i], 3) << what << " at (" << x << ", " << y << ") component " << i;
}

constexpr std::array<int, 3> Camera1{81, 46, 110};
constexpr std::array<int, 3> Camera2{41, 106, 240};
constexpr std::array<int, 3> Blue{41, 240, 110};    // BT.601 studio range of pure blue
constexpr std::array<int, 3> Green{145, 54, 34};    // and of pure green

}  // namespace

TEST(InsetPlacement, EveryOutputSizeOfTheSettings) {
    struct Case {
        int w, h, margin;
        TSwitcherRect inset, border;
    };
    const Case cases[] = {
        {640, 480, 8, {420, 8, 212, 164}, {420, 8, 210, 164}},
        {800, 600, 8, {528, 8, 264, 204}, {528, 8, 264, 204}},
        {1024, 768, 12, {672, 12, 340, 260}, {672, 12, 338, 260}},
        {640, 360, 8, {420, 8, 212, 124}, {420, 8, 210, 124}},
        {800, 450, 8, {528, 8, 264, 152}, {528, 8, 264, 152}},
        {1280, 720, 16, {840, 16, 424, 244}, {840, 16, 424, 244}},
    };
    auto same = [](TSwitcherRect a, TSwitcherRect b) {
        return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
    };
    for (const Case &c : cases) {
        const TInsetPlacement placement = InsetPlacement(c.w, c.h);
        EXPECT_EQ(placement.margin, c.margin) << c.w << "x" << c.h;
        EXPECT_TRUE(same(placement.inset, c.inset)) << c.w << "x" << c.h;
        EXPECT_TRUE(same(placement.border, c.border)) << c.w << "x" << c.h;
    }
    // 4.5 rounds to the even 4.
    EXPECT_EQ(InsetPlacement(1440, 1080).margin, 16);
}

TEST(RgbToYuv, BorderGreyAndPrimaries) {
    const TYuvColor grey = RgbToYuv(InsetBorderRgb);
    EXPECT_EQ(grey.y, 125);
    EXPECT_EQ(grey.u, 128);
    EXPECT_EQ(grey.v, 128);
    // Truncated, not rounded: white's 234.99 stays 234.
    const TYuvColor white = RgbToYuv(0xFFFFFF);
    EXPECT_EQ(white.y, 234);
    const TYuvColor blue = RgbToYuv(0xFF0000);
    EXPECT_EQ(blue.u, 240);
}

TEST(FramePreview, ComposesEveryLayoutModeWithTheInsetInPlace) {
    Rig rig;
    ASSERT_TRUE(rig.preview.BuildPreview(true, true, 4));
    AM_MEDIA_TYPE composed;
    rig.preview.GetConnectedMediaType(composed);
    ASSERT_NE(composed.BitmapHeader(), nullptr);
    EXPECT_EQ(composed.subtype, MEDIASUBTYPE_YUY2);
    EXPECT_EQ(composed.BitmapHeader()->biWidth, 640);
    EXPECT_EQ(std::abs(composed.BitmapHeader()->biHeight), 480);

    // Mode 4: the slide full frame, camera 1 in the inset (420, 8, 212, 164) with a grey border.
    std::vector<uint8_t> frame = rig.NextFrame();
    ASSERT_EQ(frame.size(), size_t(640 * 480 * 2));
    ExpectColour(frame, 640, 100, 300, Blue, "slide");
    ExpectColour(frame, 640, 600, 400, Blue, "slide below the inset");
    ExpectColour(frame, 640, 526, 90, Camera1, "inset");
    ExpectColour(frame, 640, 420, 90, {125, 128, 128}, "inset border");
    ExpectColour(frame, 640, 526, 4, Blue, "margin above the inset");

    rig.preview.SetLayoutMode(5);
    frame = rig.NextFrame();
    ExpectColour(frame, 640, 100, 300, Camera2, "camera 2 full frame");
    ExpectColour(frame, 640, 526, 90, Camera1, "inset");

    const struct {
        int mode;
        std::array<int, 3> colour;
    } alone[] = {{1, Camera1}, {2, Camera2}, {3, Blue}, {6, Green}};
    for (const auto &c : alone) {
        rig.preview.SetLayoutMode(c.mode);
        frame = rig.NextFrame();
        ExpectColour(frame, 640, 526, 90, c.colour, ("mode " + std::to_string(c.mode)).c_str());
        ExpectColour(frame, 640, 20, 460, c.colour, ("mode " + std::to_string(c.mode)).c_str());
    }
    // Values outside 1-6 change nothing.
    rig.preview.SetLayoutMode(0);
    rig.preview.SetLayoutMode(7);
    ExpectColour(rig.NextFrame(), 640, 300, 300, Green, "after modes 0 and 7");

    // A camera whose graph stops mid-stream does not hold up the output: its last picture stays.
    rig.preview.SetLayoutMode(4);
    rig.NextFrame();
    rig.camera1.Stop();
    ExpectColour(rig.NextFrame(), 640, 526, 90, Camera1, "inset after camera 1 stopped");
    rig.preview.StopPreview();
}

TEST(FramePreview, BranchesFollowTheRunningSources) {
    App();
    const AM_MEDIA_TYPE yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240, 16, 500000, MakeFourCC('Y', 'U', 'Y', '2'));
    const AM_MEDIA_TYPE mjpg = MakeVideoType(MEDIASUBTYPE_MJPG, 320, 240, 24, 500000, MakeFourCC('M', 'J', 'P', 'G'));
    const AM_MEDIA_TYPE rgb32 = MakeVideoType(MEDIASUBTYPE_RGB32, 320, 240, 32, 500000);
    struct Case {
        bool camera1, camera2, pen;
        const AM_MEDIA_TYPE *camera1Type;
        std::vector<const char *> present, absent;
    };
    const Case cases[] = {
        {true, true, true, &mjpg, {"CamSource1", "FCam1MJPG", "CamSource2", "CamSourcePen", "CamSourcePPT"}, {"FCam2MJPG"}},
        {true, false, false, &yuy2, {"CamSource1", "CamSourcePPT", "FMainSource"}, {"FCam1MJPG", "CamSource2", "CamSourcePen"}},
        {false, false, true, &yuy2, {"CamSourcePPT", "CamSourcePen"}, {"CamSource1", "CamSource2"}},
    };
    TFramePreview preview;
    preview.SetFrameSize(640, 480);
    preview.OpenMainPush();
    const AM_MEDIA_TYPE mainType = preview.MainPushMediaType;
    ASSERT_NE(mainType.BitmapHeader(), nullptr);
    preview.OpenMainPush();  // running already: the chain and its type stay
    EXPECT_TRUE(MediaTypesEqual(mainType, preview.MainPushMediaType));
    for (const Case &c : cases) {
        preview.Camera1MediaType = *c.camera1Type;
        preview.Camera2MediaType = yuy2;
        preview.PresentationMediaType = rgb32;
        preview.PenMediaType = rgb32;
        preview.PenBoardEnabled = c.pen;
        ASSERT_TRUE(preview.BuildPreview(c.camera1, c.camera2, 1));
        IGraphBuilder *graph = preview.FilterGraphPreview.GraphBuilder();
        for (const char *name : c.present) {
            ComPtr<IBaseFilter> found;
            EXPECT_EQ(graph->FindFilterByName(name, found.Put()), S_OK) << name;
        }
        for (const char *name : c.absent) {
            ComPtr<IBaseFilter> found;
            EXPECT_EQ(graph->FindFilterByName(name, found.Put()), VFW_E_NOT_FOUND) << name;
        }
        preview.StopPreview();
        EXPECT_FALSE(preview.FilterGraphPreview.Active());
    }
}

TEST(FramePreview, AFailingStepRaisesItsLabel) {
    App();
    const AM_MEDIA_TYPE yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240, 16, 500000, MakeFourCC('Y', 'U', 'Y', '2'));
    const AM_MEDIA_TYPE rgb32 = MakeVideoType(MEDIASUBTYPE_RGB32, 320, 240, 32, 500000);
    // The raw video filter takes only pictures of even width.
    const AM_MEDIA_TYPE oddRgb24 = MakeVideoType(MEDIASUBTYPE_RGB24, 321, 240, 24, 500000);
    struct Case {
        AM_MEDIA_TYPE presentation, camera2;
        const char *label;
    };
    const Case cases[] = {
        {AM_MEDIA_TYPE(), yuy2, "FCamSourcePPT --> FRawYUY2FilterPPT"},
        {rgb32, oddRgb24, "FCamSource2 --> FRawRGB32Filter2"},
    };
    for (const Case &c : cases) {
        TFramePreview preview;
        preview.SetFrameSize(640, 480);
        preview.OpenMainPush();
        preview.Camera1MediaType = yuy2;
        preview.Camera2MediaType = c.camera2;
        preview.PresentationMediaType = c.presentation;
        preview.PenBoardEnabled = false;
        try {
            preview.BuildPreview(true, true, 1);
            ADD_FAILURE() << "the build went through, expected " << c.label;
        } catch (const EDirectShowError &error) {
            EXPECT_TRUE(error.Message().endsWith(c.label)) << error.Message().toStdString();
        }
        // What was built so far goes with the next stop.
        preview.StopPreview();
        EXPECT_FALSE(preview.FilterGraphPreview.Active());
    }
}

// Counts the recovery requests reaching the main window.
class PauseCounter : public QObject {
public:
    std::atomic<int> count{0};
    bool event(QEvent *event) override {
        if (event->type() != Messages::PreviewPaused) return QObject::event(event);
        ++count;
        return true;
    }
};

TEST(FramePreview, APausedSourceIsReportedOncePerStall) {
    Rig rig;
    PauseCounter window;
    MainWindowHandle = &window;
    ASSERT_TRUE(rig.preview.BuildPreview(true, true, 1));
    rig.NextFrame();
    EXPECT_EQ(window.count, 0);

    ASSERT_TRUE(rig.preview.FilterGraphPreview.Pause());
    // Several sources keep sending frames at 100 a second into the paused graph: one report each.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QCoreApplication::processEvents();
    const int firstStall = window.count;
    EXPECT_GE(firstStall, 1);
    EXPECT_LE(firstStall, 4) << "reported for every frame";

    ASSERT_TRUE(rig.preview.FilterGraphPreview.Play());
    rig.NextFrame();
    ASSERT_TRUE(rig.preview.FilterGraphPreview.Pause());
    EXPECT_TRUE(WaitFor([&] { return window.count > firstStall; })) << "a new stall is reported again";
    MainWindowHandle = nullptr;
    rig.preview.StopPreview();
}

TEST(FramePreview, RebuildsWhileEverySourceKeepsDelivering) {
    Rig rig;
    for (int round = 0; round < 8; ++round) {
        ASSERT_TRUE(rig.preview.BuildPreview(true, round % 2 == 0, 1 + round % 6));
        rig.NextFrame();
        rig.preview.StopPreview();
    }
    ASSERT_TRUE(rig.preview.BuildPreview(true, true, 2));
    ExpectColour(rig.NextFrame(), 640, 320, 240, Camera2, "after the rebuilds");
}
