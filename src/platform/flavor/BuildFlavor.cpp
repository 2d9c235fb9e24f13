#include "platform/flavor/BuildFlavor.h"

#include <mutex>
#include <system_error>

namespace velnote {
namespace {

struct State {
    std::mutex mutex;
    std::optional<BuildFlavorType> override;
    std::filesystem::path marker = "/.flatpak-info";
};

State& state() {
    static State instance;
    return instance;
}

} // namespace

std::optional<BuildFlavorType> BuildFlavor::testOverride() {
    std::lock_guard lock(state().mutex);
    return state().override;
}

void BuildFlavor::setTestOverride(std::optional<BuildFlavorType> flavor) {
    std::lock_guard lock(state().mutex);
    state().override = flavor;
}

bool BuildFlavor::overrideIsAppStore() {
    return testOverride() == BuildFlavorType::appStore;
}

bool BuildFlavor::overrideIsDirect() {
    return testOverride() == BuildFlavorType::direct;
}

bool BuildFlavor::isAppStoreBuild() {
    if (overrideIsAppStore())
        return true;
    std::error_code ignored;
    return std::filesystem::is_regular_file(sandboxMarkerPath(), ignored);
}

std::filesystem::path BuildFlavor::sandboxMarkerPath() {
    std::lock_guard lock(state().mutex);
    return state().marker;
}

void BuildFlavor::setSandboxMarkerPath(std::filesystem::path path) {
    std::lock_guard lock(state().mutex);
    state().marker = std::move(path);
}

} // namespace velnote
