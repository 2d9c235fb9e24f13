#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velnote::platform {

struct HttpRequest {
    std::string method = "GET";
    std::string url; // an absolute http or https URL
    // Sent in this order. libcurl adds Host, Content-Length and Accept when they are missing.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body; // sent as is; any bytes
    // The longest time with no data moving, connecting included. Zero: the client's own limit.
    std::chrono::milliseconds idleTimeout{0};
    // The longest whole exchange. Zero: the client's own limit.
    std::chrono::milliseconds totalTimeout{0};
    // Follows up to 10 redirects, to http or https only (https only from an https URL).
    bool followRedirects = false;

    // Sets `name` to `value`, replacing every earlier header of that name (in any letter case).
    void setHeader(std::string_view name, std::string_view value);
};

// Receives a reply body piece by piece, in order. An exception it throws ends the request and is
// passed on to the caller.
using HttpBodySink = std::function<void(std::string_view piece)>;

struct HttpResponse {
    long status = 0;  // the HTTP status code of the final reply
    std::string body; // the whole body, any bytes
};

// Sends HTTP requests over libcurl; one instance serves any number of threads at once and they
// share its connections, resolved names and TLS sessions, so calls to one host reuse a
// connection. Redirects are followed only when a request asks, and only http and https are spoken.
//
// A call blocks its thread until the whole reply is in, a limit passes or `stop` is requested;
// a stop ends the transfer within milliseconds.
class HttpClient {
  public:
    struct Options {
        // No data moving for this long ends a request, unless the request sets its own.
        std::chrono::milliseconds idleTimeout{std::chrono::seconds(120)};
        // One whole exchange, connecting to the last byte.
        std::chrono::milliseconds totalTimeout{std::chrono::seconds(300)};
        // A reply body longer than this ends the request with dataLengthExceedsMaximum.
        std::size_t maxResponseBytes = std::size_t{64} << 20;
        // Host names reached at another address, in libcurl's connect-to form
        // "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT", where an empty part matches any:
        // "openrouter.test::127.0.0.1:" sends every request for openrouter.test to the
        // loopback address on the URL's own port. Tests use it; the application leaves it empty.
        std::vector<std::string> connectTo;
    };

    HttpClient();
    explicit HttpClient(Options options);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The process-wide client with the default options, created on first use.
    static HttpClient& shared();

    // The reply, whatever its status. Throws HttpError when no complete reply arrives (bad URL,
    // transport failure, time-out, oversized body) and CancellationError when `stop` was
    // requested before the reply was complete.
    HttpResponse send(const HttpRequest& request, std::stop_token stop = {}) const;
    // The same, with the body of a 2xx reply handed to `sink` as it arrives instead of kept (the
    // response's body stays empty, and no size limit applies): for files too large to hold in
    // memory. Any other reply keeps its body, cut at the size limit, and ends there.
    HttpResponse send(const HttpRequest& request, const HttpBodySink& sink, std::stop_token stop = {}) const;

    const Options& options() const { return options_; }

  private:
    class Shared;

    Options options_;
    std::unique_ptr<Shared> shared_; // libcurl's share handle with its locks
};

} // namespace velnote::platform
