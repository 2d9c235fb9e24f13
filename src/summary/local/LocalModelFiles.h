#pragma once

#include "platform/http/HttpClient.h"
#include "summary/core/SummaryRequests.h"

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// Turns a local model id ("qwen2.5-7b-instruct-mlx-4bit") into a GGUF file on disk: a custom path
// the user gave, the model folders, two older folders whose files are copied over, or a download
// from the model hub. A file enters the persistent folder only whole: copied or downloaded to a
// temporary name beside it, then renamed; a download must start with the GGUF magic.
namespace velnote::LlamaSummarizationPipeline {

// Where models are looked for and fetched from.
struct LocalModelStore {
    std::optional<std::filesystem::path> persistent; // stored, copied and downloaded here
    std::optional<std::filesystem::path> cache;      // searched only
    std::vector<std::filesystem::path> legacy;       // searched and copied from, in this order
    std::string hubBaseURL;                          // the model hub, without a trailing "/"
    const platform::HttpClient* http = nullptr;      // nullptr: platform::HttpClient::shared()

    // "Models" in the application's data and cache folders (absent when they cannot be located),
    // "Documents/Velnote/models" and ".cache/Velnote/models" in the home folder, the public hub.
    static LocalModelStore standard();
};

// The model file for `model`: the trimmed custom path when a file exists there; else the first
// accepted file name in the persistent folder, then the cache folder; else a legacy file copied
// into the persistent folder; else a download. Throws NativeSummarizationError
// (storageDirectoryUnavailable, noModelSpec, modelDownloadFailed, modelNotFound),
// std::filesystem::filesystem_error or std::system_error for a file that cannot be made,
// platform::HttpError for a transfer without a complete reply, and platform::CancellationError.
std::filesystem::path resolveModelPath(const std::string& model, const std::optional<std::string>& customPath,
                                       std::stop_token stop = {},
                                       const LocalModelStore& store = LocalModelStore::standard());

// The downloadable file of a known model id (exact, case-sensitive); std::nullopt for any other.
std::optional<ModelSpec> modelSpec(const std::string& model, const std::string& hubBaseURL);

// The file names accepted for `model`, in the order they are tried; an unknown id gets those of
// "qwen2.5-7b-instruct-mlx-4bit".
std::vector<std::string> candidateModelFileNames(const std::string& model);

// Copies `legacyFile` into `directory` (created when missing) under its own name unless a file of
// that name is there already; returns the file in `directory`. The legacy file stays.
std::filesystem::path migrateLegacyModelIfNeeded(const std::filesystem::path& legacyFile,
                                                 const std::filesystem::path& directory);

// The model's file in `directory`, downloaded when missing.
std::filesystem::path downloadModelIfNeeded(const std::string& model, const std::filesystem::path& directory,
                                            std::stop_token stop, const LocalModelStore& store);

} // namespace velnote::LlamaSummarizationPipeline
