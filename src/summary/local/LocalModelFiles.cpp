#include "summary/local/LocalModelFiles.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/fs/AppFolders.h"
#include "platform/fs/Files.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "summary/core/NativeSummarizationError.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace velnote::LlamaSummarizationPipeline {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kModelHubURL = "https://huggingface.co";
constexpr std::string_view kGgufMagic = "GGUF";
// A request's idle limit; the whole transfer of several gigabytes may take much longer.
constexpr std::chrono::hours kDownloadIdleTimeout(1);
constexpr std::chrono::hours kDownloadTotalTimeout(24 * 7);

struct KnownModel {
    std::string_view id;
    std::string_view fileName;
    std::string_view publisher;
    std::string_view repository;
};

constexpr std::array kKnownModels{
    KnownModel{"qwen2.5-3b-instruct-mlx-4bit", "Qwen2.5-3B-Instruct-Q4_K_M.gguf", "bartowski",
               "Qwen2.5-3B-Instruct-GGUF"},
    KnownModel{"qwen3-8b-instruct-mlx-4bit", "Qwen3-8B-Q4_K_M.gguf", "Qwen", "Qwen3-8B-GGUF"},
    KnownModel{"qwen2.5-7b-instruct-mlx-4bit", "Qwen2.5-7B-Instruct-Q4_K_M.gguf", "bartowski",
               "Qwen2.5-7B-Instruct-GGUF"},
    KnownModel{"llama3-8b-instruct-mlx-4bit", "Meta-Llama-3-8B-Instruct-Q4_K_M.gguf", "bartowski",
               "Meta-Llama-3-8B-Instruct-GGUF"},
};

bool isFile(const fs::path& path) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

// Copies `source` to `destination` through a temporary file beside it, so that a copy cut short
// never stands at `destination`.
void copyWhole(const fs::path& source, const fs::path& destination) {
    platform::FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        throw std::system_error(errno, std::generic_category(), "open " + source.string());
    platform::AtomicFileWriter out(destination);
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::system_error(errno, std::generic_category(), "read " + source.string());
        if (n == 0)
            break;
        out.write(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }
    out.commit();
}

const platform::HttpClient& clientOf(const LocalModelStore& store) {
    return store.http != nullptr ? *store.http : platform::HttpClient::shared();
}

} // namespace

LocalModelStore LocalModelStore::standard() {
    LocalModelStore store;
    if (auto support = platform::applicationSupportDirectory())
        store.persistent = *support / "Models";
    if (auto caches = platform::cachesDirectory())
        store.cache = *caches / "Models";
    if (auto home = platform::homeDirectory()) {
        store.legacy.push_back(*home / "Documents" / "Velnote" / "models");
        store.legacy.push_back(*home / ".cache" / "Velnote" / "models");
    }
    store.hubBaseURL = std::string(kModelHubURL);
    return store;
}

std::optional<ModelSpec> modelSpec(const std::string& model, const std::string& hubBaseURL) {
    for (const KnownModel& known : kKnownModels) {
        if (known.id == model)
            return ModelSpec{.id = model,
                             .fileName = std::string(known.fileName),
                             .downloadURL = hubBaseURL + "/" + std::string(known.publisher) + "/" +
                                            std::string(known.repository) + "/resolve/main/" +
                                            std::string(known.fileName) + "?download=true"};
    }
    return std::nullopt;
}

std::vector<std::string> candidateModelFileNames(const std::string& model) {
    if (model == "qwen2.5-3b-instruct-mlx-4bit")
        return {"qwen2.5-3b-instruct-q4_k_m.gguf", "Qwen2.5-3B-Instruct-Q4_K_M.gguf",
                "qwen2.5-3b-instruct.gguf"};
    if (model == "qwen3-8b-instruct-mlx-4bit")
        return {"qwen3-8b-instruct-q4_k_m.gguf", "Qwen3-8B-Q4_K_M.gguf", "qwen3-8b-instruct.gguf"};
    if (model == "llama3-8b-instruct-mlx-4bit")
        return {"meta-llama-3-8b-instruct-q4_k_m.gguf", "Meta-Llama-3-8B-Instruct-Q4_K_M.gguf",
                "llama3-8b-instruct.gguf"};
    return {"qwen2.5-7b-instruct-q4_k_m.gguf", "Qwen2.5-7B-Instruct-Q4_K_M.gguf", "qwen2.5-7b-instruct.gguf"};
}

fs::path resolveModelPath(const std::string& model, const std::optional<std::string>& customPath,
                          std::stop_token stop, const LocalModelStore& store) {
    if (customPath) {
        const std::string trimmed = platform::trimWhitespace(*customPath);
        if (!trimmed.empty() && isFile(trimmed))
            return trimmed;
    }
    if (!store.persistent || !store.cache)
        throw NativeSummarizationError::storageDirectoryUnavailable();
    const std::vector<std::string> names = candidateModelFileNames(model);
    for (const fs::path& folder : {*store.persistent, *store.cache}) {
        for (const std::string& name : names) {
            if (isFile(folder / name))
                return folder / name;
        }
    }
    for (const fs::path& folder : store.legacy) {
        for (const std::string& name : names) {
            if (isFile(folder / name))
                return migrateLegacyModelIfNeeded(folder / name, *store.persistent);
        }
    }
    platform::throwIfCancelled(stop);
    const fs::path downloaded = downloadModelIfNeeded(model, *store.persistent, stop, store);
    if (isFile(downloaded))
        return downloaded;
    std::vector<std::string> searched;
    std::vector<fs::path> folders{*store.persistent, *store.cache};
    folders.insert(folders.end(), store.legacy.begin(), store.legacy.end());
    for (const fs::path& folder : folders) {
        for (const std::string& name : names)
            searched.push_back((folder / name).string());
    }
    throw NativeSummarizationError::modelNotFound(model, std::move(searched));
}

fs::path migrateLegacyModelIfNeeded(const fs::path& legacyFile, const fs::path& directory) {
    platform::createDirectories(directory);
    const fs::path destination = directory / legacyFile.filename();
    std::error_code error;
    if (!fs::exists(fs::symlink_status(destination, error))) {
        VelnoteLogger::summarize().info("migrating legacy model from={} to={}", legacyFile.string(),
                                        destination.string());
        copyWhole(legacyFile, destination);
    }
    return destination;
}

fs::path downloadModelIfNeeded(const std::string& model, const fs::path& directory, std::stop_token stop,
                               const LocalModelStore& store) {
    const std::optional<ModelSpec> spec = modelSpec(model, store.hubBaseURL);
    if (!spec)
        throw NativeSummarizationError::noModelSpec(model);
    const fs::path destination = directory / spec->fileName;
    if (isFile(destination))
        return destination;
    platform::createDirectories(directory);
    VelnoteLogger::summarize().info("model not found, downloading id={} to={}", model, destination.string());

    platform::HttpRequest request;
    request.url = spec->downloadURL;
    request.idleTimeout = kDownloadIdleTimeout;
    request.totalTimeout = kDownloadTotalTimeout;
    request.followRedirects = true;
    platform::AtomicFileWriter file(destination);
    std::string head; // the first bytes, for the GGUF magic
    // A hub that answers 200 with a web page (a sign-in or error page) must not become the model,
    // nor be written on for as long as it runs.
    const auto notAModel = [&] {
        return NativeSummarizationError::modelDownloadFailed(model, "not a GGUF file");
    };
    const platform::HttpResponse response = clientOf(store).send(
        request,
        [&](std::string_view piece) {
            if (head.size() < kGgufMagic.size()) {
                head.append(piece.substr(0, kGgufMagic.size() - head.size()));
                if (!kGgufMagic.starts_with(head))
                    throw notAModel();
            }
            file.write(piece);
        },
        stop);
    if (response.status <= 0)
        throw NativeSummarizationError::modelDownloadFailed(model, "invalid HTTP response");
    if (response.status < 200 || response.status > 299)
        throw NativeSummarizationError::modelDownloadFailed(model,
                                                            "status=" + std::to_string(response.status));
    if (head != kGgufMagic)
        throw notAModel();
    file.commit();
    VelnoteLogger::summarize().info("model downloaded path={}", destination.string());
    return destination;
}

} // namespace velnote::LlamaSummarizationPipeline
