#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace basalith {

// Base address of the public model hub, used when an engine is given no endpoint.
inline constexpr const char* kDefaultHubEndpoint = "https://huggingface.co";
// How long a hub transfer may go without receiving a byte before it fails.
inline constexpr std::chrono::milliseconds kDefaultIdleLimit{60'000};

// Where one engine's models come from. Never changes once built.
struct ModelDownloadConfig {
    // Root of the local hub cache; absent = the hub client's default (HubClient::defaultDownloadBase).
    std::optional<std::string> downloadBase{};
    // Repository on the hub, "owner/name".
    std::string modelRepo{};
    // Access token for the hub; absent = none sent.
    std::optional<std::string> modelToken{};
    // A local folder that already holds the models; when set, nothing is downloaded.
    std::optional<std::string> modelFolder{};
    // Kept for callers that ask for it; transfers here always run in the calling process.
    bool useBackgroundSession = false;
    // Base address of the hub, e.g. "http://127.0.0.1:8080" in tests.
    std::string endpoint = kDefaultHubEndpoint;
    // Branch, tag or commit used for every listing and download.
    std::string revision = "main";
    // A hub transfer that receives no byte for this long fails.
    std::chrono::milliseconds idleLimit = kDefaultIdleLimit;
};

} // namespace basalith
