// studiocast-upload: sends a recording to a platform the way the program does (1 MiB
// chunks, resumed at the chunk that failed) and registers it with its title, speaker, grade
// and subject. Exits 0 only when the platform confirmed the registration.

#include "platform/OrinHttpClients.h"
#include "platform/OrinWebService.h"

#include <nlohmann/json.hpp>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <stop_token>
#include <string>
#include <thread>

namespace {

enum ExitCode { Ok = 0, UploadFailed = 1, UsageError = 2, RegistrationRefused = 3, Interrupted = 130 };

const char *Usage = R"(Usage: studiocast-upload --platform URL --title T [--speaker S] [--grade ID]
                         [--subject ID] [--remark R] [--retries N] FILE
       studiocast-upload --platform URL --list

Sends FILE to the platform at URL (for example http://10.0.0.5) in 1 MiB chunks, resuming at
the chunk that failed, then registers it. Progress and rate go to standard error.

  --platform URL   the platform's base address
  --title T        title of the video (required)
  --speaker S      the speaker
  --grade ID       grade id and
  --subject ID     subject id, as listed by --list
  --remark R       a remark
  --retries N      give up after N failed attempts at one chunk (default 10; 0 = never)
  --list           print the platform's subjects and grades with their ids

Exit status: 0 registered; 1 upload failed; 2 usage error; 3 registration refused;
130 interrupted.
)";

struct Options {
    std::string platform, title, speaker, grade, subject, remark, file;
    int retries = 10;
    bool list = false;
};

bool ParseArguments(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto value = [&](std::string &target) {
            if (i + 1 >= argc)
                return false;
            target = argv[++i];
            return true;
        };
        bool ok = true;
        if (argument == "--platform")
            ok = value(options.platform);
        else if (argument == "--title")
            ok = value(options.title);
        else if (argument == "--speaker")
            ok = value(options.speaker);
        else if (argument == "--grade")
            ok = value(options.grade);
        else if (argument == "--subject")
            ok = value(options.subject);
        else if (argument == "--remark")
            ok = value(options.remark);
        else if (argument == "--list")
            options.list = true;
        else if (argument == "--retries") {
            std::string count;
            ok = value(count) && !count.empty() && count.find_first_not_of("0123456789") == std::string::npos &&
                 count.size() < 7;
            if (ok)
                options.retries = std::stoi(count);
        } else if (argument.rfind("--", 0) == 0 || !options.file.empty())
            ok = false;
        else
            options.file = argument;
        if (!ok) {
            std::cerr << "studiocast-upload: bad or incomplete argument " << argument << "\n";
            return false;
        }
    }
    while (!options.platform.empty() && options.platform.back() == '/')
        options.platform.pop_back();
    if (options.platform.empty())
        return false;
    return options.list || (!options.title.empty() && !options.file.empty());
}

std::string Megabytes(double bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    return text;
}

// One status line on a terminal, rewritten at most five times a second.
class ProgressLine {
public:
    void Show(int64_t position, int64_t total)
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastShown < std::chrono::milliseconds(200))
            return;
        lastShown = now;
        const double seconds = std::chrono::duration<double>(now - start).count();
        const double rate = seconds > 0 ? double(position) / seconds : 0;
        if (!isatty(STDERR_FILENO))
            return;
        std::fprintf(stderr, "\r%3d%%  %s of %s  %s/s   ", total > 0 ? int(position * 100 / total) : 0,
                     Megabytes(double(position)).c_str(), Megabytes(double(total)).c_str(),
                     Megabytes(rate).c_str());
        std::fflush(stderr);
    }
    void Finish(int64_t total)
    {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (isatty(STDERR_FILENO))
            std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "sent %s in %.1f s (%s/s)\n", Megabytes(double(total)).c_str(), seconds,
                     Megabytes(seconds > 0 ? double(total) / seconds : 0).c_str());
    }

private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastShown{};
};

int ListGradesAndSubjects(const Options &options)
{
    WebServiceSoap_java service;
    service.ServiceUrl = QString::fromStdString(options.platform);
    const TCategoryAndGradeJson lists = service.GetCategoryAndGrade();
    const auto document = nlohmann::json::parse(lists.data.toStdString(), nullptr, false);
    if (!lists.success || !document.is_object()) {
        std::cerr << "studiocast-upload: " << options.platform << " did not give its grades and subjects\n";
        return UploadFailed;
    }
    const auto print = [&](const char *kind, const char *group, const char *sections, const char *entries) {
        const auto &list = document.value(group, nlohmann::json::object()).value(sections, nlohmann::json::array());
        for (const auto &section : list)
            for (const auto &entry : section.value(entries, nlohmann::json::array()))
                std::cout << kind << ' ' << entry.value("id", nlohmann::json()).dump() << ' '
                          << entry.value("name", std::string()) << " (" << section.value("name", std::string())
                          << ")\n";
    };
    print("subject", "Category", "categorySection", "categories");
    print("grade", "Grade", "gradeSection", "grades");
    return Ok;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        std::cerr << Usage;
        return UsageError;
    }
    if (options.list)
        return ListGradesAndSubjects(options);

    // Ctrl-C and SIGTERM end the upload cleanly through the client's cancel.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    OrinHttpClients::THttpClient client;
    OrinHttpClients::TUploadTiming timing;
    timing.maxRetriesPerChunk = options.retries;
    client.SetTiming(timing);
    ProgressLine progress;
    client.OnProgress = [&](std::atomic<int> &, int64_t position, int64_t total) { progress.Show(position, total); };

    // The first signal cancels the upload, or the registration that follows it.
    std::stop_source interrupt;
    std::thread([&client, interrupt, stopSignals]() mutable {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        interrupt.request_stop();
        client.Cancel();
    }).detach();

    client.UploadFile(options.platform + "/servlet/SingleUpload", options.file);
    const OrinHttpClients::TUploadOutcome &outcome = client.LastOutcome();
    if (outcome.status == OrinHttpClients::TUploadStatus::Cancelled) {
        std::cerr << "\nstudiocast-upload: interrupted\n";
        return Interrupted;
    }
    if (outcome.status != OrinHttpClients::TUploadStatus::Done) {
        std::cerr << "\nstudiocast-upload: upload of " << options.file << " failed: " << outcome.error << "\n";
        return UploadFailed;
    }
    progress.Finish(outcome.size);

    WebServiceSoap_java service;
    service.ServiceUrl = QString::fromStdString(options.platform);
    service.Stop = interrupt.get_token();
    TAddVideoParms parms;
    parms.title = QString::fromStdString(options.title);
    parms.speaker = QString::fromStdString(options.speaker);
    parms.category = QString::fromStdString(options.subject);
    parms.grade = QString::fromStdString(options.grade);
    parms.remark = QString::fromStdString(options.remark);
    parms.fileName = QString::fromStdString(outcome.cleanedName);
    parms.sessionId = QString::fromStdString(client.SessionKey());
    parms.fileSize = QString::number(outcome.size);
    const TAddVideoResult registration = service.AddVideo(parms);
    if (interrupt.stop_requested()) {
        std::cerr << "studiocast-upload: interrupted during the registration\n";
        return Interrupted;
    }
    if (!WebServiceSoap_java::IsTrue(registration.success)) {
        std::cerr << "studiocast-upload: the platform refused the registration: "
                  << registration.message.toStdString() << "\n";
        return RegistrationRefused;
    }
    std::cout << "registered " << outcome.cleanedName << " as video " << registration.id.toStdString() << "\n";
    return Ok;
}
