// The uploader against a recording server: the exact bytes on the wire, connections, and
// what happens when a chunk is not confirmed.

#include "RecordingServer.h"
#include "UploadTestFiles.h"

#include "platform/OrinHttpClients.h"
#include "platform/UrlEncode.h"
#include "tests/support/LoopbackAddresses.h"

#include <gtest/gtest.h>

#include <future>

using namespace OrinHttpClients;
using namespace std::chrono_literals;

namespace {

constexpr int64_t M = ChunkSize;
const std::string Servlet = "/servlet/SingleUpload";

RecordingServer::Answer Success(int, const RecordingServer::Request &)
{
    return RecordingServer::Reply(200, "success");
}

// The text between `before` and `after` in the head, when it is all digits.
std::string DigitsBetween(const std::string &head, const std::string &before, const std::string &after)
{
    const size_t start = head.find(before);
    if (start == std::string::npos)
        return {};
    const size_t end = head.find(after, start + before.size());
    const std::string digits = head.substr(start + before.size(), end == std::string::npos ? 0 : end - start - before.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return {};
    return digits;
}

std::string StampOf(const std::string &head)
{
    const std::string stamp = DigitsBetween(head, "boundary=--------", "\r\n");
    return stamp.size() == 15 ? stamp : std::string();
}

int64_t PosOf(const RecordingServer::Request &request)
{
    const std::string digits = DigitsBetween(request.head, "&Pos=", "&");
    return digits.empty() ? -1 : std::stoll(digits);
}

std::vector<int64_t> Positions(const std::vector<RecordingServer::Request> &requests)
{
    std::vector<int64_t> positions;
    for (const auto &request : requests)
        positions.push_back(PosOf(request));
    return positions;
}

TUploadTiming FastTiming()
{
    TUploadTiming timing;
    timing.socketTimeoutMs = 400;
    timing.retryPauseMs = 10;
    return timing;
}

// True once the condition holds, false when it did not within 20 s.
template <typename Condition> bool Eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

}  // namespace

TEST(UploadWire, SendsEveryChunkByteForByteOnOneConnection)
{
    TempFolder folder;
    const int64_t size = 3 * M + 10;
    const std::string file = folder.WriteRandomFile("a b'c.mp4", size);
    const std::string content = ReadWholeFile(file);
    RecordingServer server(Success);

    THttpClient client;
    std::vector<int64_t> progress;
    client.OnProgress = [&](std::atomic<int> &, int64_t position, int64_t total) {
        EXPECT_EQ(total, size);
        progress.push_back(position);
    };
    EXPECT_EQ(client.UploadFile(server.Url(Servlet), file), "ErrorCode=0\r\nFileName=a_b_c.mp4");
    EXPECT_EQ(client.LastOutcome().status, TUploadStatus::Done);

    const std::string key = client.SessionKey();
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    for (int64_t i = 0; i < 4; ++i) {
        const TChunk chunk = ChunkAt(size, i);
        const auto &request = requests[size_t(i)];
        EXPECT_EQ(request.connection, requests[0].connection) << "kept alive";
        const std::string stamp = StampOf(request.head);
        ASSERT_FALSE(stamp.empty()) << request.head;
        EXPECT_EQ(request.head, RequestHead(RequestTarget(Servlet, chunk, key + "a_b_c.mp4", size), stamp,
                                            chunk.length + 209, host, key));
        EXPECT_EQ(request.body, PartHeader(stamp) + content.substr(size_t(chunk.position), size_t(chunk.length)) +
                                    ClosingLine(stamp))
            << "request " << i;
    }
    // The probe connection carried nothing; the real one carried all four requests.
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_EQ(requests[0].connection, 1);

    // Progress comes before each piece of at most 8192 bytes, and never reports the end.
    std::vector<int64_t> expected;
    for (int64_t i = 0; i < 4; ++i)
        for (int64_t at = 0; at < ChunkAt(size, i).length; at += 8192)
            expected.push_back(ChunkAt(size, i).position + at);
    EXPECT_EQ(progress, expected);
}

TEST(UploadWire, FiftyFirstRequestOpensANewConnection)
{
    TempFolder folder;
    const std::string file = folder.WriteSparseFile("long.mp4", 50 * M);
    RecordingServer server(Success);
    THttpClient client;
    ASSERT_EQ(client.UploadFile(server.Url(Servlet), file).rfind("ErrorCode=0", 0), 0u);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 51u);
    for (size_t i = 0; i < 50; ++i)
        EXPECT_EQ(requests[i].connection, requests[0].connection) << i;
    EXPECT_GT(requests[50].connection, requests[0].connection);
    EXPECT_EQ(PosOf(requests[50]), 50 * M);
}

TEST(UploadWire, AReplyArrivingInPiecesIsOneReply)
{
    TempFolder folder;
    const std::string file = folder.WriteRandomFile("v.mp4", M + 5);
    RecordingServer server([](int, const RecordingServer::Request &) {
        RecordingServer::Answer answer;
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nsuccess";
        answer.pieces = {reply.substr(0, 10), reply.substr(10, 20), reply.substr(30)};
        return answer;
    });
    THttpClient client;
    client.SetTiming(FastTiming());
    EXPECT_EQ(client.UploadFile(server.Url(Servlet), file), "ErrorCode=0\r\nFileName=v.mp4");
    EXPECT_EQ(client.FailedAttempts(), 0);
    EXPECT_EQ(Positions(server.Requests()), (std::vector<int64_t>{0, M}));
}

TEST(UploadWire, AnUnconfirmedChunkIsSentAgainAtItsPosition)
{
    const struct {
        const char *name;
        RecordingServer::Answer answer;
    } faults[] = {
        {"silence", [] {
             RecordingServer::Answer a;
             a.silent = true;
             return a;
         }()},
        {"refusal text", RecordingServer::Reply(200, "error: disk full")},
        {"error status", RecordingServer::Reply(500, "success")},
        {"not http", RecordingServer::Answer{{"this is not a reply but says success\r\n\r\n"}}},
        {"closed mid-body", [] {
             RecordingServer::Answer a;
             a.closeMidBody = true;
             return a;
         }()},
    };
    for (const auto &fault : faults) {
        SCOPED_TRACE(fault.name);
        TempFolder folder;
        const int64_t size = 2 * M + 5;
        const std::string file = folder.WriteRandomFile("v.mp4", size);
        const std::string content = ReadWholeFile(file);
        RecordingServer server([&](int index, const RecordingServer::Request &request) {
            return index == 1 ? fault.answer : Success(index, request);
        });
        THttpClient client;
        client.SetTiming(FastTiming());
        EXPECT_EQ(client.UploadFile(server.Url(Servlet), file), "ErrorCode=0\r\nFileName=v.mp4");
        EXPECT_EQ(client.FailedAttempts(), 1);
        const auto requests = server.Requests();
        ASSERT_EQ(Positions(requests), (std::vector<int64_t>{0, M, M, 2 * M}));
        EXPECT_NE(requests[2].connection, requests[1].connection) << "retried on a new connection";
        const std::string stamp = StampOf(requests[2].head);
        EXPECT_EQ(requests[2].body, PartHeader(stamp) + content.substr(size_t(M), size_t(M)) + ClosingLine(stamp));
    }
}

TEST(UploadWire, AStoppedUploadWaitsForResumeAndContinuesAtTheSameChunk)
{
    TempFolder folder;
    const std::string file = folder.WriteRandomFile("v.mp4", 2 * M + 5);
    RecordingServer server(Success);
    THttpClient client;
    client.SetTiming(FastTiming());
    std::atomic<bool> stopOnce{true};
    client.OnProgress = [&](std::atomic<int> &abortFlag, int64_t position, int64_t) {
        if (position == M && stopOnce.exchange(false))
            abortFlag.store(-1);
    };
    auto upload = std::async(std::launch::async, [&] { return client.UploadFile(server.Url(Servlet), file); });
    ASSERT_TRUE(Eventually([&] { return client.FailedAttempts() == 1; }));
    EXPECT_EQ(upload.wait_for(300ms), std::future_status::timeout) << "a stopped upload waits";
    EXPECT_EQ(server.Requests().size(), 2u);
    client.Resume();
    ASSERT_EQ(upload.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(upload.get(), "ErrorCode=0\r\nFileName=v.mp4");
    EXPECT_EQ(Positions(server.Requests()), (std::vector<int64_t>{0, M, M, 2 * M}));
}

TEST(UploadWire, CancelEndsTheUploadWhereverItWaits)
{
    const struct {
        const char *name;
        bool stop;  // stopped by the progress handler, else waiting for a silent server
    } cases[] = {{"stopped", true}, {"waiting for a reply", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string file = folder.WriteRandomFile("v.mp4", 2 * M);
        RecordingServer server([&](int index, const RecordingServer::Request &request) {
            RecordingServer::Answer answer = Success(index, request);
            answer.silent = !c.stop && index == 1;
            return answer;
        });
        THttpClient client;
        TUploadTiming timing;
        timing.socketTimeoutMs = 600000;  // only the cancel can end the wait
        client.SetTiming(timing);
        client.OnProgress = [&](std::atomic<int> &abortFlag, int64_t position, int64_t) {
            if (c.stop && position == M)
                abortFlag.store(-1);
        };
        auto upload = std::async(std::launch::async, [&] { return client.UploadFile(server.Url(Servlet), file); });
        ASSERT_TRUE(Eventually([&] { return server.Requests().size() == 2; }));
        client.Cancel();
        ASSERT_EQ(upload.wait_for(20s), std::future_status::ready);
        EXPECT_EQ(upload.get(), "cancelled");
        EXPECT_EQ(client.LastOutcome().status, TUploadStatus::Cancelled);
    }
}

TEST(UploadWire, StartFailuresAreReportedWithTheirCause)
{
    TempFolder folder;
    const std::string file = folder.WriteRandomFile("v.mp4", 100);
    const std::string closedUrl = sc_test::ClosedPortUrl() + Servlet;

    const struct {
        std::string url, file, mention;
    } cases[] = {
        {closedUrl, file, "127.0.0.1"},
        {closedUrl, (folder.Path() / "missing.mp4").string(), "missing.mp4"},
        {"ftp://127.0.0.1/x", file, "ftp"},
    };
    for (const auto &c : cases) {
        THttpClient client;
        const std::string result = client.UploadFile(c.url, c.file);
        EXPECT_EQ(client.LastOutcome().status, TUploadStatus::Failed) << c.url;
        EXPECT_EQ(result.find("ErrorCode=0"), std::string::npos);
        EXPECT_NE(result.find(c.mention), std::string::npos) << result;
    }
}
