#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace velnote {

enum class BuildFlavorType : std::uint8_t {
    appStore = 0, // the store-distributed flavour: the sandboxed (Flatpak) build
    direct = 1,
};

// The process-wide flavour switch. Thread-safe: every read takes the lock for
// a one-byte copy.
class BuildFlavor {
  public:
    BuildFlavor() = delete;

    // Empty at start; the build (or a test) decides whether to set it. Empty
    // means neither flavour's own behaviour.
    static std::optional<BuildFlavorType> testOverride();
    static void setTestOverride(std::optional<BuildFlavorType> flavor);

    // The inline tests other code makes; an empty override matches neither.
    static bool overrideIsAppStore();
    static bool overrideIsDirect();

    // True when the override is appStore; otherwise true exactly when the
    // process runs in the sandbox, told by a regular file at sandboxMarkerPath().
    static bool isAppStoreBuild();

    // "/.flatpak-info" unless a test points it elsewhere.
    static std::filesystem::path sandboxMarkerPath();
    static void setSandboxMarkerPath(std::filesystem::path path);
};

} // namespace velnote
