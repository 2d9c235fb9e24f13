#include "session/folder/SummaryVersionStore.h"

#include "platform/fs/Files.h"
#include "platform/json/IsoDate.h"
#include "platform/text/Uuid.h"
#include "session/VelnoteLogger.h"

#include <algorithm>

namespace velnote {
namespace fs = std::filesystem;
using platform::Json;

namespace {

const char* const kSummary = "summary.md";
const char* const kRunConfig = "summary_config.json";
const char* const kVersions = "summary_versions";
// A run configuration is a few hundred bytes; a larger file is damaged.
constexpr std::size_t kMaxRunConfigBytes = 1024 * 1024;

bool entryExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// `wanted` when free, else the first free "<base>_<n><ext>" for n = 2...999,
// else "<base>_<UUID><ext>".
fs::path uniqueURL(const fs::path& wanted) {
    if (!entryExists(wanted))
        return wanted;
    const fs::path folder = wanted.parent_path();
    const std::string base = wanted.stem().string();
    const std::string ext = wanted.extension().string();
    for (int n = 2; n <= 999; ++n) {
        fs::path candidate = folder / (base + "_" + std::to_string(n) + ext);
        if (!entryExists(candidate))
            return candidate;
    }
    return folder / (base + "_" + platform::Uuid::random().toString() + ext);
}

SummaryVersion::Time toVersionTime(platform::FileTime time) {
    return std::chrono::time_point_cast<std::chrono::microseconds>(time);
}

SummaryVersion::Time modificationTimeOr(const fs::path& file) {
    if (const auto modified = platform::modificationDate(file))
        return toVersionTime(*modified);
    VelnoteLogger::app().error("SummaryVersionStore: failed to get attributes of {}: {}",
                               file.filename().string(), "cannot examine the file");
    return SummaryVersion::kDistantPast;
}

std::optional<SummaryRunConfig> loadRunConfig(const fs::path& file) {
    if (!entryExists(file))
        return std::nullopt;
    std::string bytes;
    try {
        bytes = platform::readRegularFile(file, kMaxRunConfigBytes);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("SummaryVersionStore: failed to read config {}: {}",
                                   file.filename().string(), e.what());
        return std::nullopt;
    }
    try {
        return platform::decode<SummaryRunConfig>(platform::parseJson(bytes));
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("SummaryVersionStore: failed to decode config {}: {}",
                                   file.filename().string(), e.what());
        return std::nullopt;
    }
}

} // namespace

std::string SummaryVersionStore::archiveStamp(std::chrono::system_clock::time_point time) {
    std::string stamp = platform::formatIsoDate(time);
    std::replace(stamp.begin(), stamp.end(), ':', '-');
    return stamp;
}

std::optional<std::chrono::sys_seconds> SummaryVersionStore::parseArchiveStamp(std::string_view name) {
    // "2025-01-31T09-15-00Z": the ISO form with "-" for ":" and always "Z".
    if (name.size() != 20 || name[13] != '-' || name[16] != '-' || name.back() != 'Z')
        return std::nullopt;
    std::string iso(name);
    iso[13] = ':';
    iso[16] = ':';
    return platform::parseIsoDate(iso);
}

void SummaryVersionStore::archiveCurrent(const fs::path& sessionDir, const platform::Clock& clock) {
    const fs::path summary = sessionDir / kSummary;
    if (!entryExists(summary))
        return;
    const fs::path versions = sessionDir / kVersions;
    platform::createDirectories(versions);
    const fs::path target = uniqueURL(versions / (archiveStamp(clock.wallNow()) + ".md"));
    fs::copy_file(summary, target, fs::copy_options::none);

    const fs::path runConfig = sessionDir / kRunConfig;
    if (!entryExists(runConfig))
        return;
    std::error_code ec;
    fs::copy_file(runConfig, fs::path(target).replace_extension(".json"), fs::copy_options::none, ec);
    if (ec)
        VelnoteLogger::app().error("SummaryVersionStore: failed to archive config: {}", ec.message());
}

std::vector<SummaryVersion> SummaryVersionStore::allVersions(const fs::path& sessionDir) {
    std::vector<SummaryVersion> result;
    const fs::path summary = sessionDir / kSummary;
    if (entryExists(summary)) {
        result.push_back(
            {summary, modificationTimeOr(summary), true, loadRunConfig(sessionDir / kRunConfig)});
    }
    const fs::path versions = sessionDir / kVersions;
    if (!entryExists(versions))
        return result;

    std::vector<SummaryVersion> archived;
    std::error_code ec;
    for (const auto& file : platform::listDirectory(versions, platform::HiddenEntries::skip, ec)) {
        if (file.extension() != ".md")
            continue;
        const std::string base = file.stem().string();
        const auto stamped = parseArchiveStamp(base);
        archived.push_back({file, stamped ? SummaryVersion::Time(*stamped) : modificationTimeOr(file), false,
                            loadRunConfig(versions / (base + ".json"))});
    }
    if (ec) {
        VelnoteLogger::app().error("SummaryVersionStore: failed to list versions directory: {}",
                                   ec.message());
        return result;
    }
    std::stable_sort(archived.begin(), archived.end(), [](const SummaryVersion& a, const SummaryVersion& b) {
        return a.createdAt > b.createdAt;
    });
    result.insert(result.end(), archived.begin(), archived.end());
    return result;
}

void SummaryVersionStore::saveRunConfig(const SummaryRunConfig& config, const fs::path& sessionDir) {
    try {
        platform::writeFileAtomically(sessionDir / kRunConfig, platform::toCompactJson(Json(config)));
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("SummaryVersionStore: failed to save run config: {}", e.what());
    }
}

} // namespace velnote
