// studiocast-upload against platform-stub: exits 0 only when the platform registered the file.

#include "UploadTestFiles.h"

#include "PlatformStubProcess.h"
#include "tests/support/LoopbackAddresses.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string output;  // standard output
};

std::string Quote(const std::string &text)
{
    std::string quoted(1, '\'');
    for (char c : text) {
        if (c == '\'')
            quoted.append("'\\''");
        else
            quoted.push_back(c);
    }
    quoted.push_back('\'');
    return quoted;
}

ToolRun RunTool(const std::vector<std::string> &arguments)
{
    std::string command = Quote(STUDIOCAST_UPLOAD_EXECUTABLE);
    for (const auto &argument : arguments) {
        command.push_back(' ');
        command.append(Quote(argument));
    }
    command.append(" 2>/dev/null");
    ToolRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace

TEST(UploadTool, ExitsZeroOnlyForARegisteredUpload)
{
    TempFolder folder;
    const std::string file = folder.WriteRandomFile("课 1.mp4", 2 * 1048576 + 3);
    const struct {
        const char *name;
        std::vector<std::string> stubSwitches;
        bool platformGone;
        std::vector<std::string> extra;
        int exitCode;
    } cases[] = {
        {"registered", {}, false, {"--grade", "3", "--subject", "12"}, 0},
        {"no grade or subject", {}, false, {}, 3},
        {"refused", {"--refuse-registration", "6"}, false, {"--grade", "3", "--subject", "12"}, 3},
        {"platform gone", {}, true, {"--grade", "3", "--subject", "12"}, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PlatformStubProcess stub(c.stubSwitches);
        std::string platform = stub.BaseUrl();
        if (c.platformGone)
            platform = sc_test::ClosedPortUrl();
        std::vector<std::string> arguments{"--platform", platform, "--title", "课 1", "--speaker", "张", "--retries", "1"};
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        arguments.push_back(file);
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        if (c.exitCode == 0) {
            EXPECT_EQ(run.output, "registered 课_1.mp4 as video 17\n");
            const auto requests = stub.Requests();
            const std::string key = requests.back()["params"]["sessionId"];
            EXPECT_TRUE(ReadWholeFile(stub.UploadedFile(key + "课_1.mp4")) == ReadWholeFile(file));
        }
    }
    EXPECT_EQ(RunTool({"--title", "x", file}).exitCode, 2);
}

TEST(UploadTool, CtrlCDuringTheRegistrationEndsItAsInterrupted)
{
    TempFolder folder;
    const std::string file = folder.WriteRandomFile("v.mp4", 1000);
    PlatformStubProcess stub({"--slow", "/webservice/addVideo.action", "--slow-ms", "20000"});
    const std::vector<std::string> arguments{STUDIOCAST_UPLOAD_EXECUTABLE, "--platform", stub.BaseUrl(), "--title",
                                             "t", "--grade", "3", "--subject", "12", file};
    const auto started = std::chrono::steady_clock::now();
    const pid_t tool = fork();
    ASSERT_GE(tool, 0);
    if (tool == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        std::vector<char *> argv;
        for (const auto &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    const auto registering = [&] {
        for (const auto &request : stub.Requests())
            if (request.value("path", "") == "/webservice/addVideo.action")
                return true;
        return false;
    };
    while (!registering() && std::chrono::steady_clock::now() - started < std::chrono::seconds(15))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(registering());
    kill(tool, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(tool, &status, 0), tool);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << "waited for the slow reply";
}
