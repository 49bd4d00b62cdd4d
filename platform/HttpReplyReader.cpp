#include "platform/HttpReplyReader.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr size_t MaxChunkLine = 1024;

std::string_view TrimSpaces(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool HasToken(std::string_view list, std::string_view token)
{
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (EqualsIgnoreCase(TrimSpaces(list.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

bool ParseDecimal(std::string_view text, size_t &value)
{
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

THttpReplyReader::TState THttpReplyReader::Fail(std::string message)
{
    error = std::move(message);
    pending.clear();
    state = TState::Failed;
    return state;
}

bool THttpReplyReader::TakeBodyBytes()
{
    const size_t take = std::min(remaining, pending.size());
    body.append(pending, 0, take);
    pending.erase(0, take);
    remaining -= take;
    return remaining == 0;
}

bool THttpReplyReader::TakeLine(std::string &line, size_t maxLength)
{
    const size_t end = pending.find("\r\n");
    if (end == std::string::npos)
        return false;
    if (end > maxLength)
        return false;
    line.assign(pending, 0, end);
    pending.erase(0, end + 2);
    return true;
}

THttpReplyReader::TState THttpReplyReader::ParseHead(std::string_view head)
{
    // Status line: HTTP/1.x SP 3DIGIT [SP reason]
    const size_t lineEnd = head.find("\r\n");
    const std::string_view statusLine = head.substr(0, lineEnd);
    if (statusLine.size() < 12 || statusLine.substr(0, 7) != "HTTP/1." || statusLine[8] != ' ' ||
        (statusLine.size() > 12 && statusLine[12] != ' '))
        return Fail("not an HTTP reply");
    size_t code = 0;
    if (!ParseDecimal(statusLine.substr(9, 3), code) || code < 100)
        return Fail("bad status code in reply");
    status = int(code);
    const bool http10 = statusLine[7] == '0';

    bool haveLength = false, chunked = false;
    size_t length = 0;
    connectionClose = http10;
    std::string_view rest = head.substr(lineEnd + 2);
    while (!rest.empty()) {
        const size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
        if (line.empty())
            break;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return Fail("malformed header line in reply");
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = TrimSpaces(line.substr(colon + 1));
        if (EqualsIgnoreCase(name, "Content-Length")) {
            size_t parsed = 0;
            if (!ParseDecimal(value, parsed) || (haveLength && parsed != length))
                return Fail("bad Content-Length in reply");
            haveLength = true;
            length = parsed;
        } else if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
            if (!EqualsIgnoreCase(value, "chunked"))
                return Fail("unsupported Transfer-Encoding in reply");
            chunked = true;
        } else if (EqualsIgnoreCase(name, "Connection")) {
            if (HasToken(value, "close"))
                connectionClose = true;
            else if (HasToken(value, "keep-alive"))
                connectionClose = false;
        }
    }

    if (status < 200) {
        if (++interimSeen > limits.maxInterim)
            return Fail("too many interim replies");
        return TState::NeedMore;  // the final reply follows
    }
    body.clear();
    if (status == 204 || status == 304) {
        phase = TPhase::Done;
    } else if (chunked) {
        phase = TPhase::ChunkSize;
    } else if (haveLength) {
        if (length > limits.maxBody)
            return Fail("reply body of " + std::to_string(length) + " bytes is too large");
        remaining = length;
        phase = length == 0 ? TPhase::Done : TPhase::LengthBody;
    } else {
        connectionClose = true;
        phase = TPhase::BodyToClose;
    }
    return TState::NeedMore;
}

THttpReplyReader::TState THttpReplyReader::Feed(std::string_view bytes)
{
    if (state != TState::NeedMore) {
        if (state == TState::Complete && leftover.size() + bytes.size() <= limits.maxHead)
            leftover.append(bytes);
        return state;
    }
    pending.append(bytes);
    for (;;) {
        switch (phase) {
        case TPhase::Head: {
            const size_t end = pending.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (pending.size() > limits.maxHead)
                    return Fail("reply head too large");
                return state;
            }
            if (end + 4 > limits.maxHead)
                return Fail("reply head too large");
            const std::string head = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            if (ParseHead(head) == TState::Failed)
                return state;
            break;
        }
        case TPhase::LengthBody:
            if (!TakeBodyBytes())
                return state;
            phase = TPhase::Done;
            break;
        case TPhase::ChunkSize: {
            std::string line;
            if (!TakeLine(line, MaxChunkLine)) {
                if (pending.size() > MaxChunkLine)
                    return Fail("chunk size line too long");
                return state;
            }
            const std::string_view digits = TrimSpaces(std::string_view(line).substr(0, line.find(';')));
            size_t size = 0;
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size, 16);
            if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
                return Fail("bad chunk size in reply");
            if (size > limits.maxBody - body.size())
                return Fail("chunked reply body too large");
            remaining = size;
            phase = size == 0 ? TPhase::Trailer : TPhase::ChunkData;
            break;
        }
        case TPhase::ChunkData:
            if (!TakeBodyBytes())
                return state;
            phase = TPhase::ChunkDataEnd;
            break;
        case TPhase::ChunkDataEnd:
            if (pending.size() < 2)
                return state;
            if (pending.compare(0, 2, "\r\n") != 0)
                return Fail("chunk not followed by CR LF");
            pending.erase(0, 2);
            phase = TPhase::ChunkSize;
            break;
        case TPhase::Trailer: {
            std::string line;
            if (!TakeLine(line, limits.maxHead)) {
                if (pending.size() > limits.maxHead)
                    return Fail("reply trailer too large");
                return state;
            }
            if (line.empty())
                phase = TPhase::Done;
            break;
        }
        case TPhase::BodyToClose:
            if (body.size() + pending.size() > limits.maxBody)
                return Fail("reply body too large");
            body.append(pending);
            pending.clear();
            return state;
        case TPhase::Done:
            leftover = std::move(pending);
            pending.clear();
            state = TState::Complete;
            return state;
        }
    }
}

THttpReplyReader::TState THttpReplyReader::FinishAtClose()
{
    if (state != TState::NeedMore)
        return state;
    if (phase == TPhase::BodyToClose) {
        state = TState::Complete;
        return state;
    }
    return Fail(phase == TPhase::Head && pending.empty() && status == 0
                    ? "connection closed without a reply"
                    : "connection closed in the middle of the reply");
}
