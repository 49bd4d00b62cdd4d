// Starts and stops 100 recordings while the preview composes synthetic sources, and reports
// how much the process grew between the 10th and the 100th (the first ones warm up the
// allocators, codecs and threads), and how many files came out unplayable.
#include "SyntheticSources.h"

#include "app/DataModule.h"
#include "app/MessageBox.h"
#include "app/SettingIni.h"
#include "capture/FramePreviews.h"
#include "recording/FrameRecords.h"

#include <QApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kCycles = 100;
constexpr int kWarmUpCycles = 10;
constexpr double kGrowthGoalMiB = 8.0;

double ResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

bool Playable(const std::string &path) {
    const std::string command = "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                "stream=nb_read_frames -of csv=p=0 '" + path + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char text[64] = {};
    const bool read = std::fgets(text, sizeof text, pipe) != nullptr;
    pclose(pipe);
    return read && std::atoi(text) >= 1;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    const auto folder = std::filesystem::temp_directory_path() / ("bench_record_cycles-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    TSettingIni settings(QString::fromStdString((folder / "Setting.ini").string()),
                         QString::fromStdString(folder.string()) + "/");
    settings.VideoWidth = 640;
    settings.VideoHeight = 480;
    SettingIni = &settings;
    int messages = 0;
    SetMessageBoxPresenter([&](const QString &, const QString &) { ++messages; });

    TFramePreview preview;
    TFrameRecord record;
    TSyntheticSource camera1{"Camera1", TSyntheticKind::Camera, 320, 240, 20, 0};
    TSyntheticSource slides{"Presentation", TSyntheticKind::Slide, 640, 480, 20, 0};
    std::atomic<int> previewFrames{0};
    preview.SetFrameSize(640, 480);
    preview.OpenMainPush();
    camera1.Start([&](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.Cam1Sample(g, s, t); });
    slides.Start([&](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.PresentationSample(g, s, t); });
    preview.Camera1MediaType = camera1.MediaType();
    preview.PresentationMediaType = slides.MediaType();
    preview.PenBoardEnabled = false;
    if (!preview.BuildPreview(true, false, 4)) {
        std::fprintf(stderr, "the preview could not be built\n");
        return 1;
    }
    preview.GetConnectedMediaType(record.VideoMediaType);
    preview.SetOnSample([&](TSampleGrabberEx *g, IMediaSample *s, double t) {
        ++previewFrames;
        record.FrameSample(g, s, t);
    });
    while (previewFrames < 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));

    double afterWarmUp = 0;
    int unplayable = 0;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        const std::string path = (folder / "take.mp4").string();
        if (record.StartRecording(QString::fromStdString(path), false) != 0) ++unplayable;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        record.StopRecording();
        if (!Playable(path)) ++unplayable;
        if (cycle == kWarmUpCycles) afterWarmUp = ResidentMiB();
    }
    const double growth = ResidentMiB() - afterWarmUp;

    preview.SetOnSample(nullptr);
    camera1.Stop();
    slides.Stop();
    preview.StopPreview();
    preview.CloseMainPush();
    SetMessageBoxPresenter(nullptr);
    SettingIni = nullptr;
    std::filesystem::remove_all(folder);

    std::printf("resident after %d cycles: %.1f MiB, after %d: %.1f MiB\n", kWarmUpCycles, afterWarmUp, kCycles,
                afterWarmUp + growth);
    std::printf("BENCH record_start_stop_x%d_rss_growth_mib %.1f <= %.1f\n", kCycles - kWarmUpCycles, growth,
                kGrowthGoalMiB);
    std::printf("BENCH record_start_stop_x%d_failed_files %d <= 0\n", kCycles, unplayable + messages);
    return 0;
}
