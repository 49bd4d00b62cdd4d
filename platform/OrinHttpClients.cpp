#include "platform/OrinHttpClients.h"

#include "platform/HttpReplyReader.h"
#include "platform/UrlEncode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace OrinHttpClients {

namespace {

constexpr size_t TransferBufferSize = 8192;
constexpr size_t MaxUrlPart = 512;
constexpr size_t MaxCleanLength = 60;

std::string Quoted(std::string text)
{
    // Server texts end up in messages: keep them short and on one line.
    if (text.size() > 200)
        text = text.substr(0, 200) + "…";
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return "\"" + text + "\"";
}

}  // namespace

std::string RandomKey()
{
    // "L" appears twice and "0" never: the platform's key alphabet.
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRLSTUVWXYZ123456789";
    std::random_device source;
    std::uniform_int_distribution<int> pick(0, 35);
    std::string key(32, ' ');
    for (char &c : key)
        c = Alphabet[pick(source)];
    return key;
}

std::string CleanUploadName(const std::string &filePath)
{
    std::string name = filePath.substr(filePath.rfind('/') == std::string::npos ? 0 : filePath.rfind('/') + 1);
    // Lengths count UTF-16 units, as the platform's names do: 2 for a character beyond U+FFFF.
    size_t units = 0, cutAt = name.size();
    for (size_t at = 0; at < name.size();) {
        const auto lead = static_cast<unsigned char>(name[at]);
        const size_t bytes = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const size_t width = bytes == 4 ? 2 : 1;
        if (units + width > MaxCleanLength && cutAt == name.size())
            cutAt = at;
        units += width;
        at += bytes;
    }
    if (units > MaxCleanLength) {
        const size_t dot = name.rfind('.');
        const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
        name = name.substr(0, cutAt) + extension;
    }
    std::string cleaned;
    cleaned.reserve(name.size());
    for (size_t at = 0; at < name.size(); ++at) {
        const char c = name[at];
        if (c == ' ' || c == '\'' || c == '\\') {
            cleaned += '_';
        } else if (name.compare(at, 3, "\xE3\x80\x80") == 0) {  // ideographic space
            cleaned += '_';
            at += 2;
        } else {
            cleaned += c;
        }
    }
    return cleaned;
}

std::string UploadStamp(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02d%03d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec, int(millis));
    return text;
}

bool SplitUploadUrl(const std::string &text, TUploadUrl &parts, std::string &error)
{
    const size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0) {
        error = "not an upload address: " + Quoted(text);
        return false;
    }
    parts.scheme = text.substr(0, schemeEnd);
    std::transform(parts.scheme.begin(), parts.scheme.end(), parts.scheme.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (parts.scheme != "http") {
        error = "the uploader speaks plain http only, not " + parts.scheme + ": " + Quoted(text);
        return false;
    }
    const std::string rest = text.substr(schemeEnd + 3);
    const size_t hostEnd = rest.find_first_of(":/?#");
    parts.host = rest.substr(0, hostEnd);
    parts.port = 80;
    if (hostEnd != std::string::npos && rest[hostEnd] == ':') {
        const size_t portEnd = rest.find_first_of("/?#", hostEnd + 1);
        const std::string digits = rest.substr(hostEnd + 1, portEnd == std::string::npos ? std::string::npos
                                                                                          : portEnd - hostEnd - 1);
        long port = 0;
        const bool numeric = !digits.empty() && digits.size() <= 5 &&
                             std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (numeric)
            port = std::stol(digits);
        if (!numeric || port < 1 || port > 65535) {
            error = "bad port in upload address: " + Quoted(text);
            return false;
        }
        parts.port = uint16_t(port);
    }
    const size_t slash = rest.find('/', hostEnd == std::string::npos ? rest.size() : hostEnd);
    parts.path = slash == std::string::npos ? "/" : rest.substr(slash);
    if (parts.host.empty() || parts.host.size() > MaxUrlPart || parts.path.size() > MaxUrlPart) {
        error = "upload address without host or with a part over 512 characters: " + Quoted(text);
        return false;
    }
    const auto unsafe = [](unsigned char c) { return c <= ' ' || c == 0x7F; };
    if (std::any_of(text.begin(), text.end(), unsafe)) {
        error = "upload address contains blanks or control characters: " + Quoted(text);
        return false;
    }
    return true;
}

int64_t ChunkCount(int64_t size)
{
    return size < ChunkSize ? 2 : size / ChunkSize + 1;
}

TChunk ChunkAt(int64_t size, int64_t index)
{
    if (size < ChunkSize)
        return index == 0 ? TChunk{-1, 0, size} : TChunk{1, size, 0};
    const int64_t full = size / ChunkSize;
    if (index == full)
        return {1, full * ChunkSize, size % ChunkSize};
    return {index == 0 ? -1 : 0, index * ChunkSize, ChunkSize};
}

std::string RequestTarget(const std::string &path, const TChunk &chunk, const std::string &fileNameParameter,
                          int64_t total)
{
    return path + "?FileSize=" + std::to_string(chunk.length) + "&FileName=" + fileNameParameter +
           "&UploadState=" + std::to_string(chunk.state) + "&Pos=" + std::to_string(chunk.position) +
           "&FileFinalSize=" + std::to_string(total);
}

std::string PartHeader(const std::string &stamp)
{
    return "----------" + stamp +
           "\r\nContent-Disposition: form-data; name=\"file1\"; "
           "filename=\"C:\\Users\\Administrator\\Desktop\\xxxxxxxxxxxxxxx.avi\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n";
}

std::string ClosingLine(const std::string &stamp)
{
    return "\r\n----------" + stamp + "--\r\n";
}

std::string RequestHead(const std::string &target, const std::string &stamp, int64_t contentLength,
                        const std::string &hostHeader, const std::string &key)
{
    return "POST " + target +
           " HTTP/1.1\r\nConnection: keep-alive\r\nContent-Type: multipart/form-data; boundary=--------" + stamp +
           "\r\nContent-Length: " + std::to_string(contentLength) + "\r\nHost: " + hostHeader +
           "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; MSIE 5.0)\r\nCookie: JSESSIONID=" +
           key + "; PrivateKey=" + PrivateKey + "\r\n\r\n";
}

std::string THttpClient::LastError() const
{
    std::lock_guard guard(errorLock);
    return lastError;
}

void THttpClient::SetLastError(std::string text)
{
    std::lock_guard guard(errorLock);
    lastError = std::move(text);
}

void THttpClient::Resume()
{
    AbortFlag.store(0);
    requestCounter.store(55);
    {
        std::lock_guard guard(waitLock);
    }
    wake.notify_all();
}

void THttpClient::Cancel()
{
    cancelled.store(true);
    {
        std::lock_guard guard(waitLock);
    }
    wake.notify_all();
    std::lock_guard guard(socketLock);
    if (socket)
        socket->Interrupt();
}

std::string THttpClient::UploadFile(const std::string &address, const std::string &filePath)
{
    outcome = {};
    failedAttempts.store(0);
    SetLastError({});
    auto finish = [this](TUploadStatus status, std::string error) {
        if (fileFd >= 0)
            close(fileFd);
        fileFd = -1;
        {
            std::lock_guard guard(socketLock);
            socket.reset();
        }
        transferBuffer.reset();
        outcome.status = status;
        outcome.error = std::move(error);
        if (status == TUploadStatus::Done)
            return "ErrorCode=0\r\nFileName=" + outcome.cleanedName;
        SetLastError(outcome.error);
        return outcome.error;
    };

    std::string error;
    if (!SplitUploadUrl(address, url, error))
        return finish(TUploadStatus::Failed, error);
    fileFd = open(filePath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fileFd < 0 || fstat(fileFd, &info) != 0 || !S_ISREG(info.st_mode))
        return finish(TUploadStatus::Failed,
                      "cannot read " + filePath + ": " + (fileFd < 0 ? std::strerror(errno) : "not a regular file"));
    total = info.st_size;
    outcome.size = total;

    AbortFlag.store(0);
    hostHeader = url.host + ":" + std::to_string(url.port);
    if (!Reconnect())
        return finish(Cancelled() ? TUploadStatus::Cancelled : TUploadStatus::Failed, LastError());
    requestCounter.store(0);
    key = RandomKey();
    outcome.cleanedName = CleanUploadName(filePath);
    fileNameParameter = key + UrlEncode(outcome.cleanedName);
    transferBuffer = std::make_unique<char[]>(TransferBufferSize);

    const int64_t requests = ChunkCount(total);
    for (int64_t index = 0; index < requests; ++index) {
        if (!PostChunkRetrying(ChunkAt(total, index))) {
            if (Cancelled())
                return finish(TUploadStatus::Cancelled, "cancelled");
            return finish(TUploadStatus::Failed, LastError());
        }
    }
    return finish(TUploadStatus::Done, {});
}

bool THttpClient::Reconnect()
{
    auto fresh = std::make_unique<BlockSockets::TBlockSocket>();
    fresh->SetTimeout(timing.socketTimeoutMs);
    {
        std::lock_guard guard(socketLock);
        socket = std::move(fresh);
    }
    if (Cancelled())
        return false;
    if (!socket->Connect(url.host, url.port, timing.probeSeconds)) {
        SetLastError(socket->LastError());
        return false;
    }
    return true;
}

void THttpClient::Wait(int milliseconds)
{
    std::unique_lock guard(waitLock);
    wake.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return Cancelled(); });
}

bool THttpClient::PostChunkRetrying(const TChunk &chunk)
{
    int retries = 0;
    for (;;) {
        if (Cancelled())
            return false;
        if (PostChunk(chunk))
            return true;
        ++failedAttempts;
        if (timing.maxRetriesPerChunk > 0 && ++retries > timing.maxRetriesPerChunk) {
            SetLastError(LastError() + " (gave up after " + std::to_string(timing.maxRetriesPerChunk) + " retries)");
            return false;
        }
        while (AbortFlag.load() != 0 && !Cancelled()) {
            std::unique_lock guard(waitLock);
            wake.wait_for(guard, std::chrono::milliseconds(timing.stoppedPollMs),
                          [this] { return Cancelled() || AbortFlag.load() == 0; });
        }
        requestCounter.store(55);
        Wait(timing.retryPauseMs);
    }
}

bool THttpClient::PostChunk(const TChunk &chunk)
{
    if (requestCounter.fetch_add(1) + 1 > 50) {
        requestCounter.store(0);
        if (!Reconnect())
            return false;
    }
    const std::string where = "the chunk at " + std::to_string(chunk.position);
    const std::string stamp = UploadStamp(std::chrono::system_clock::now());
    const std::string part = PartHeader(stamp);
    const std::string closing = ClosingLine(stamp);
    const std::string head = RequestHead(RequestTarget(url.path, chunk, fileNameParameter, total), stamp,
                                         chunk.length + int64_t(part.size() + closing.size()), hostHeader, key);
    const auto send = [&](const std::string &bytes) {
        if (socket->SendBuffer(bytes.data(), bytes.size()) > 0)
            return true;
        SetLastError("sending " + where + " to " + hostHeader + " failed: " + socket->LastError());
        return false;
    };
    if (!send(head) || !send(part) || !SendChunkData(chunk) || !send(closing))
        return false;
    return ReadReply(chunk);
}

bool THttpClient::SendChunkData(const TChunk &chunk)
{
    int64_t sent = 0;
    while (sent < chunk.length) {
        if (OnProgress)
            OnProgress(AbortFlag, chunk.position + sent, total);
        if (AbortFlag.load() != 0 || Cancelled()) {
            SetLastError(Cancelled() ? "cancelled" : "stopped");
            return false;
        }
        const size_t want = size_t(std::min<int64_t>(int64_t(TransferBufferSize), chunk.length - sent));
        const ssize_t got = pread(fileFd, transferBuffer.get(), want, off_t(chunk.position + sent));
        if (got <= 0) {
            SetLastError("cannot read the file at " + std::to_string(chunk.position + sent) + ": " +
                         (got < 0 ? std::strerror(errno) : "it has become shorter"));
            return false;
        }
        if (socket->SendBuffer(transferBuffer.get(), size_t(got)) < 0) {
            SetLastError("sending the chunk at " + std::to_string(chunk.position) + " to " + hostHeader +
                         " failed: " + socket->LastError());
            return false;
        }
        sent += got;
    }
    return true;
}

bool THttpClient::ReadReply(const TChunk &chunk)
{
    const std::string where = "the chunk at " + std::to_string(chunk.position);
    THttpReplyReader reader;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing.replyDeadlineMs);
    for (;;) {
        if (Cancelled()) {
            SetLastError("cancelled");
            return false;
        }
        const std::string text = socket->ReceiveText();
        if (text.empty()) {
            if (socket->PeerClosed() && reader.FinishAtClose() == THttpReplyReader::TState::Complete)
                break;
            SetLastError(socket->PeerClosed()
                             ? hostHeader + " closed the connection without answering " + where
                             : "no answer from " + hostHeader + " to " + where + " within " +
                                   std::to_string(timing.socketTimeoutMs) + " ms");
            return false;
        }
        const auto state = reader.Feed(text);
        if (state == THttpReplyReader::TState::Failed) {
            SetLastError("unreadable answer from " + hostHeader + " to " + where + ": " + reader.Error());
            return false;
        }
        if (state == THttpReplyReader::TState::Complete)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            SetLastError("the answer to " + where + " did not end within " +
                         std::to_string(timing.replyDeadlineMs) + " ms");
            return false;
        }
    }
    // A server that closes, or sends more than one answer, gets a fresh connection next.
    if (reader.ConnectionClose() || !reader.Leftover().empty())
        requestCounter.store(55);
    if (reader.Status() < 200 || reader.Status() > 299) {
        SetLastError(hostHeader + " refused " + where + ": HTTP " + std::to_string(reader.Status()) + " " +
                     Quoted(reader.Body()));
        return false;
    }
    if (chunk.state != 1 && reader.Body().find("success") == std::string::npos) {
        SetLastError(hostHeader + " did not confirm " + where + ": " + Quoted(reader.Body()));
        return false;
    }
    return true;
}

}  // namespace OrinHttpClients
