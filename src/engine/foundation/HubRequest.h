#pragma once

#include <chrono>
#include <cstdint>
#include <curl/curl.h>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace basalith {

// What ends a transfer early.
struct TransferLimits {
    std::chrono::milliseconds idleLimit{60'000}; // no byte (header or body) for this long = stalled
    std::stop_token stop;                        // a stop request ends the transfer at once
};

// The headers of the final answer, after every redirect.
struct AnswerHeaders {
    int httpMajor = 1; // 1 for HTTP/1.x, 2 for HTTP/2 and later
    long status = 0;
    std::optional<std::int64_t> contentLength;
    bool chunked = false;
    // "Content-Range: bytes <first>-<last>/<total>"; rangeTotal absent for a total of "*".
    std::optional<std::int64_t> rangeFirst;
    std::optional<std::int64_t> rangeTotal;
    std::string etag;
    std::string lastModified;
};

// One GET of the hub client over libcurl, under the rules every hub transfer follows: http and https
// only, at most kMaxRedirects redirects, an error status fails, and a body needs a known end (a
// length, a chunked end, or the end of an HTTP/2 stream): over HTTP/1 a body that ends with the
// connection cannot be told from one cut short. A transfer ends when the idle limit passes without a
// byte or when stop is requested.
//
// The answer's headers reach onHeaders before its first body byte (or at the end for an empty body),
// its body reaches onBody; either may throw HubError to refuse the answer, which ends the transfer.
// onProgress hears the body bytes so far and the body's length (-1 when unknown). All three run on
// the calling thread, inside run(). Internal to the hub client.
class HubRequest {
  public:
    static constexpr long kMaxRedirects = 10;

    HubRequest(std::string url, const std::optional<std::string>& token);
    HubRequest(const HubRequest&) = delete;
    HubRequest& operator=(const HubRequest&) = delete;

    // Asks for the bytes from `first` on. With a `validator` (an ETag or a date) the hub sends them
    // only if the file still has it, else the whole file with 200 (If-Range).
    void setRange(std::int64_t first, const std::string& validator);

    std::function<void(const AnswerHeaders&)> onHeaders;
    std::function<void(std::string_view)> onBody;
    std::function<void(std::int64_t received, std::int64_t total)> onProgress;

    // Runs the transfer to its end. Throws HubError: network (also for the idle limit), httpStatus,
    // invalidResponse, cancelled, or whatever a callback threw.
    void run(const TransferLimits& limits);

    const std::string& url() const { return url_; }

  private:
    struct CurlDeleter {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    struct SlistDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

    static size_t receiveHeader(char* data, size_t size, size_t count, void* self);
    static size_t receiveBody(char* data, size_t size, size_t count, void* self);
    static int reportProgress(void* self, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t);
    void parseHeaderLine(std::string_view line);
    void deliverHeaders();
    void addHeader(const std::string& line);
    CURLcode perform(const TransferLimits& limits);

    std::string url_;
    std::unique_ptr<CURL, CurlDeleter> curl_;
    std::unique_ptr<curl_slist, SlistDeleter> headers_;
    std::string range_;
    AnswerHeaders answer_;
    bool delivered_ = false;
    std::uint64_t activity_ = 0; // bumped by every header line and body chunk
    std::exception_ptr failure_; // what a callback threw
};

} // namespace basalith
