#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"
#include "compat/dshow/v4l2/V4l2CaptureFilter.h"
#include "compat/dshow/v4l2/V4l2DeviceSource.h"
#include "tests/support/FakeV4l2Io.h"
#include "tests/support/JpegTestPictures.h"
#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>
#include <turbojpeg.h>

using namespace sc;
using test::FakeCamera;
using test::FakeV4l2Io;

namespace {

FakeCamera webcam(std::string path = "/dev/video0", std::string bus = "usb-0000:00:14.0-1") {
    FakeCamera camera;
    camera.path = std::move(path);
    camera.busInfo = std::move(bus);
    camera.card = "HD Webcam C270";
    camera.formats = {
        {V4L2_PIX_FMT_YUYV, false, {{640, 480}, {320, 240}}, {}, {{1, 30}, {1, 15}, {1, 5}}},
        {V4L2_PIX_FMT_MJPEG, true, {{1280, 720}}, {}, {{1, 30}, {1, 10}}},
        {V4L2_PIX_FMT_BGR24, false, {{160, 120}}, {}, {{1, 25}}},
    };
    return camera;
}

ComPtr<IBaseFilter> cameraFilter(const std::shared_ptr<FakeV4l2Io> &io, size_t index = 0) {
    v4l2::V4l2DeviceSource source(io);
    auto devices = source.Devices(CLSID_VideoInputDeviceCategory);
    EXPECT_LT(index, devices.size());
    ComPtr<IBaseFilter> filter;
    if (index < devices.size()) {
        EXPECT_EQ(devices[index].create(IID_IBaseFilter, filter.PutVoid()), S_OK);
    }
    return filter;
}

ComPtr<IAMStreamConfig> streamConfig(IBaseFilter *camera) {
    ComPtr<IAMStreamConfig> config;
    PinsOf(camera, PINDIR_OUTPUT).front().As(&config);
    return config;
}

// The camera into a recording sink, in a graph of their own.
struct CameraGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<test::RecordingSink> sink;
    HRESULT connected = E_FAIL;

    CameraGraph(IBaseFilter *camera, std::vector<GUID> sinkSubtypes = {}) {
        EXPECT_EQ(CoCreate(CLSID_FilterGraph, &graph), S_OK);
        sink = test::Make<test::RecordingSink>(std::move(sinkSubtypes), false);
        graph->AddFilter(camera, "camera");
        graph->AddFilter(sink.Get(), "sink");
        connected = graph->Connect(PinsOf(camera, PINDIR_OUTPUT).front().Get(), sink->Input());
    }
    IMediaControl *Control() {
        control = graph.As<IMediaControl>();
        return control.Get();
    }
    ~CameraGraph() {
        if (graph)
            graph.As<IMediaControl>()->Stop();
    }
    ComPtr<IMediaControl> control;
};

} // namespace

TEST(V4l2CaptureFilter, CamerasAreVideoInputDevicesKnownByNameAndBus) {
    auto io = std::make_shared<FakeV4l2Io>();
    io->addCamera(webcam("/dev/video0", "usb-0000:00:14.0-1"));
    io->addCamera(webcam("/dev/video2", "usb-0000:00:14.0-2"));
    v4l2::V4l2DeviceSource source(io);

    EXPECT_TRUE(source.Devices(CLSID_AudioInputDeviceCategory).empty());
    auto devices = source.Devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].friendlyName, "HD Webcam C270");
    EXPECT_EQ(devices[1].friendlyName, "HD Webcam C270");
    EXPECT_NE(devices[0].displayName, devices[1].displayName);
    EXPECT_EQ(devices[1].properties.at("DevicePath"), "/dev/video2");

    // Plugged out and into the same port (under another node number): the same moniker.
    const std::string second = devices[1].displayName;
    io->unplug("/dev/video2");
    ASSERT_EQ(source.Devices(CLSID_VideoInputDeviceCategory).size(), 1u);
    io->addCamera(webcam("/dev/video4", "usb-0000:00:14.0-2"));
    devices = source.Devices(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[1].displayName, second);
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(devices[1].create(IID_IBaseFilter, filter.PutVoid()), S_OK);
}

TEST(V4l2CaptureFilter, OffersEveryFormatThroughStreamConfigAndPinTypesInOneOrder) {
    auto io = std::make_shared<FakeV4l2Io>();
    io->addCamera(webcam());
    ComPtr<IBaseFilter> camera = cameraFilter(io);
    ComPtr<IAMStreamConfig> config = streamConfig(camera.Get());
    ASSERT_TRUE(config);

    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(size, int(sizeof(VIDEO_STREAM_CONFIG_CAPS)));

    struct Expected {
        GUID subtype;
        int width, height;
        int64_t minInterval, maxInterval;
    };
    const Expected expected[] = {
        {MEDIASUBTYPE_YUY2, 640, 480, 333333, 2000000},
        {MEDIASUBTYPE_YUY2, 320, 240, 333333, 2000000},
        {MEDIASUBTYPE_MJPG, 1280, 720, 333333, 1000000},
        {MEDIASUBTYPE_RGB24, 160, 120, 400000, 400000},
    };
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(PinsOf(camera.Get(), PINDIR_OUTPUT).front()->EnumMediaTypes(types.Put()), S_OK);
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE *type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE *>(&caps)), S_OK);
        EXPECT_EQ(type->subtype, expected[i].subtype) << i;
        EXPECT_EQ(type->BitmapHeader()->biWidth, expected[i].width) << i;
        EXPECT_EQ(type->BitmapHeader()->biHeight, expected[i].height) << i;
        EXPECT_EQ(caps.MaxOutputSize[0], expected[i].width) << i;
        EXPECT_EQ(caps.MaxOutputSize[1], expected[i].height) << i;
        EXPECT_EQ(caps.MinFrameInterval, expected[i].minInterval) << i;
        EXPECT_EQ(caps.MaxFrameInterval, expected[i].maxInterval) << i;

        AM_MEDIA_TYPE *enumerated = nullptr;
        ULONG fetched = 0;
        ASSERT_EQ(types->Next(1, &enumerated, &fetched), S_OK);
        EXPECT_TRUE(MediaTypesEqual(*enumerated, *type)) << i;
        DeleteMediaType(enumerated);
        DeleteMediaType(type);
    }
    AM_MEDIA_TYPE *type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(config->GetStreamCaps(count, &type, reinterpret_cast<BYTE *>(&caps)), S_FALSE);
}

TEST(V4l2CaptureFilter, SetFormatPicksTheNearestRateAndTheStreamRunsAtIt) {
    struct Case {
        std::vector<v4l2::FrameInterval> offered;
        v4l2::FrameInterval expected;
    };
    const Case cases[] = {
        {{{1, 30}, {1, 15}}, {1, 15}},
        {{{1, 30}, {1, 10}}, {1, 30}},  // 333333 from 666666 against 333334
        {{{1, 20}}, {1, 20}},
    };
    for (const Case &c : cases) {
        auto io = std::make_shared<FakeV4l2Io>();
        FakeCamera camera = webcam();
        camera.formats = {{V4L2_PIX_FMT_YUYV, false, {{640, 480}, {320, 240}}, {}, c.offered}};
        io->addCamera(camera);
        ComPtr<IBaseFilter> filter = cameraFilter(io);
        ComPtr<IAMStreamConfig> config = streamConfig(filter.Get());

        // As the camera views choose a format: the second one, at 15 frames a second.
        AM_MEDIA_TYPE *type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(config->GetStreamCaps(1, &type, reinterpret_cast<BYTE *>(&caps)), S_OK);
        type->VideoInfo()->AvgTimePerFrame = 666666;
        ASSERT_EQ(config->SetFormat(type), S_OK);
        DeleteMediaType(type);
        ASSERT_EQ(config->GetFormat(&type), S_OK);
        EXPECT_EQ(type->AvgTimePerFrame(), c.expected.duration100ns());
        EXPECT_EQ(type->BitmapHeader()->biWidth, 320);
        DeleteMediaType(type);

        CameraGraph graph(filter.Get());
        ASSERT_EQ(graph.connected, S_OK);
        ASSERT_EQ(graph.Control()->Run(), S_OK);
        ASSERT_TRUE(graph.sink->WaitFor(3));
        graph.Control()->Stop();
        EXPECT_EQ(io->applied("/dev/video0").interval, c.expected);
        EXPECT_EQ(io->applied("/dev/video0").width, 320u);
        auto samples = graph.sink->Samples();
        EXPECT_TRUE(samples[0].discontinuity);
        for (size_t i = 0; i < samples.size(); ++i) {
            EXPECT_EQ(samples[i].bytes.size(), 320u * 240 * 2);
            ASSERT_TRUE(samples[i].timed);
            EXPECT_GE(samples[i].start, 0);
            EXPECT_EQ(samples[i].stop - samples[i].start, c.expected.duration100ns());
            if (i > 0) {
                EXPECT_GT(samples[i].start, samples[i - 1].start);
                EXPECT_FALSE(samples[i].discontinuity);
            }
        }
    }
}

TEST(V4l2CaptureFilter, SetFormatRefusesWhatTheCameraCannotDo) {
    auto io = std::make_shared<FakeV4l2Io>();
    io->addCamera(webcam());
    ComPtr<IBaseFilter> camera = cameraFilter(io);
    ComPtr<IAMStreamConfig> config = streamConfig(camera.Get());
    AM_MEDIA_TYPE wrongSize = MakeVideoType(MEDIASUBTYPE_YUY2, 800, 600, 16, 666666);
    AM_MEDIA_TYPE wrongKind = MakeVideoType(MEDIASUBTYPE_RGB32, 640, 480, 32, 666666);
    EXPECT_EQ(config->SetFormat(&wrongSize), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(config->SetFormat(&wrongKind), VFW_E_INVALIDMEDIATYPE);

    CameraGraph graph(camera.Get());
    ASSERT_EQ(graph.Control()->Run(), S_OK);
    AM_MEDIA_TYPE valid = MakeVideoType(MEDIASUBTYPE_YUY2, 320, 240, 16, 666666);
    EXPECT_EQ(config->SetFormat(&valid), VFW_E_NOT_STOPPED);
}

TEST(V4l2CaptureFilter, MjpegCameraReachesAPictureSinkThroughTheDecompressor) {
    auto io = std::make_shared<FakeV4l2Io>();
    FakeCamera camera = webcam();
    const std::vector<uint8_t> jpeg = test::colourBarsJpeg(1280, 720, TJSAMP_422);
    camera.picture = [jpeg](uint32_t, uint32_t, uint32_t, uint32_t) { return jpeg; };
    io->addCamera(camera);
    ComPtr<IBaseFilter> filter = cameraFilter(io);
    ComPtr<IAMStreamConfig> config = streamConfig(filter.Get());
    AM_MEDIA_TYPE mjpg = MakeVideoType(MEDIASUBTYPE_MJPG, 1280, 720, 24, 333333);
    ASSERT_EQ(config->SetFormat(&mjpg), S_OK);

    CameraGraph graph(filter.Get(), {MEDIASUBTYPE_YUY2});
    ASSERT_EQ(graph.connected, S_OK);
    ASSERT_EQ(graph.Control()->Run(), S_OK);
    ASSERT_TRUE(graph.sink->WaitFor(2));
    EXPECT_EQ(graph.sink->Samples()[0].bytes.size(), 1280u * 720 * 2);
}

TEST(V4l2CaptureFilter, BusyCameraFailsToStartWithAClearError) {
    auto io = std::make_shared<FakeV4l2Io>();
    FakeCamera camera = webcam();
    camera.busy = true;
    io->addCamera(camera);
    ComPtr<IBaseFilter> filter = cameraFilter(io);
    CameraGraph graph(filter.Get());
    ASSERT_EQ(graph.connected, S_OK);
    EXPECT_EQ(graph.Control()->Run(), v4l2::kCameraBusy);
    EXPECT_EQ(graph.Control()->Stop(), S_OK);
    auto *capture = static_cast<v4l2::V4l2CaptureFilter *>(filter.Get());
    EXPECT_NE(capture->LastError().find("/dev/video0 (HD Webcam C270)"), std::string::npos) << capture->LastError();
    EXPECT_EQ(io->mappedBuffers(), 0);
}

TEST(V4l2CaptureFilter, UnpluggedCameraEndsTheStreamAndLaterStartsFail) {
    auto io = std::make_shared<FakeV4l2Io>();
    io->addCamera(webcam());
    io->unplugAfterFrames("/dev/video0", 3);
    {
        ComPtr<IBaseFilter> filter = cameraFilter(io);
        CameraGraph graph(filter.Get());
        ASSERT_EQ(graph.Control()->Run(), S_OK);
        ASSERT_TRUE(graph.sink->WaitForEndOfStream());
        // Pictures taken before the graph ran are not delivered: up to the 3 the camera took.
        EXPECT_GE(graph.sink->Count(), 1u);
        EXPECT_LE(graph.sink->Count(), 3u);
        EXPECT_EQ(graph.Control()->Stop(), S_OK);
        EXPECT_EQ(graph.Control()->Run(), v4l2::kCameraGone);
        auto *capture = static_cast<v4l2::V4l2CaptureFilter *>(filter.Get());
        EXPECT_NE(capture->LastError().find("unplugged"), std::string::npos) << capture->LastError();
        graph.Control()->Stop();
        EXPECT_EQ(io->mappedBuffers(), 0);
    }
    EXPECT_EQ(io->openDescriptors(), 0);
}

TEST(V4l2CaptureFilter, CameraWithoutPictureFormatsOffersNothingAndNeverConnects) {
    auto io = std::make_shared<FakeV4l2Io>();
    FakeCamera camera = webcam();
    camera.formats.clear();
    io->addCamera(camera);
    ComPtr<IBaseFilter> filter = cameraFilter(io);
    ComPtr<IAMStreamConfig> config = streamConfig(filter.Get());
    int count = -1, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 0);
    AM_MEDIA_TYPE *type = nullptr;
    EXPECT_EQ(config->GetFormat(&type), VFW_E_NO_TYPES);
    EXPECT_EQ(type, nullptr);
    CameraGraph graph(filter.Get());
    EXPECT_TRUE(FAILED(graph.connected));
    // An unconnected camera runs with its graph but does not stream.
    EXPECT_EQ(graph.Control()->Run(), S_OK);
    EXPECT_EQ(io->mappedBuffers(), 0);
}

TEST(V4l2CaptureFilter, CamerasAreBoundThroughTheSystemDeviceEnumerator) {
    test::ScopedFakeCameras cameras({webcam("/dev/video0"), webcam("/dev/video2", "usb-0000:00:14.0-2")});
    std::vector<ComPtr<IMoniker>> monikers = CategoryMonikers(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(monikers.size(), 2u);
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(monikers[1]->BindToStorage(IID_IPropertyBag, bag.PutVoid()), S_OK);
    std::string name, path;
    EXPECT_EQ(bag->Read("FriendlyName", &name), S_OK);
    EXPECT_EQ(bag->Read("DevicePath", &path), S_OK);
    EXPECT_EQ(name, "HD Webcam C270");
    EXPECT_EQ(path, "/dev/video2");

    // The display name binds the same camera again, as a stored moniker does.
    std::string displayName;
    ASSERT_EQ(monikers[1]->GetDisplayName(&displayName), S_OK);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(BindMonikerName(displayName, IID_IBaseFilter, filter.PutVoid()), S_OK);
    CameraGraph graph(filter.Get());
    ASSERT_EQ(graph.connected, S_OK);
    ASSERT_EQ(graph.Control()->Run(), S_OK);
    ASSERT_TRUE(graph.sink->WaitFor(1));
    EXPECT_GT(cameras.io().framesDelivered("/dev/video2"), 0u);
    EXPECT_EQ(cameras.io().framesDelivered("/dev/video0"), 0u);
}
