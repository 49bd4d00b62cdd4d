// The uploader against platform-stub, which checks every request the way the platform does
// and stores what it receives.

#include "UploadTestFiles.h"

#include "PlatformStubProcess.h"
#include "platform/OrinHttpClients.h"

#include <gtest/gtest.h>

using namespace OrinHttpClients;

namespace {

constexpr int64_t M = ChunkSize;

// Positions of the upload requests the stub saw, in order (a cut request included).
std::vector<int64_t> UploadPositions(const PlatformStubProcess &stub)
{
    std::vector<int64_t> positions;
    for (const auto &entry : stub.Requests()) {
        if (entry["path"] != "/servlet/SingleUpload")
            continue;
        if (entry.contains("upload")) {
            positions.push_back(entry["upload"]["pos"].get<int64_t>());
        } else {
            const std::string query = entry["query"];
            const size_t at = query.find("&Pos=");
            positions.push_back(std::stoll(query.substr(at + 5, query.find('&', at + 1) - at - 5)));
        }
    }
    return positions;
}

}  // namespace

TEST(UploadToPlatform, StoredFileIsIdenticalToTheOriginal)
{
    const struct {
        const char *name;
        int64_t size;
        std::string storedName;
    } cases[] = {
        {"课程 一.mp4", 3 * M + 10, "课程_一.mp4"},
        {"exact.mp4", 2 * M, "exact.mp4"},
        {"small file.mp4", 1000, "small_file.mp4"},
        {"empty.mp4", 0, "empty.mp4"},
    };
    PlatformStubProcess stub;
    TempFolder folder;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = folder.WriteRandomFile(c.name, c.size, uint32_t(c.size));
        THttpClient client;
        EXPECT_EQ(client.UploadFile(stub.BaseUrl() + "/servlet/SingleUpload", file),
                  "ErrorCode=0\r\nFileName=" + c.storedName);
        EXPECT_EQ(client.FailedAttempts(), 0) << client.LastError();
        const std::string stored = ReadWholeFile(stub.UploadedFile(client.SessionKey() + c.storedName));
        EXPECT_EQ(stored.size(), size_t(c.size));
        EXPECT_TRUE(stored == ReadWholeFile(file));
    }
}

TEST(UploadToPlatform, ResumesAfterADroppedOrSlowChunkResendingOnlyThatChunk)
{
    const struct {
        const char *name;
        std::vector<std::string> switches;
    } faults[] = {
        {"connection cut in chunk 2", {"--drop-chunk", "2"}},
        {"chunk 3 answered too late", {"--slow-chunk", "3", "--slow-ms", "20000"}},
    };
    for (const auto &fault : faults) {
        SCOPED_TRACE(fault.name);
        PlatformStubProcess stub(fault.switches);
        TempFolder folder;
        const std::string file = folder.WriteRandomFile("lesson.mp4", 3 * M + 77);
        THttpClient client;
        TUploadTiming timing;
        timing.socketTimeoutMs = 1000;
        timing.retryPauseMs = 10;
        client.SetTiming(timing);
        EXPECT_EQ(client.UploadFile(stub.BaseUrl() + "/servlet/SingleUpload", file),
                  "ErrorCode=0\r\nFileName=lesson.mp4");
        EXPECT_EQ(client.FailedAttempts(), 1);
        const int failed = fault.switches[0] == "--drop-chunk" ? 1 : 2;  // 0-based request
        std::vector<int64_t> expected{0, M, 2 * M, 3 * M};
        expected.insert(expected.begin() + failed, expected[size_t(failed)]);
        EXPECT_EQ(UploadPositions(stub), expected);
        EXPECT_TRUE(ReadWholeFile(stub.UploadedFile(client.SessionKey() + "lesson.mp4")) == ReadWholeFile(file));
    }
}

TEST(UploadToPlatform, ARefusedChunkIsNotCountedAsSent)
{
    // The stub refuses every chunk of an address whose query it cannot accept; the client
    // keeps the chunk and gives up only when told to.
    PlatformStubProcess stub;
    TempFolder folder;
    const std::string file = folder.WriteRandomFile("v.mp4", 10);
    THttpClient client;
    TUploadTiming timing;
    timing.retryPauseMs = 10;
    timing.maxRetriesPerChunk = 2;
    client.SetTiming(timing);
    const std::string result = client.UploadFile(stub.BaseUrl() + "/servlet/SingleUpload?x=1", file);
    EXPECT_EQ(client.LastOutcome().status, TUploadStatus::Failed);
    EXPECT_NE(result.find("HTTP 400"), std::string::npos) << result;
    EXPECT_EQ(client.FailedAttempts(), 3);
}
