#pragma once

#include "app/Errors.h"

#include <chrono>
#include <string>
#include <stop_token>
#include <vector>

// A request that did not produce a successful reply: no connection, a time-out, a stop
// request, a reply status outside 2xx, or a reply too large to keep. The message is readable
// as it stands (it is shown after "登陆失败：" and similar texts).
class EHttpError : public TAppError {
public:
    using TAppError::TAppError;
};

struct THttpOptions {
    // Longest time without a byte moving, also while connecting. A slow but steady reply
    // never times out.
    std::chrono::milliseconds inactivityLimit{30000};
    bool followRedirects = false;
    // Keeps cookies a reply sets for the requests that follow its redirects.
    bool cookieEngine = false;
    bool forceHttp11 = false;
    std::vector<std::string> extraHeaders;  // "Name: value"
    std::stop_token stop;                   // aborts the transfer within about a second
};

// One HTTP or HTTPS request at a time, blocking the calling thread. Usable from any thread;
// no signals are involved.
class TWebClient {
public:
    explicit TWebClient(THttpOptions options);

    // The reply body of a successful request; throws EHttpError otherwise.
    std::string Get(const std::string &url);
    // POSTs `body` as application/x-www-form-urlencoded.
    std::string PostForm(const std::string &url, const std::string &body);
    // POSTs a multipart form with one file part (the file's own name as its file name).
    std::string PostFile(const std::string &url, const std::string &fieldName,
                         const std::string &filePath, const std::string &contentType);

    // The largest reply body kept; a larger one fails the request.
    static constexpr size_t MaxReplyBytes = 8u << 20;

private:
    THttpOptions options;
};
