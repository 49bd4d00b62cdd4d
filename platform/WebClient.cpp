#include "platform/WebClient.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {
using Clock = std::chrono::steady_clock;
using CurlHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using MimeForm = std::unique_ptr<curl_mime, decltype(&curl_mime_free)>;

// The state of one transfer, shared with libcurl's callbacks.
struct Transfer {
    explicit Transfer(const THttpOptions &options) : options(options) {}

    const THttpOptions &options;
    std::string body;
    bool tooLarge = false;
    bool timedOut = false;
    bool stopped = false;
    curl_off_t lastDown = -1;
    curl_off_t lastUp = -1;
    Clock::time_point lastActivity = Clock::now();
};

size_t KeepBody(char *data, size_t size, size_t count, void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    const size_t bytes = size * count;
    if (transfer->body.size() + bytes > TWebClient::MaxReplyBytes) {
        transfer->tooLarge = true;
        return 0;
    }
    transfer->body.append(data, bytes);
    transfer->lastActivity = Clock::now();
    return bytes;
}

// Called about once a second even while nothing moves: the place to notice a stop request
// and a stalled peer.
int WatchTransfer(void *user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
{
    auto *transfer = static_cast<Transfer *>(user);
    if (transfer->options.stop.stop_requested()) {
        transfer->stopped = true;
        return 1;
    }
    const auto now = Clock::now();
    if (downloaded != transfer->lastDown || uploaded != transfer->lastUp) {
        transfer->lastDown = downloaded;
        transfer->lastUp = uploaded;
        transfer->lastActivity = now;
    } else if (now - transfer->lastActivity > transfer->options.inactivityLimit) {
        transfer->timedOut = true;
        return 1;
    }
    return 0;
}

CurlHandle NewHandle()
{
    // Safe from any thread with this libcurl (7.84 and later); done once before the first use.
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CurlHandle curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        throw EHttpError(QStringLiteral("Cannot create an HTTP request"));
    return curl;
}

HeaderList Headers(const THttpOptions &options)
{
    HeaderList list(nullptr, &curl_slist_free_all);
    // Send bodies at once instead of waiting for a "100 Continue" some servers never send.
    std::vector<std::string> lines{"Expect:"};
    lines.insert(lines.end(), options.extraHeaders.begin(), options.extraHeaders.end());
    for (const std::string &line : lines) {
        curl_slist *longer = curl_slist_append(list.get(), line.c_str());
        if (!longer)
            throw EHttpError(QStringLiteral("Out of memory for HTTP headers"));
        list.release();
        list.reset(longer);
    }
    return list;
}

QString FailureText(CURLcode code, const Transfer &transfer, const char *detail)
{
    if (transfer.stopped)
        return QStringLiteral("Request cancelled");
    if (transfer.timedOut || code == CURLE_OPERATION_TIMEDOUT)
        return QStringLiteral("Read timed out after %1 ms")
            .arg(transfer.options.inactivityLimit.count());
    if (transfer.tooLarge)
        return QStringLiteral("Reply larger than %1 bytes").arg(TWebClient::MaxReplyBytes);
    return QString::fromUtf8(*detail ? detail : curl_easy_strerror(code));
}

std::string Perform(CURL *curl, const THttpOptions &options, const std::string &url)
{
    Transfer transfer(options);
    char detail[CURL_ERROR_SIZE] = {};
    const HeaderList headers = Headers(options);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, options.followRedirects ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    if (options.cookieEngine)
        curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    if (options.forceHttp11)
        curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tellwick/" STUDIOCAST_VERSION);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(options.inactivityLimit.count()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &KeepBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &WatchTransfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);

    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK)
        throw EHttpError(FailureText(code, transfer, detail));
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        throw EHttpError(QStringLiteral("HTTP %1").arg(status));
    return std::move(transfer.body);
}
}  // namespace

TWebClient::TWebClient(THttpOptions options) : options(std::move(options)) {}

std::string TWebClient::Get(const std::string &url)
{
    const CurlHandle curl = NewHandle();
    return Perform(curl.get(), options, url);
}

std::string TWebClient::PostForm(const std::string &url, const std::string &body)
{
    const CurlHandle curl = NewHandle();
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl.get(), CURLOPT_COPYPOSTFIELDS, body.c_str());
    return Perform(curl.get(), options, url);
}

std::string TWebClient::PostFile(const std::string &url, const std::string &fieldName,
                                  const std::string &filePath, const std::string &contentType)
{
    const CurlHandle curl = NewHandle();
    const MimeForm form(curl_mime_init(curl.get()), &curl_mime_free);
    curl_mimepart *part = form ? curl_mime_addpart(form.get()) : nullptr;
    if (!part)
        throw EHttpError(QStringLiteral("Cannot build a multipart form"));
    curl_mime_name(part, fieldName.c_str());
    if (curl_mime_filedata(part, filePath.c_str()) != CURLE_OK)
        throw EHttpError(QStringLiteral("Cannot read %1").arg(QString::fromStdString(filePath)));
    curl_mime_type(part, contentType.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_MIMEPOST, form.get());
    return Perform(curl.get(), options, url);
}
