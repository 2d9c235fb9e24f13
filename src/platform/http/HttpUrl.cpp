#include "platform/http/HttpUrl.h"

#include <curl/curl.h>
#include <memory>

namespace velnote::platform {
namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
    void operator()(char* text) const { curl_free(text); }
};

std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* raw = nullptr;
    if (curl_url_get(url, which, &raw, 0) != CURLUE_OK)
        return std::nullopt;
    std::unique_ptr<char, CurlTextDeleter> owned(raw);
    return std::string(raw);
}

bool hasControlCharacter(std::string_view text) {
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

} // namespace

std::optional<HttpUrl> parseHttpUrl(std::string_view text) {
    // libcurl reads a C string: a NUL byte would silently cut the URL short.
    if (hasControlCharacter(text))
        return std::nullopt;
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url)
        return std::nullopt;
    const std::string copy(text);
    if (curl_url_set(url.get(), CURLUPART_URL, copy.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    auto scheme = part(url.get(), CURLUPART_SCHEME);
    auto host = part(url.get(), CURLUPART_HOST);
    auto normalised = part(url.get(), CURLUPART_URL);
    if (!scheme || !host || !normalised || host->empty())
        return std::nullopt;
    if (*scheme != "http" && *scheme != "https")
        return std::nullopt;
    return HttpUrl{.text = std::move(*normalised), .scheme = std::move(*scheme), .host = std::move(*host)};
}

} // namespace velnote::platform
