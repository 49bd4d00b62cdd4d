#pragma once

#include "platform/BlockSockets.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// The chunked file uploader: 1 MiB multipart POSTs over one kept-alive connection, each
// chunk placed by its query string, resumed at the chunk that failed.
namespace OrinHttpClients {

constexpr int64_t ChunkSize = 1048576;
constexpr const char *PrivateKey = "c4e1b8a2d7f03e9b5a6c1d2f8e0b7a95";

// 32 characters from the upload key alphabet, from the system's random source.
std::string RandomKey();
// The name the file is sent under (UTF-8 in and out): without folder, a name longer than 60
// UTF-16 units cut to 60 plus its extension (never inside a character), then blanks, "'",
// "\" and U+3000 made "_".
std::string CleanUploadName(const std::string &filePath);
// "mmddyyhhmmsszzz" of the local time.
std::string UploadStamp(std::chrono::system_clock::time_point when);

struct TUploadUrl {
    std::string scheme;
    std::string host;
    uint16_t port = 80;
    std::string path;  // from the first "/" after the host on, query included
};
// Splits an http:// address; returns false with a reason for anything else.
bool SplitUploadUrl(const std::string &url, TUploadUrl &parts, std::string &error);

struct TChunk {
    int state;  // -1 first, 0 middle, 1 last request
    int64_t position;
    int64_t length;
};
// The requests of a file of `size` bytes, in order; the last one may be empty.
int64_t ChunkCount(int64_t size);
TChunk ChunkAt(int64_t size, int64_t index);

// The bytes of one request around the chunk data.
std::string RequestTarget(const std::string &path, const TChunk &chunk, const std::string &fileNameParameter,
                          int64_t total);
std::string PartHeader(const std::string &stamp);
std::string ClosingLine(const std::string &stamp);
std::string RequestHead(const std::string &target, const std::string &stamp, int64_t contentLength,
                        const std::string &hostHeader, const std::string &key);

enum class TUploadStatus { Done, Failed, Cancelled };

struct TUploadOutcome {
    TUploadStatus status = TUploadStatus::Failed;
    std::string cleanedName;  // UTF-8
    int64_t size = 0;         // of the file when it was opened: the bytes the upload sends
    std::string error;
};

struct TUploadTiming {
    int socketTimeoutMs = 10000;
    int probeSeconds = 5;
    int retryPauseMs = 3000;     // before a failed chunk is sent again
    int stoppedPollMs = 1000;    // while stopped
    int replyDeadlineMs = 60000; // a reply trickling in slower than this fails
    int maxRetriesPerChunk = 0;  // 0: retry until it works or is cancelled
};

class THttpClient {
public:
    // Called on the uploading thread before each piece of file data; may set the flag to -1.
    using TProgressHandler = std::function<void(std::atomic<int> &abortFlag, int64_t position, int64_t total)>;

    THttpClient() = default;
    THttpClient(const THttpClient &) = delete;
    THttpClient &operator=(const THttpClient &) = delete;

    // Sends the file; on success "ErrorCode=0\r\nFileName=" + the cleaned name, otherwise the
    // last error text. LastOutcome() tells the same without reading text.
    std::string UploadFile(const std::string &url, const std::string &filePath);
    const TUploadOutcome &LastOutcome() const { return outcome; }
    std::string SessionKey() const { return key; }
    // Ends a stopped wait and makes the next attempt use a new connection. Any thread.
    void Resume();
    // Makes UploadFile give up as soon as possible with the outcome Cancelled. Any thread.
    void Cancel();

    void SetTiming(const TUploadTiming &value) { timing = value; }
    // Chunk attempts that failed and were retried during the last upload.
    int FailedAttempts() const { return failedAttempts.load(); }
    std::string LastError() const;

    TProgressHandler OnProgress;
    std::atomic<int> AbortFlag{0};  // 0 = go on; -1 = stop sending until Resume

private:
    bool Reconnect();
    bool PostChunkRetrying(const TChunk &chunk);
    bool PostChunk(const TChunk &chunk);
    bool SendChunkData(const TChunk &chunk);
    bool ReadReply(const TChunk &chunk);
    void Wait(int milliseconds);
    void SetLastError(std::string text);
    bool Cancelled() const { return cancelled.load(); }

    TUploadTiming timing;
    TUploadUrl url;
    std::string hostHeader;
    std::string fileNameParameter;
    std::string key;
    int64_t total = 0;
    int fileFd = -1;
    std::unique_ptr<char[]> transferBuffer;
    std::unique_ptr<BlockSockets::TBlockSocket> socket;
    std::mutex socketLock;  // socket replacement vs. Cancel
    std::atomic<int> requestCounter{0};
    std::atomic<bool> cancelled{false};
    std::atomic<int> failedAttempts{0};
    std::mutex waitLock;
    std::condition_variable wake;
    mutable std::mutex errorLock;
    std::string lastError;
    TUploadOutcome outcome;
};

}  // namespace OrinHttpClients
