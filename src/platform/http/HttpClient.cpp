#include "platform/http/HttpClient.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/http/HttpError.h"
#include "platform/http/HttpUrl.h"

#include <algorithm>
#include <array>
#include <curl/curl.h>
#include <exception>
#include <mutex>

namespace velnote::platform {
namespace {

using Clock = std::chrono::steady_clock;

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct ShareDeleter {
    void operator()(CURLSH* handle) const { curl_share_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
    });
}

bool breaksHeaderLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void append(SlistPtr& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr)
        throw HttpError(HttpError::Code::invalidRequest, "out of memory");
    (void)list.release();
    list.reset(grown);
}

SlistPtr headerList(const HttpRequest& request) {
    SlistPtr list;
    for (const auto& [name, value] : request.headers) {
        if (name.empty() || breaksHeaderLine(name) || breaksHeaderLine(value) ||
            name.find(':') != std::string::npos)
            throw HttpError(HttpError::Code::invalidRequest, "header \"" + name + "\"");
        // libcurl drops a header written "Name:"; "Name;" sends it with an empty value.
        append(list, value.empty() ? name + ";" : name + ": " + value);
    }
    // A large body would otherwise wait for a "100 Continue" that some servers never send.
    append(list, "Expect:");
    return list;
}

HttpError::Code codeFor(CURLcode result) {
    switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return HttpError::Code::badURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return HttpError::Code::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return HttpError::Code::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpError::Code::timedOut;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return HttpError::Code::networkConnectionLost;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return HttpError::Code::secureConnectionFailed;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
        return HttpError::Code::badServerResponse;
    default:
        return HttpError::Code::unknown;
    }
}

// What one transfer's callbacks fill in; lives on the sending thread's stack.
struct Transfer {
    CURL* handle = nullptr;
    std::string body;
    const HttpBodySink* sink = nullptr; // when set, a 2xx body goes here instead
    bool errorBodyCut = false;          // a reply other than 2xx was ended at the size limit
    std::exception_ptr sinkError;
    std::size_t maxBytes = 0;
    bool tooLarge = false;
    curl_off_t downloaded = 0;
    curl_off_t uploaded = 0;
    Clock::time_point lastActivity = Clock::now();
};

bool isSuccess(const Transfer& transfer) {
    long status = 0;
    curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status <= 299;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    transfer->lastActivity = Clock::now();
    if (transfer->sink != nullptr && isSuccess(*transfer)) {
        try {
            (*transfer->sink)(std::string_view(data, bytes));
        } catch (...) {
            transfer->sinkError = std::current_exception();
            return 0; // ends the transfer with CURLE_WRITE_ERROR
        }
        return bytes;
    }
    if (bytes > transfer->maxBytes - transfer->body.size()) {
        // An error page that runs on is not worth more than its beginning.
        if (transfer->sink != nullptr) {
            transfer->body.append(data, transfer->maxBytes - transfer->body.size());
            transfer->errorBodyCut = true;
        } else {
            transfer->tooLarge = true;
        }
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, bytes);
    return bytes;
}

int onProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto* transfer = static_cast<Transfer*>(user);
    if (downloaded != transfer->downloaded || uploaded != transfer->uploaded) {
        transfer->downloaded = downloaded;
        transfer->uploaded = uploaded;
        transfer->lastActivity = Clock::now();
    }
    return 0;
}

// Keeps an easy handle in a multi handle for the length of one transfer.
class Attachment {
  public:
    Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        if (curl_multi_add_handle(multi_, easy_) != CURLM_OK)
            throw HttpError(HttpError::Code::unknown, "curl_multi_add_handle failed");
    }
    ~Attachment() { curl_multi_remove_handle(multi_, easy_); }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

  private:
    CURLM* multi_;
    CURL* easy_;
};

} // namespace

void HttpRequest::setHeader(std::string_view name, std::string_view value) {
    std::erase_if(headers, [&](const auto& header) { return equalsIgnoringAsciiCase(header.first, name); });
    headers.emplace_back(std::string(name), std::string(value));
}

// libcurl's share handle: connections, resolved names and TLS sessions common to every request of
// one client. libcurl calls lock() and unlock() from whichever thread uses the share.
class HttpClient::Shared {
  public:
    Shared() : handle_(curl_share_init()) {
        if (!handle_)
            return;
        curl_share_setopt(handle_.get(), CURLSHOPT_LOCKFUNC, &Shared::lock);
        curl_share_setopt(handle_.get(), CURLSHOPT_UNLOCKFUNC, &Shared::unlock);
        curl_share_setopt(handle_.get(), CURLSHOPT_USERDATA, this);
        curl_share_setopt(handle_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(handle_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(handle_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }

    CURLSH* get() const { return handle_.get(); }

  private:
    static std::mutex& mutexFor(void* user, curl_lock_data data) {
        auto* self = static_cast<Shared*>(user);
        return self->mutexes_[static_cast<std::size_t>(data) % self->mutexes_.size()];
    }
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        mutexFor(user, data).lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* user) { mutexFor(user, data).unlock(); }

    std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes_;
    std::unique_ptr<CURLSH, ShareDeleter> handle_; // last: cleaned up before the mutexes go
};

HttpClient::HttpClient() : HttpClient(Options{}) {}

HttpClient::HttpClient(Options options) : options_(std::move(options)) {
    initCurlOnce();
    shared_ = std::make_unique<Shared>();
}

HttpClient::~HttpClient() = default;

HttpClient& HttpClient::shared() {
    static HttpClient* client = new HttpClient();
    return *client;
}

HttpResponse HttpClient::send(const HttpRequest& request, std::stop_token stop) const {
    return send(request, HttpBodySink(), std::move(stop));
}

HttpResponse HttpClient::send(const HttpRequest& request, const HttpBodySink& sink,
                              std::stop_token stop) const {
    const auto url = parseHttpUrl(request.url);
    if (!url)
        throw HttpError(HttpError::Code::badURL, request.url);
    SlistPtr headers = headerList(request);
    SlistPtr connectTo;
    for (const auto& rule : options_.connectTo)
        append(connectTo, rule);

    EasyPtr easy(curl_easy_init());
    MultiPtr multi(curl_multi_init());
    if (!easy || !multi)
        throw HttpError(HttpError::Code::unknown, "libcurl could not start a transfer");

    Transfer transfer;
    transfer.handle = easy.get();
    transfer.maxBytes = options_.maxResponseBytes;
    if (sink)
        transfer.sink = &sink;
    const auto total = request.totalTimeout.count() > 0 ? request.totalTimeout : options_.totalTimeout;
    const auto idle = request.idleTimeout.count() > 0 ? request.idleTimeout : options_.idleTimeout;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* h = easy.get();
    curl_easy_setopt(h, CURLOPT_URL, url->text.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    if (request.followRedirects) {
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR,
                         url->text.starts_with("https:") ? "https" : "http,https");
    }
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_SHARE, shared_->get());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_CONNECT_TO, connectTo.get());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Velnote/1");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(total.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(idle.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    if (request.method == "GET") {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        if (request.method != "POST")
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    }

    Attachment attachment(multi.get(), h);
    CURLM* m = multi.get();
    std::stop_callback wake(stop, [m] { curl_multi_wakeup(m); });
    transfer.lastActivity = Clock::now();
    for (;;) {
        throwIfCancelled(stop);
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(m, &running); code != CURLM_OK)
            throw HttpError(HttpError::Code::unknown, curl_multi_strerror(code));
        if (running == 0)
            break;
        const auto left = idle - std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                                       transfer.lastActivity);
        if (left.count() <= 0)
            throw HttpError(HttpError::Code::timedOut, "no data for " + std::to_string(idle.count()) + " ms");
        curl_multi_poll(m, nullptr, 0, static_cast<int>(std::min<long long>(left.count(), 1000)), nullptr);
    }

    int pending = 0;
    CURLcode result = CURLE_OK;
    while (CURLMsg* message = curl_multi_info_read(m, &pending)) {
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    }
    if (transfer.sinkError)
        std::rethrow_exception(transfer.sinkError);
    if (transfer.tooLarge)
        throw HttpError(HttpError::Code::dataLengthExceedsMaximum,
                        "more than " + std::to_string(options_.maxResponseBytes) + " bytes");
    if (result != CURLE_OK && !transfer.errorBodyCut)
        throw HttpError(codeFor(result), errorText[0] != '\0' ? errorText : curl_easy_strerror(result));
    HttpResponse response;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(transfer.body);
    return response;
}

} // namespace velnote::platform
