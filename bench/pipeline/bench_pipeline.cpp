// A 60 s lesson at 1280x720 with the camera inset over the slides and sound from a sine
// microphone, recorded by studiocast-record and by the ffmpeg command line doing the same work:
// generated pictures, the inset scaled and laid over with a grey border, libx264 with the
// same rate control (ABR 1000 kbit/s, no B-frames, 2 s key interval), AAC at 96 kbit/s from
// the same sound server. CPU seconds of each child process come from wait4.
//
// Usage: bench_pipeline [seconds]

#include "tests/support/PulseTestServer.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Run {
    int status = -1;
    double cpuSeconds = 0;
    std::string lastLine;
};

// Runs the program with its standard output in `outputFile`; CPU time of the child alone.
Run RunChild(const std::vector<std::string> &arguments, const std::string &outputFile) {
    Run run;
    std::fflush(stdout);  // the child must not write the parent's pending output again
    const pid_t pid = fork();
    if (pid == 0) {
        std::FILE *out = std::freopen(outputFile.c_str(), "w", stdout);
        (void)out;
        std::vector<char *> argv;
        for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::ifstream file(outputFile);
    for (std::string line; std::getline(file, line);)
        if (!line.empty()) run.lastLine = line;
    return run;
}

double Figure(const std::string &line, const std::string &name) {
    const size_t at = line.find(name + " ");
    return at == std::string::npos ? -1 : std::atof(line.c_str() + at + name.size() + 1);
}

}  // namespace

int main(int argc, char **argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const auto folder = std::filesystem::temp_directory_path() / ("bench_pipeline-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    sc::test::PulseTestServer server;

    const Run recorder = RunChild({STUDIOCAST_RECORD, "--seconds", std::to_string(seconds), "--size", "1280x720",
                                   "--layout", "4", "--mic", "test_sine", "--out", (folder / "recorder.mp4").string()},
                                  (folder / "recorder.txt").string());
    std::printf("studiocast-record: %s\n", recorder.lastLine.c_str());

    const std::string filter =
        "[0:v]format=yuv420p[slide];[1:v]scale=424:244,drawbox=x=0:y=0:w=424:h=244:color=gray:t=2[inset];"
        "[slide][inset]overlay=840:16,format=yuv420p[v]";
    const Run ffmpeg = RunChild(
        {"ffmpeg", "-v", "error", "-y", "-re", "-f", "lavfi", "-i",
         "color=c=white:s=1280x720:r=20,drawbox=x=0:y=0:w=1280:h=120:color=0x1E3C8A:t=fill,"
         "drawbox=x=128:y=180:w=768:h=18:color=0x303030:t=fill,drawbox=x=128:y=252:w=640:h=18:color=0x303030:t=fill",
         "-re", "-f", "lavfi", "-i", "testsrc2=s=640x480:r=20", "-f", "pulse", "-i", "test_sine", "-filter_complex",
         filter, "-map", "[v]", "-map", "2:a", "-t", std::to_string(seconds), "-c:v", "libx264", "-preset",
         "superfast", "-tune", "zerolatency", "-profile:v", "high", "-b:v", "1000k", "-maxrate", "1000k", "-bufsize",
         "1000k", "-g", "40", "-keyint_min", "20", "-bf", "0", "-r", "20", "-c:a", "aac", "-b:a", "96k", "-ar",
         "44100", "-ac", "2", (folder / "ffmpeg.mp4").string()},
        (folder / "ffmpeg.txt").string());
    std::printf("ffmpeg: exit %d, CPU seconds %.3f\n", ffmpeg.status, ffmpeg.cpuSeconds);

    std::filesystem::remove_all(folder);
    if (recorder.status != 0 || ffmpeg.status != 0 || ffmpeg.cpuSeconds <= 0) {
        std::fprintf(stderr, "bench_pipeline: a run failed (recorder %d, ffmpeg %d)\n", recorder.status,
                     ffmpeg.status);
        return 1;
    }
    const double wall = Figure(recorder.lastLine, "wall seconds");
    const double encoded = Figure(recorder.lastLine, "frames encoded");
    std::printf("BENCH pipeline_cpu_vs_ffmpeg %.3f <= 1.0\n", recorder.cpuSeconds / ffmpeg.cpuSeconds);
    std::printf("BENCH pipeline_cores_busy %.3f <= 1.0\n", recorder.cpuSeconds / wall);
    std::printf("BENCH pipeline_encoded_fps %.2f >= 19.5\n", encoded / seconds);
    return 0;
}
