#include "ui/models/core/AboutContent.h"

#include "session/VelnoteLogger.h"
#include "session/folder/SessionBuildInfo.h"
#include "session/l10n/L10n.h"
#include "ui/models/core/AboutVersions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <system_error>

namespace velnote::AboutContent {
namespace fs = std::filesystem;
namespace {

std::optional<fs::path> existing(const fs::path& path) {
    std::error_code ignored;
    if (fs::exists(path, ignored))
        return path;
    return std::nullopt;
}

std::optional<fs::path> firstExisting(const fs::path& resources, const fs::path& relative) {
    if (auto top = existing(resources / relative))
        return top;
    return existing(resources / "Resources" / relative);
}

// A version CMake did not find reads "unknown".
std::string orUnknown(std::string_view version) {
    return version.empty() || version == " ()" ? std::string("unknown") : std::string(version);
}

std::string describe(std::string_view key, std::string_view english) {
    return L10n::localized(key, english);
}

constexpr const char* kWhisperLicense = "https://github.com/openai/whisper/blob/main/LICENSE";

ModelInfo whisper(const char* size, const char* key, const char* english) {
    const std::string name = std::string("whisper-") + size;
    return ModelInfo{.name = "Whisper " + std::string(size),
                     .version = "openai_whisper-" + std::string(size),
                     .distributionLicense = "MIT",
                     .distributionLicenseURL = kWhisperLicense,
                     .upstreamLicense = "MIT",
                     .upstreamLicenseURL = kWhisperLicense,
                     .url = "https://huggingface.co/openai/" + name,
                     .description = describe(key, english),
                     .note = "Transcription"};
}

} // namespace

std::string appVersion(const std::optional<std::string>& shortVersion,
                       const std::optional<std::string>& buildNumber) {
    return shortVersion.value_or("unknown") + " (build " + buildNumber.value_or("unknown") + ")";
}

std::string appVersion() {
    const SessionBuildInfo build = SessionBuildInfo::current();
    return appVersion(build.version, build.buildNumber);
}

std::string buildDate(const std::optional<fs::path>& executable) {
    const std::string unknown = L10n::localized("L10n.Common.unknown", "Unknown");
    if (!executable)
        return unknown;
    struct stat st {};
    if (::stat(executable->c_str(), &st) != 0) {
        const std::error_code error(errno, std::generic_category());
        VelnoteLogger::app().error("AboutView: failed to get executable attributes: {}", error.message());
        return unknown;
    }
    std::tm local{};
    if (::localtime_r(&st.st_mtim.tv_sec, &local) == nullptr)
        return unknown;
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        return unknown;
    return text;
}

std::optional<fs::path> executablePath() {
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return std::nullopt;
    return exe;
}

Notices locateNotices(const fs::path& resources) {
    return Notices{
        .thirdPartyNotices = firstExisting(resources, "THIRD_PARTY_NOTICES.md"),
        .licensesFolder = firstExisting(resources, "THIRD_PARTY_LICENSES"),
        .modelNotices = firstExisting(resources, fs::path("THIRD_PARTY_LICENSES") / "MODEL_NOTICES.txt"),
    };
}

std::optional<fs::path> resourcesDirectory() {
    if (const char* dir = std::getenv("VELNOTE_RESOURCES_DIR"); dir != nullptr && *dir != '\0')
        return existing(dir);
    if (auto built = existing(AboutVersions::buildResources))
        return built;
    if (const auto exe = executablePath())
        return existing((exe->parent_path() / ".." / "share" / "velnote").lexically_normal());
    return std::nullopt;
}

std::vector<DependencyInfo> directDependencies() {
    return {
        DependencyInfo{
            .name = "ggml",
            .version = orUnknown(AboutVersions::ggml),
            .license = "MIT",
            .licenseURL = "https://github.com/ggml-org/ggml/blob/master/LICENSE",
            .url = "https://github.com/ggml-org/ggml",
            .description =
                describe("L10n.About.ggmlDescription",
                         "Tensor library on which the on-device speech engine and the speaker diarization "
                         "engine run their networks on the CPU."),
            .note = "Vocalith, Diarith and their model runtime Basalith compute with it",
        },
        DependencyInfo{
            .name = "llama.cpp",
            .version = orUnknown(AboutVersions::llama),
            .license = "MIT",
            .licenseURL = "https://github.com/ggml-org/llama.cpp/blob/master/LICENSE",
            .url = "https://github.com/ggml-org/llama.cpp",
            .description = describe("L10n.About.llamaCppDescription",
                                    "Runs the local GGUF summary models through its C interface."),
            .note = "libllama, built from the source bundled in the node-llama-cpp npm package",
        },
    };
}

std::vector<DependencyInfo> bundledJsLibraries() {
    return {DependencyInfo{
        .name = "Mermaid",
        .version = "11.17.2",
        .license = "MIT",
        .licenseURL = "https://github.com/mermaid-js/mermaid/blob/develop/LICENSE",
        .url = "https://mermaid.js.org",
        .description = describe("L10n.About.mermaidDescription",
                                "Draws the diagrams of summaries in the Markdown preview."),
        .note = "mermaid.min.js in the application's resources",
    }};
}

std::vector<DependencyInfo> transitiveDependencies() {
    const auto row = [](const char* name, const std::string& version, const char* license,
                        const char* licenseURL, const char* url, const char* key, const char* english) {
        return DependencyInfo{.name = name,
                              .version = version,
                              .license = license,
                              .licenseURL = licenseURL,
                              .url = url,
                              .description = describe(key, english),
                              .note = std::nullopt};
    };
    return {
        row("JSON for Modern C++", orUnknown(AboutVersions::nlohmannJson), "MIT",
            "https://github.com/nlohmann/json/blob/develop/LICENSE.MIT", "https://github.com/nlohmann/json",
            "L10n.About.jsonDescription",
            "Reads and writes every JSON file, the model hub's configuration included."),
        row("libcurl", orUnknown(AboutVersions::curl), "curl", "https://curl.se/docs/copyright.html",
            "https://curl.se", "L10n.About.curlDescription",
            "Downloads models from the model hub and talks to the remote services."),
        row("OpenSSL", orUnknown(AboutVersions::openssl), "Apache-2.0",
            "https://www.openssl.org/source/license.html", "https://www.openssl.org",
            "L10n.About.opensslDescription", "Encrypts libcurl's connections."),
        row("ICU", orUnknown(AboutVersions::icu), "Unicode-3.0",
            "https://github.com/unicode-org/icu/blob/main/LICENSE", "https://icu.unicode.org",
            "L10n.About.icuDescription",
            "Unicode text handling: normalisation, case mapping, regular expressions, dates."),
        row("zlib", orUnknown(AboutVersions::zlib), "Zlib", "https://zlib.net/zlib_license.html",
            "https://zlib.net", "L10n.About.zlibDescription", "Compresses and decompresses data."),
        row("libsndfile", orUnknown(AboutVersions::sndfile), "LGPL-2.1-or-later",
            "https://github.com/libsndfile/libsndfile/blob/master/COPYING",
            "https://libsndfile.github.io/libsndfile/", "L10n.About.sndfileDescription",
            "Reads and writes the audio chunks."),
        row("libsoxr", orUnknown(AboutVersions::soxr), "LGPL-2.1-or-later",
            "https://sourceforge.net/p/soxr/code/ci/master/tree/COPYING.LGPL",
            "https://sourceforge.net/projects/soxr/", "L10n.About.soxrDescription",
            "Resamples audio to the 16 kHz the speech engine expects."),
    };
}

std::vector<ModelInfo> transcriptionModels() {
    return {
        whisper("tiny", "L10n.About.whisperTinyDescription", "Smallest and fastest; for quick drafts."),
        whisper("base", "L10n.About.whisperBaseDescription", "Small and fast, with fair accuracy."),
        whisper("small", "L10n.About.whisperSmallDescription", "Balanced speed and accuracy."),
        whisper("medium", "L10n.About.whisperMediumDescription", "More accurate, slower."),
        whisper("large-v3", "L10n.About.whisperLargeDescription", "Most accurate, slowest and largest."),
    };
}

std::vector<ModelInfo> summarizationModels() {
    const auto qwen = [](const char* name, const char* version, const char* license, const char* licenseURL,
                         const char* url, const char* key, const char* english) {
        return ModelInfo{.name = name,
                         .version = version,
                         .distributionLicense = license,
                         .distributionLicenseURL = licenseURL,
                         .upstreamLicense = license,
                         .upstreamLicenseURL = licenseURL,
                         .url = url,
                         .description = describe(key, english),
                         .note = "Summary"};
    };
    return {
        qwen("Qwen2.5 3B Instruct", "Q4_K_M GGUF", "Qwen Research License",
             "https://huggingface.co/Qwen/Qwen2.5-3B-Instruct/blob/main/LICENSE",
             "https://huggingface.co/bartowski/Qwen2.5-3B-Instruct-GGUF", "L10n.About.qwen3bDescription",
             "Small local summary model for machines with little memory."),
        qwen("Qwen2.5 7B Instruct", "Q4_K_M GGUF", "Apache-2.0",
             "https://huggingface.co/Qwen/Qwen2.5-7B-Instruct/blob/main/LICENSE",
             "https://huggingface.co/bartowski/Qwen2.5-7B-Instruct-GGUF", "L10n.About.qwen7bDescription",
             "The default local summary model."),
        qwen("Qwen3 8B", "Q4_K_M GGUF", "Apache-2.0",
             "https://huggingface.co/Qwen/Qwen3-8B/blob/main/LICENSE",
             "https://huggingface.co/Qwen/Qwen3-8B-GGUF", "L10n.About.qwen3Description",
             "Larger local summary model for detailed summaries."),
    };
}

std::vector<ModelInfo> diarizationModels() {
    return {ModelInfo{
        .name = "Diarith speaker diarization",
        .version = "community-1",
        .distributionLicense = "CC-BY-4.0",
        .distributionLicenseURL = "https://creativecommons.org/licenses/by/4.0/",
        .upstreamLicense = "CC-BY-4.0",
        .upstreamLicenseURL = "https://huggingface.co/pyannote/speaker-diarization-community-1",
        .url = "https://huggingface.co/pyannote/speaker-diarization-community-1",
        .description =
            describe("L10n.About.diarizationDescription",
                     "Segmentation, speaker embedding and clustering models that tell speakers apart."),
        .note = "Diarization",
    }};
}

bool isLinkAddress(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == 0 || colon == std::string::npos || colon + 1 == text.size())
        return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f)
            return false;
    }
    return true;
}

} // namespace velnote::AboutContent
