// studiocast-record: records a lesson without any window, through the same preview and
// recording graphs as the program, from synthetic sources (two moving camera pictures, a
// slide show, a pen board) and optionally a microphone. The last line of its output gives the
// figures of the run.

#include "SyntheticSources.h"

#include "capture/FramePreviews.h"
#include "recording/FrameRecords.h"

#include "app/DataModule.h"
#include "app/Messages.h"
#include "app/MessageBox.h"
#include "app/SettingIni.h"
#include "compat/dshow/Uuids.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

const char *Usage = R"(Usage: studiocast-record --seconds N --size WxH --layout 1-6 [--mic [NAME]] --out FILE.mp4

Records N seconds of a synthetic lesson composed at W x H in a layout mode:
  1 camera 1, 2 camera 2, 3 presentation, 4 presentation with camera 1 inset,
  5 camera 2 with camera 1 inset, 6 pen board.
  --mic [NAME]   record sound from the first sound input whose name contains NAME
                 (the first input without NAME)
The last line gives: frames composed, frames encoded, frames dropped, audio seconds,
CPU seconds, wall seconds. Exit status: 0 recorded; 1 recording failed; 2 usage error.
)";

struct TOptions {
    double seconds = 0;
    int width = 0, height = 0, layout = 0;
    bool mic = false;
    std::string micName;
    std::string out;
};

std::optional<TOptions> ParseArguments(int argc, char **argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0;
        if (arg == "--mic") {
            options.mic = true;
            if (hasValue) options.micName = argv[++i];
        } else if (!hasValue) {
            return std::nullopt;
        } else if (arg == "--seconds") {
            options.seconds = std::atof(argv[++i]);
        } else if (arg == "--size") {
            if (std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) != 2) return std::nullopt;
        } else if (arg == "--layout") {
            options.layout = std::atoi(argv[++i]);
        } else if (arg == "--out") {
            options.out = argv[++i];
        } else {
            return std::nullopt;
        }
    }
    const bool valid = options.seconds > 0 && options.width >= 16 && options.height >= 16 && options.width % 2 == 0 &&
                       options.layout >= 1 && options.layout <= 6 && !options.out.empty();
    if (!valid) return std::nullopt;
    return options;
}

// Number (from 1) of the first sound input whose name contains `name`, 0 when there is none.
int FindMicrophone(const std::string &name) {
    TSysDevEnum inputs(CLSID_AudioInputDeviceCategory);
    for (int i = 0; i < inputs.CountFilters(); ++i)
        if (name.empty() || inputs.FriendlyName(i).find(name) != std::string::npos ||
            inputs.DisplayName(i).find(name) != std::string::npos)
            return i + 1;
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::atomic<bool> Interrupted{false};

// Counts the preview's requests for recovery: a synthetic source never pauses by itself.
class TPauseWatch : public QObject {
public:
    int paused = 0;
    bool event(QEvent *event) override {
        if (event->type() != Messages::PreviewPaused) return QObject::event(event);
        ++paused;
        return true;
    }
};

}  // namespace

int main(int argc, char **argv) {
    const auto wallStart = std::chrono::steady_clock::now();
    const std::optional<TOptions> options = ParseArguments(argc, argv);
    if (!options) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetMessageBoxPresenter([](const QString &text, const QString &) {
        std::fprintf(stderr, "studiocast-record: %s\n", text.toLocal8Bit().constData());
    });
    std::signal(SIGINT, [](int) { Interrupted = true; });
    std::signal(SIGTERM, [](int) { Interrupted = true; });

    TSettingIni settings(QDir::temp().filePath("studiocast-record.ini"), QDir::tempPath() + "/");
    settings.VideoWidth = options->width;
    settings.VideoHeight = options->height;
    SettingIni = &settings;
    if (options->mic) {
        settings.Mcf = FindMicrophone(options->micName);
        if (settings.Mcf == 0) {
            std::fprintf(stderr, "studiocast-record: no sound input %s\n",
                         options->micName.empty() ? "at all" : ("named " + options->micName).c_str());
            return 1;
        }
    }
    TPauseWatch pauseWatch;
    MainWindowHandle = &pauseWatch;

    const int fps = settings.VideoFramesPerSec;
    TFramePreview preview;
    TFrameRecord record;
    TSyntheticSource camera1("Camera1", TSyntheticKind::Camera, 640, 480, fps, 0);
    TSyntheticSource camera2("Camera2", TSyntheticKind::Camera, 640, 480, fps, 3);
    TSyntheticSource slides("Presentation", TSyntheticKind::Slide, options->width, options->height, fps, 0);
    TSyntheticSource board("PenBoard", TSyntheticKind::Drawing, options->width, options->height, fps, 0);
    std::atomic<int64_t> composed{0};
    std::atomic<int64_t> previewFrames{0};
    int result = 0;
    try {
        preview.SetFrameSize(options->width, options->height);
        preview.OpenMainPush();
        camera1.Start([&](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.Cam1Sample(g, s, t); });
        camera2.Start([&](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.Cam2Sample(g, s, t); });
        slides.Start([&](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.PresentationSample(g, s, t); });
        board.Start([&](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.PenSample(g, s, t); });
        preview.Camera1MediaType = camera1.MediaType();
        preview.Camera2MediaType = camera2.MediaType();
        preview.PresentationMediaType = slides.MediaType();
        preview.PenMediaType = board.MediaType();
        preview.PenBoardEnabled = true;
        if (!preview.BuildPreview(true, true, options->layout))
            throw std::runtime_error("the preview graph did not run");

        preview.GetConnectedMediaType(record.VideoMediaType);
        preview.SetOnSample([&](TSampleGrabberEx *g, IMediaSample *s, double t) {
            ++previewFrames;
            if (record.Recording()) ++composed;
            record.FrameSample(g, s, t);
        });
        // The switcher shows black for an input until its first picture: let every source's
        // pictures reach the composed output before the recording starts.
        const auto warmUpEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (previewFrames < 10 && std::chrono::steady_clock::now() < warmUpEnd)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const QString out = QString::fromStdString(options->out);
        QDir().mkpath(QFileInfo(out).absolutePath());
        if (record.StartRecording(out, options->mic) != 0) {
            result = 1;
        } else {
            QTimer poll;
            const auto recordStart = std::chrono::steady_clock::now();
            QObject::connect(&poll, &QTimer::timeout, [&] {
                const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - recordStart;
                if (Interrupted || elapsed.count() >= options->seconds) app.quit();
            });
            poll.start(10);
            app.exec();
            record.StopRecording();
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "studiocast-record: %s\n", error.what());
        result = 1;
    }
    preview.SetOnSample(nullptr);
    for (TSyntheticSource *source : {&camera1, &camera2, &slides, &board}) source->Stop();
    preview.StopPreview();
    preview.CloseMainPush();
    if (pauseWatch.paused) std::fprintf(stderr, "studiocast-record: %d source stalls reported\n", pauseWatch.paused);
    MainWindowHandle = nullptr;
    SettingIni = nullptr;

    const TRecordFigures figures = record.Figures();
    const int64_t encoded = figures.videoWritten;
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
    std::printf("frames composed %lld, frames encoded %lld, frames dropped %lld, audio seconds %.3f, "
                "CPU seconds %.3f, wall seconds %.3f\n",
                static_cast<long long>(composed.load()), static_cast<long long>(encoded),
                static_cast<long long>(std::max<int64_t>(0, composed.load() - encoded)),
                double(figures.lastAudioTime) / 1e7, CpuSeconds(), wall.count());
    return result;
}
