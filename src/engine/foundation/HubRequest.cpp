#include "engine/foundation/HubRequest.h"

#include "engine/foundation/HubError.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <mutex>

namespace basalith {
namespace {

constexpr long kConnectTimeout_s = 30;
// The longest single wait for the network; the idle limit is checked at least this often.
constexpr std::chrono::milliseconds kLongestPoll{1000};

struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};

std::string_view trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string lowered(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return lower;
}

// A whole non-negative decimal number; anything else (sign, spaces, overflow) is none.
std::optional<std::int64_t> wholeNumber(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

// "bytes <first>-<last>/<total or *>".
void parseContentRange(std::string_view value, AnswerHeaders& answer) {
    constexpr std::string_view unit = "bytes ";
    const auto dash = value.find('-');
    const auto slash = value.find('/');
    if (lowered(value.substr(0, unit.size())) != unit || dash == std::string_view::npos ||
        slash == std::string_view::npos || slash < dash) {
        return;
    }
    answer.rangeFirst = wholeNumber(trimmed(value.substr(unit.size(), dash - unit.size())));
    answer.rangeTotal = wholeNumber(trimmed(value.substr(slash + 1)));
}

} // namespace

HubRequest::HubRequest(std::string url, const std::optional<std::string>& token) : url_(std::move(url)) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    curl_.reset(curl_easy_init());
    if (!curl_)
        throw HubError(HubError::Kind::network, "cannot create an HTTP handle");
    if (token)
        addHeader("Authorization: Bearer " + *token);
    CURL* curl = curl_.get();
    curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeout_s);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "basalith/1");
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &HubRequest::receiveHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &HubRequest::receiveBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &HubRequest::reportProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
}

void HubRequest::addHeader(const std::string& line) {
    curl_slist* appended = curl_slist_append(headers_.get(), line.c_str());
    if (appended == nullptr)
        throw HubError(HubError::Kind::network, "cannot build the request for " + url_);
    headers_.release();
    headers_.reset(appended);
    curl_easy_setopt(curl_.get(), CURLOPT_HTTPHEADER, headers_.get());
}

void HubRequest::setRange(std::int64_t first, const std::string& validator) {
    range_ = std::to_string(first) + "-";
    curl_easy_setopt(curl_.get(), CURLOPT_RANGE, range_.c_str());
    if (!validator.empty())
        addHeader("If-Range: " + validator);
}

size_t HubRequest::receiveHeader(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<HubRequest*>(self);
    ++request->activity_;
    request->parseHeaderLine(std::string_view(data, size * count));
    return size * count;
}

void HubRequest::parseHeaderLine(std::string_view line) {
    line = trimmed(line);
    if (line.substr(0, 5) == "HTTP/") {
        // A new answer begins: a redirect's headers must not leak into the final answer's.
        answer_ = {};
        answer_.httpMajor = line.size() > 5 && line[5] >= '2' && line[5] <= '9' ? line[5] - '0' : 1;
        const auto space = line.find(' ');
        if (space != std::string_view::npos)
            answer_.status = static_cast<long>(wholeNumber(line.substr(space + 1, 3)).value_or(0));
        return;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string name = lowered(trimmed(line.substr(0, colon)));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (name == "content-length") {
        answer_.contentLength = wholeNumber(value);
    } else if (name == "transfer-encoding") {
        answer_.chunked = lowered(value).find("chunked") != std::string::npos;
    } else if (name == "content-range") {
        parseContentRange(value, answer_);
    } else if (name == "etag") {
        answer_.etag = value;
    } else if (name == "last-modified") {
        answer_.lastModified = value;
    }
}

void HubRequest::deliverHeaders() {
    if (delivered_)
        return;
    delivered_ = true;
    if (answer_.httpMajor < 2 && !answer_.contentLength && !answer_.chunked) {
        throw HubError(HubError::Kind::invalidResponse, "answer without a length from " + url_);
    }
    if (onHeaders)
        onHeaders(answer_);
}

size_t HubRequest::receiveBody(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<HubRequest*>(self);
    ++request->activity_;
    try {
        request->deliverHeaders();
        if (request->onBody)
            request->onBody(std::string_view(data, size * count));
    } catch (...) {
        request->failure_ = std::current_exception();
        return 0; // not the count given: libcurl ends the transfer with a write error
    }
    return size * count;
}

int HubRequest::reportProgress(void* self, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* request = static_cast<HubRequest*>(self);
    if (!request->delivered_ || !request->onProgress)
        return 0;
    try {
        request->onProgress(now, total > 0 ? total : -1);
    } catch (...) {
        request->failure_ = std::current_exception();
        return 1; // ends the transfer
    }
    return 0;
}

// Drives the transfer through a multi handle so that a stop request can wake the wait at once
// (curl_multi_wakeup) and the idle limit is measured by this loop.
CURLcode HubRequest::perform(const TransferLimits& limits) {
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), curl_.get()) != CURLM_OK)
        throw HubError(HubError::Kind::network, "cannot start the transfer of " + url_);
    struct Detach {
        CURLM* multi;
        CURL* easy;
        ~Detach() { curl_multi_remove_handle(multi, easy); }
    } detach{multi.get(), curl_.get()};
    std::stop_callback wake(limits.stop, [handle = multi.get()] { curl_multi_wakeup(handle); });

    using Clock = std::chrono::steady_clock;
    auto lastActivity = Clock::now();
    std::uint64_t seen = activity_;
    for (;;) {
        if (limits.stop.stop_requested())
            throw HubError(HubError::Kind::cancelled, "stopped while fetching " + url_);
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            throw HubError(HubError::Kind::network, "transfer failed for " + url_);
        if (running == 0)
            break;
        const auto now = Clock::now();
        if (activity_ != seen) {
            seen = activity_;
            lastActivity = now;
        }
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastActivity);
        if (idle >= limits.idleLimit) {
            throw HubError(HubError::Kind::network,
                           "no data for " + std::to_string(limits.idleLimit.count()) + " ms from " + url_);
        }
        const auto wait = std::clamp(limits.idleLimit - idle, std::chrono::milliseconds(1), kLongestPoll);
        curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE)
            return message->data.result;
    }
    throw HubError(HubError::Kind::network, "transfer ended without a result for " + url_);
}

void HubRequest::run(const TransferLimits& limits) {
    const CURLcode code = perform(limits);
    if (failure_)
        std::rethrow_exception(failure_);
    if (code == CURLE_HTTP_RETURNED_ERROR) {
        long status = 0;
        curl_easy_getinfo(curl_.get(), CURLINFO_RESPONSE_CODE, &status);
        throw HubError(HubError::Kind::httpStatus, "HTTP " + std::to_string(status) + " for " + url_, status);
    }
    if (code != CURLE_OK)
        throw HubError(HubError::Kind::network, std::string(curl_easy_strerror(code)) + " for " + url_);
    deliverHeaders();
}

} // namespace basalith
