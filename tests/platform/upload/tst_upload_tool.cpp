// studiocast-upload against platform-stub: exits 0 only when the platform registered the file.

#include "UploadTestFiles.h"

#include "PlatformStubProcess.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>

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
            platform = PlatformStubProcess().BaseUrl();  // stopped again at once
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
