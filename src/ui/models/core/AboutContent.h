#pragma once

#include "platform/text/Uuid.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What the About window shows, computed anew each time the window builds its content: the
// version, the build date, where the licence notices are, and the tables of the libraries and
// models the application ships or downloads. No Qt; any thread.
namespace velnote::AboutContent {

// One library row.
struct DependencyInfo {
    platform::Uuid id = platform::Uuid::random();
    std::string name;
    std::string version;
    std::string license;
    std::string licenseURL; // shown as a link only when it parses as a URL
    std::string url;        // the project's page, likewise
    std::string description;
    std::optional<std::string> note; // an empty note shows like none
};

// One model row (the About window's own type, unrelated to the model store's ModelInfo).
struct ModelInfo {
    platform::Uuid id = platform::Uuid::random();
    std::string name;
    std::string version;
    std::string distributionLicense;
    std::string distributionLicenseURL;
    std::string upstreamLicense;
    std::string upstreamLicenseURL;
    std::string url;
    std::string description;
    std::optional<std::string> note;
};

// "<short version> (build <build number>)", "unknown" standing for a value that is missing.
std::string appVersion(const std::optional<std::string>& shortVersion,
                       const std::optional<std::string>& buildNumber);
// The running application's.
std::string appVersion();

// The modification date of `executable` as "yyyy-MM-dd HH:mm:ss" in the local time zone; the
// localized "Unknown" without an executable or when its attributes cannot be read (logged as
// "AboutView: failed to get executable attributes: ...").
std::string buildDate(const std::optional<std::filesystem::path>& executable);
// This process's executable, from /proc/self/exe; none when it cannot be read.
std::optional<std::filesystem::path> executablePath();

// The three licence notices inside a resources folder; each none when absent.
struct Notices {
    std::optional<std::filesystem::path> thirdPartyNotices; // THIRD_PARTY_NOTICES.md
    std::optional<std::filesystem::path> licensesFolder;    // THIRD_PARTY_LICENSES/
    std::optional<std::filesystem::path> modelNotices;      // THIRD_PARTY_LICENSES/MODEL_NOTICES.txt
};
// Each notice at the top of `resources`, else under its "Resources" sub-folder.
Notices locateNotices(const std::filesystem::path& resources);
// The resources folder of this installation: $VELNOTE_RESOURCES_DIR when set, else the build's
// generated resources, else <executable folder>/../share/velnote; none when none exists.
std::optional<std::filesystem::path> resourcesDirectory();

// The six tables, descriptions in the interface language.
std::vector<DependencyInfo> directDependencies();
std::vector<DependencyInfo> bundledJsLibraries();
std::vector<DependencyInfo> transitiveDependencies();
std::vector<ModelInfo> transcriptionModels();
std::vector<ModelInfo> summarizationModels();
std::vector<ModelInfo> diarizationModels();

// Whether a link text is an address the window can open (a scheme and something after it).
bool isLinkAddress(const std::string& text);

} // namespace velnote::AboutContent
