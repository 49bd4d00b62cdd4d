#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Reads one HTTP/1.x response from the bytes of a connection as they arrive: the status line,
// the headers up to the empty line, and the body framed by Content-Length, by chunked
// transfer coding, or by the end of the connection. Interim 1xx replies are skipped. Every
// part is bounded, so a broken or hostile server can neither grow memory nor keep the reader
// waiting for a frame that never ends without the caller's time-out ending it.
class THttpReplyReader {
public:
    enum class TState { NeedMore, Complete, Failed };

    struct TLimits {
        size_t maxHead = 16 * 1024;   // status line and headers of one reply
        size_t maxBody = 64 * 1024;   // decoded body
        int maxInterim = 8;           // 1xx replies before the final one
    };

    THttpReplyReader() = default;
    explicit THttpReplyReader(TLimits limits) : limits(limits) {}

    // Feeds the next bytes; bytes after a complete reply are kept in Leftover().
    TState Feed(std::string_view bytes);
    // The connection ended: completes a body that runs to the end of the connection.
    TState FinishAtClose();

    TState State() const { return state; }
    int Status() const { return status; }
    const std::string &Body() const { return body; }
    bool ConnectionClose() const { return connectionClose; }
    const std::string &Error() const { return error; }
    const std::string &Leftover() const { return leftover; }

private:
    enum class TPhase { Head, LengthBody, ChunkSize, ChunkData, ChunkDataEnd, Trailer, BodyToClose, Done };

    TState Fail(std::string message);
    TState ParseHead(std::string_view head);
    bool TakeLine(std::string &line, size_t maxLength);
    // Moves up to `remaining` pending bytes into the body; true when none remain to come.
    bool TakeBodyBytes();

    TLimits limits;
    TState state = TState::NeedMore;
    TPhase phase = TPhase::Head;
    std::string pending;  // bytes not yet consumed
    std::string body;
    std::string error;
    std::string leftover;
    int status = 0;
    int interimSeen = 0;
    bool connectionClose = false;
    size_t remaining = 0;  // of the body or of the current chunk
};
