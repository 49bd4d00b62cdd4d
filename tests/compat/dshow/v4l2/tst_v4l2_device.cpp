#include "compat/dshow/v4l2/CaptureStream.h"
#include "tests/support/FakeV4l2Io.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <linux/videodev2.h>
#include <mutex>

using namespace sc;
using sc::test::FakeCamera;
using sc::test::FakeV4l2Io;

namespace {

FakeCamera typicalWebcam(std::string path = "/dev/video0") {
    FakeCamera camera;
    camera.path = std::move(path);
    camera.card = "HD Webcam C270";
    camera.formats = {
        {V4L2_PIX_FMT_YUYV, false, {{640, 480}, {1280, 720}}, {}, {{1, 5}, {1, 30}, {1, 15}}},
        {V4L2_PIX_FMT_MJPEG, true, {{1280, 720}}, {}, {{1, 30}, {1, 10}}},
        {V4L2_PIX_FMT_RGB24, false, {}, std::make_pair(800u, 600u), {{1, 25}}},
    };
    return camera;
}

} // namespace

TEST(V4l2Device, ListsCaptureNodesWithNameAndStableId) {
    auto io = std::make_shared<FakeV4l2Io>();
    FakeCamera first = typicalWebcam("/dev/video0");
    FakeCamera metadata = typicalWebcam("/dev/video1");
    metadata.streamingCapture = false;
    FakeCamera second = typicalWebcam("/dev/video2");
    second.busInfo = "usb-0000:00:14.0-2";
    FakeCamera gone = typicalWebcam("/dev/video3");
    io->addCamera(first);
    io->addCamera(metadata);
    io->addCamera(second);
    io->addCamera(gone);
    io->unplug("/dev/video3");

    auto devices = v4l2::listCaptureDevices(*io);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].path, "/dev/video0");
    EXPECT_EQ(devices[1].path, "/dev/video2");
    // Two cameras of one model share the name; the bus tells them apart.
    EXPECT_EQ(devices[0].card, devices[1].card);
    EXPECT_EQ(devices[0].stableId(), "usb-0000:00:14.0-1");
    EXPECT_EQ(devices[1].stableId(), "usb-0000:00:14.0-2");
    EXPECT_EQ(io->openDescriptors(), 0);
}

TEST(V4l2Device, EnumeratesEveryFormatSizeAndIntervalInDriverOrder) {
    auto io = std::make_shared<FakeV4l2Io>();
    io->addCamera(typicalWebcam());
    auto device = v4l2::V4l2Device::open(io, "/dev/video0");
    const auto &formats = device->formats();

    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> listed;
    for (const auto &format : formats)
        listed.emplace_back(format.pixelFormat, format.width, format.height);
    // The range 16..800 x 16..600 in steps of 16 offers the common sizes inside it and its end.
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> expected = {
        {V4L2_PIX_FMT_YUYV, 640, 480},  {V4L2_PIX_FMT_YUYV, 1280, 720},
        {V4L2_PIX_FMT_MJPEG, 1280, 720}, {V4L2_PIX_FMT_RGB24, 320, 240},
        {V4L2_PIX_FMT_RGB24, 640, 480},  {V4L2_PIX_FMT_RGB24, 800, 448},
        {V4L2_PIX_FMT_RGB24, 800, 600},
    };
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(formats[2].compressed);
    EXPECT_FALSE(formats[0].compressed);
    std::vector<v4l2::FrameInterval> shortestFirst = {{1, 30}, {1, 15}, {1, 5}};
    EXPECT_EQ(formats[0].intervals, shortestFirst);
    EXPECT_EQ(formats[0].intervals[1].duration100ns(), 666666);
}

TEST(V4l2Device, SetFormatTakesTheNearestOfferedInterval) {
    struct Case {
        std::vector<v4l2::FrameInterval> offered;
        int64_t requested;
        v4l2::FrameInterval expected;
    };
    const Case cases[] = {
        {{{1, 30}, {1, 15}}, 666666, {1, 15}},
        {{{1, 30}, {1, 10}}, 666666, {1, 30}},   // 333333 away against 333334
        {{{1, 25}, {1, 5}}, 666666, {1, 25}},
        {{{1001, 30000}, {1001, 15000}}, 666666, {1001, 15000}},
        {{{1, 30}, {1, 15}}, 0, {1, 30}},        // no request: the driver's choice stands
    };
    for (const Case &c : cases) {
        auto io = std::make_shared<FakeV4l2Io>();
        FakeCamera camera = typicalWebcam();
        camera.formats = {{V4L2_PIX_FMT_YUYV, false, {{640, 480}}, {}, c.offered}};
        io->addCamera(camera);
        auto device = v4l2::V4l2Device::open(io, "/dev/video0");
        auto applied = device->setFormat(V4L2_PIX_FMT_YUYV, 640, 480, c.requested);
        EXPECT_EQ(applied.interval, c.expected) << "requested " << c.requested;
        EXPECT_EQ(applied.bytesPerLine, 1280u);
        EXPECT_EQ(applied.imageSize, 1280u * 480);
    }
}

TEST(V4l2Device, RefusesASizeTheDriverReplaced) {
    auto io = std::make_shared<FakeV4l2Io>();
    io->addCamera(typicalWebcam());
    auto device = v4l2::V4l2Device::open(io, "/dev/video0");
    try {
        device->setFormat(V4L2_PIX_FMT_YUYV, 1024, 768, 666666);
        FAIL() << "a replaced size was accepted";
    } catch (const v4l2::V4l2Error &error) {
        EXPECT_NE(std::string(error.what()).find("driver chose YUYV 1280x720"), std::string::npos)
            << error.what();
    }
}

TEST(V4l2Device, BusyDeviceIsReportedAsBusy) {
    auto io = std::make_shared<FakeV4l2Io>();
    FakeCamera camera = typicalWebcam();
    camera.busy = true;
    io->addCamera(camera);
    auto device = v4l2::V4l2Device::open(io, "/dev/video0");
    try {
        device->setFormat(V4L2_PIX_FMT_YUYV, 640, 480, 666666);
        FAIL() << "a busy device accepted a format";
    } catch (const v4l2::V4l2Error &error) {
        EXPECT_TRUE(error.deviceBusy());
        EXPECT_NE(std::string(error.what()).find("/dev/video0 (HD Webcam C270)"), std::string::npos);
    }
}

TEST(CaptureStream, DeliversFramesThenReportsAnUnplugOnceAndStopsCleanly) {
    auto io = std::make_shared<FakeV4l2Io>();
    io->addCamera(typicalWebcam());
    io->unplugAfterFrames("/dev/video0", 5);
    {
        auto device = v4l2::V4l2Device::open(io, "/dev/video0");
        device->setFormat(V4L2_PIX_FMT_YUYV, 640, 480, 333333);
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<std::pair<uint32_t, int64_t>> frames;
        std::vector<uint8_t> firstBytes;
        int errors = 0;
        bool gone = false;
        v4l2::CaptureStream stream(*device);
        stream.start(
            [&](const v4l2::CapturedFrame &frame) {
                std::lock_guard lock(mutex);
                frames.emplace_back(frame.sequence, frame.captureTime100ns);
                firstBytes.push_back(frame.data[0]);
                EXPECT_EQ(frame.size, 640u * 480 * 2);
            },
            [&](const v4l2::V4l2Error &error) {
                std::lock_guard lock(mutex);
                ++errors;
                gone = error.deviceGone();
                changed.notify_all();
            });
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return errors > 0; }));
        }
        stream.stop();
        EXPECT_EQ(errors, 1);
        EXPECT_TRUE(gone);
        ASSERT_EQ(frames.size(), 5u);
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].first, i);
            EXPECT_EQ(firstBytes[i], i);  // the picture of that frame, not a stale buffer
            if (i > 0) {
                EXPECT_GT(frames[i].second, frames[i - 1].second);
            }
        }
        EXPECT_EQ(io->mappedBuffers(), 0);
    }
    EXPECT_EQ(io->openDescriptors(), 0);
}
