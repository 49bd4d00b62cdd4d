// The pieces of the upload that are pure text: names, keys, chunk plan, request bytes, the
// address split and the reading of replies.

#include "platform/HttpReplyReader.h"
#include "platform/OrinHttpClients.h"
#include "platform/UrlEncode.h"

#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

using namespace OrinHttpClients;

TEST(UrlEncode, EncodesBytesOutsideThePassingSet)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"课 1", "%E8%AF%BE+1"},
        {"a_b_c.mp4", "a_b_c.mp4"},
        {"*@._-$!'()", "*@._-$!'()"},
        {"a&b=c+d%e/f?g#h~", "a%26b%3Dc%2Bd%25e%2Ff%3Fg%23h%7E"},
        {std::string("\x00\x7f\xff", 3), "%00%7F%FF"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UrlEncode(c.in), c.out) << c.in;
}

TEST(CleanUploadName, CutsAndReplacesAsTheServerExpects)
{
    const std::string n59(59, 'n'), n60(60, 'n'), n70(70, 'n');
    const struct {
        std::string path, name;
    } cases[] = {
        {"/videos/a b'c.mp4", "a_b_c.mp4"},
        {"/v/x\\y\u3000z.mp4", "x_y_z.mp4"},
        {"/v/" + n70 + ".mp4", n60 + ".mp4"},
        {"/v/" + n70, n60},
        {"/v/" + n60 + ".mp4", n60 + ".mp4"},
        {"relative.mp4", "relative.mp4"},
        // Lengths count UTF-16 units; a character beyond U+FFFF across the cut is left out whole.
        {"/v/" + n59 + "\U0001F600tail.mp4", n59 + ".mp4"},
        {"/v/" + std::string(58, 'n') + "\U0001F600tail.mp4", std::string(58, 'n') + "\U0001F600.mp4"},
        {"/v/" + std::string(65, 'n') + "\u8bfe.mp4", n60 + ".mp4"},
        {"/v/课程 一.mp4", "课程_一.mp4"},
    };
    for (const auto &c : cases) {
        const std::string cleaned = CleanUploadName(c.path);
        EXPECT_EQ(cleaned, c.name) << c.path;
        EXPECT_EQ(QString::fromUtf8(cleaned.data(), qsizetype(cleaned.size())).toUtf8().toStdString(), cleaned)
            << "valid UTF-8";
    }
    EXPECT_EQ(UrlEncode(CleanUploadName("/v/课.mp4")), "%E8%AF%BE.mp4");
}

TEST(RandomKey, UsesTheAlphabetAndNeverRepeats)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRLSTUVWXYZ123456789";
    std::set<std::string> keys;
    std::set<char> seen;
    for (int i = 0; i < 2000; ++i) {  // far more than fit in one millisecond
        const std::string key = RandomKey();
        ASSERT_EQ(key.size(), 32u);
        for (char c : key) {
            ASSERT_NE(alphabet.find(c), std::string::npos) << key;
            seen.insert(c);
        }
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), 2000u);
    EXPECT_EQ(seen.count('0'), 0u);
    EXPECT_EQ(seen.size(), 35u);  // every distinct character of the alphabet shows up
}

TEST(ChunkPlan, MatchesTheServletProtocol)
{
    constexpr int64_t M = ChunkSize;
    const struct {
        int64_t size;
        std::vector<std::tuple<int, int64_t, int64_t>> requests;
    } cases[] = {
        {0, {{-1, 0, 0}, {1, 0, 0}}},
        {1048575, {{-1, 0, 1048575}, {1, 1048575, 0}}},
        {M, {{-1, 0, M}, {1, M, 0}}},
        {2097152, {{-1, 0, M}, {0, M, M}, {1, 2 * M, 0}}},
        {3 * M + 10, {{-1, 0, M}, {0, M, M}, {0, 2 * M, M}, {1, 3 * M, 10}}},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(ChunkCount(c.size), int64_t(c.requests.size())) << c.size;
        for (size_t i = 0; i < c.requests.size(); ++i) {
            const TChunk chunk = ChunkAt(c.size, int64_t(i));
            EXPECT_EQ(std::make_tuple(chunk.state, chunk.position, chunk.length), c.requests[i])
                << "size " << c.size << " request " << i;
        }
    }
}

TEST(RequestBytes, HeadPartHeaderAndClosingLine)
{
    const std::string stamp = "121126093015042";
    const std::string part = PartHeader(stamp);
    const std::string closing = ClosingLine(stamp);
    EXPECT_EQ(part,
              "----------121126093015042\r\nContent-Disposition: form-data; name=\"file1\"; "
              "filename=\"C:\\Users\\Administrator\\Desktop\\xxxxxxxxxxxxxxx.avi\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n");
    EXPECT_EQ(part.size() + closing.size(), 209u);
    EXPECT_EQ(closing, "\r\n----------121126093015042--\r\n");
    const std::string target = RequestTarget("/servlet/SingleUpload", {1, 3145728, 10}, "KEYa_b.mp4", 3145738);
    EXPECT_EQ(target, "/servlet/SingleUpload?FileSize=10&FileName=KEYa_b.mp4&UploadState=1&Pos=3145728"
                      "&FileFinalSize=3145738");
    EXPECT_EQ(RequestHead(target, stamp, 219, "h:80", "K"),
              "POST " + target +
                  " HTTP/1.1\r\nConnection: keep-alive\r\nContent-Type: multipart/form-data; "
                  "boundary=--------121126093015042\r\nContent-Length: 219\r\nHost: h:80\r\n"
                  "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; MSIE 5.0)\r\n"
                  "Cookie: JSESSIONID=K; PrivateKey=c4e1b8a2d7f03e9b5a6c1d2f8e0b7a95\r\n\r\n");
}

TEST(UploadStamp, IsMonthDayYearTimeWithMilliseconds)
{
    setenv("TZ", "UTC", 1);
    tzset();
    // 2026-01-02 03:04:05.006 UTC
    const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1767323045006LL));
    EXPECT_EQ(UploadStamp(when), "010226030405006");
}

TEST(SplitUploadUrl, KeepsPathAndQueryDropsPort)
{
    const struct {
        std::string url;
        bool ok;
        std::string host;
        int port;
        std::string path;
    } cases[] = {
        {"http://10.0.0.5:8080/servlet/SingleUpload", true, "10.0.0.5", 8080, "/servlet/SingleUpload"},
        {"http://school.example/a/b?x=1", true, "school.example", 80, "/a/b?x=1"},
        {"HTTP://h", true, "h", 80, "/"},
        {"https://h/servlet", false, "", 0, ""},
        {"h/servlet", false, "", 0, ""},
        {"http://:80/x", false, "", 0, ""},
        {"http://h:0/x", false, "", 0, ""},
        {"http://h:70000/x", false, "", 0, ""},
        {"http://h/a b", false, "", 0, ""},
        {"http://h/a\r\nX: y", false, "", 0, ""},
        {"http://h/" + std::string(600, 'p'), false, "", 0, ""},
    };
    for (const auto &c : cases) {
        TUploadUrl parts;
        std::string error;
        ASSERT_EQ(SplitUploadUrl(c.url, parts, error), c.ok) << c.url;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(parts.host, c.host);
        EXPECT_EQ(parts.port, c.port);
        EXPECT_EQ(parts.path, c.path);
    }
}

namespace {
using TState = THttpReplyReader::TState;

// Feeds the text in pieces of the given size; returns the reader after the last piece (and
// the connection's end when atClose).
THttpReplyReader ReadInPieces(const std::string &text, size_t piece, bool atClose = false)
{
    THttpReplyReader reader;
    for (size_t at = 0; at < text.size(); at += piece)
        reader.Feed(std::string_view(text).substr(at, piece));
    if (atClose)
        reader.FinishAtClose();
    return reader;
}
}  // namespace

TEST(HttpReplyReader, FramesRepliesHoweverTheyAreSplit)
{
    const struct {
        const char *name;
        std::string text;
        bool atClose;
        int status;
        std::string body;
        bool close;
    } cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nsuccess", false, 200, "success", false},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nsuc\r\n4\r\ncess\r\n0\r\nT: 1\r\n\r\n",
         false, 200, "success", false},
        {"interim first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\ncontent-length: 2\r\n\r\nok", false, 201,
         "ok", false},
        {"to close", "HTTP/1.0 200 OK\r\n\r\nsuccess at close", true, 200, "success at close", true},
        {"connection close", "HTTP/1.1 500 Oops\r\nConnection: close\r\nContent-Length: 4\r\n\r\nfail", false, 500,
         "fail", true},
        {"no reason", "HTTP/1.1 204\r\n\r\n", false, 204, "", false},
    };
    for (const auto &c : cases) {
        for (size_t piece : {size_t(1), size_t(3), size_t(10), c.text.size()}) {
            const THttpReplyReader reader = ReadInPieces(c.text, piece, c.atClose);
            ASSERT_EQ(reader.State(), TState::Complete) << c.name << " in pieces of " << piece << ": " << reader.Error();
            EXPECT_EQ(reader.Status(), c.status) << c.name;
            EXPECT_EQ(reader.Body(), c.body) << c.name;
            EXPECT_EQ(reader.ConnectionClose(), c.close) << c.name;
        }
    }
}

TEST(HttpReplyReader, RefusesBrokenAndOversizedReplies)
{
    const struct {
        const char *name;
        std::string text;
        bool atClose;
    } cases[] = {
        {"not http", "success\r\n\r\n", false},
        {"bad status", "HTTP/1.1 2x0 OK\r\n\r\n", false},
        {"bad length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false},
        {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", false},
        {"body too large", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n", false},
        {"endless head", "HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'a'), false},
        {"chunk too large", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\n", false},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false},
        {"endless interim", [] {
             std::string s;
             for (int i = 0; i < 20; ++i)
                 s += "HTTP/1.1 100 Continue\r\n\r\n";
             return s;
         }(), false},
        {"closed early", "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nsucc", true},
        {"closed silent", "", true},
        {"unbounded to close", "HTTP/1.0 200 OK\r\n\r\n" + std::string(70000, 'x'), false},
    };
    for (const auto &c : cases) {
        const THttpReplyReader reader = ReadInPieces(c.text, 7, c.atClose);
        EXPECT_EQ(reader.State(), TState::Failed) << c.name;
        EXPECT_FALSE(reader.Error().empty()) << c.name;
    }
}

TEST(HttpReplyReader, KeepsBytesAfterTheReplyApart)
{
    THttpReplyReader reader;
    EXPECT_EQ(reader.Feed("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nsuccessHTTP/1.1 200"), TState::Complete);
    EXPECT_EQ(reader.Body(), "success");
    EXPECT_EQ(reader.Leftover(), "HTTP/1.1 200");
}
