#include "engine/speech/models/ModelSupport.h"

#include "engine/foundation/Helpers.h"
#include "engine/foundation/Logging.h"
#include "engine/speech/Constants.h"

#include <algorithm>
#include <set>

namespace vocalith {

using basalith::Logging;
using velnote::platform::optional;
using velnote::platform::required;

ModelSupport::ModelSupport(std::string defaultModel, std::vector<std::string> supported,
                           std::vector<std::string> disabled)
    : disabled(std::move(disabled)), default_(std::move(defaultModel)), supported_(std::move(supported)) {}

template <class J> void to_json(J& json, const ModelSupport& support) {
    J object = J::object();
    object["default"] = support.defaultModel();
    object["supported"] = support.supported();
    json = std::move(object);
}
template void to_json<Json>(Json&, const ModelSupport&);
template void to_json<OrderedJson>(OrderedJson&, const ModelSupport&);

ModelSupport modelSupportFromJson(const Json& json) {
    return ModelSupport(required<std::string>(json, "default"),
                        required<std::vector<std::string>>(json, "supported"));
}

DeviceSupport::DeviceSupport(std::optional<std::string> chips, std::vector<std::string> identifiers,
                             ModelSupport models)
    : models(std::move(models)), chips_(std::move(chips)), identifiers_(std::move(identifiers)) {}

template <class J> void to_json(J& json, const DeviceSupport& device) {
    J object = J::object();
    if (device.chips())
        object["chips"] = *device.chips();
    object["identifiers"] = device.identifiers();
    object["models"] = device.models;
    json = std::move(object);
}
template void to_json<Json>(Json&, const DeviceSupport&);
template void to_json<OrderedJson>(OrderedJson&, const DeviceSupport&);

DeviceSupport deviceSupportFromJson(const Json& json) {
    return DeviceSupport(optional<std::string>(json, "chips"),
                         required<std::vector<std::string>>(json, "identifiers"),
                         required<ModelSupport>(json, "models"));
}

namespace {

bool sharesIdentifier(const DeviceSupport& a, const DeviceSupport& b) {
    return std::any_of(a.identifiers().begin(), a.identifiers().end(), [&b](const std::string& identifier) {
        return std::find(b.identifiers().begin(), b.identifiers().end(), identifier) != b.identifiers().end();
    });
}

// Remote rows first, each completed by the first built-in row it shares an identifier with; then
// the built-in rows for devices the remote table does not mention.
std::vector<DeviceSupport> mergeDeviceSupport(const std::vector<DeviceSupport>& remote,
                                              const std::vector<DeviceSupport>& fallback) {
    std::set<std::string> remoteIdentifiers;
    for (const auto& row : remote)
        remoteIdentifiers.insert(row.identifiers().begin(), row.identifiers().end());

    std::vector<DeviceSupport> merged;
    for (const auto& row : remote) {
        const auto match =
            std::find_if(fallback.begin(), fallback.end(),
                         [&row](const DeviceSupport& candidate) { return sharesIdentifier(row, candidate); });
        if (match == fallback.end()) {
            merged.push_back(row);
            continue;
        }
        auto supported = row.models.supported();
        supported.insert(supported.end(), match->models.supported().begin(), match->models.supported().end());
        merged.emplace_back(row.chips(), row.identifiers(),
                            ModelSupport(row.models.defaultModel(), basalith::orderedSet(supported)));
    }
    for (const auto& row : fallback) {
        const bool mentioned =
            std::any_of(row.identifiers().begin(), row.identifiers().end(),
                        [&](const std::string& id) { return remoteIdentifiers.contains(id); });
        if (!mentioned)
            merged.push_back(row);
    }
    return merged;
}

std::vector<std::string> supportedByAnyRow(const std::vector<DeviceSupport>& rows) {
    std::vector<std::string> all;
    for (const auto& row : rows)
        all.insert(all.end(), row.models.supported().begin(), row.models.supported().end());
    return basalith::orderedSet(all);
}

std::string bracketedList(const std::vector<std::string>& texts) {
    std::string list = "[";
    for (std::size_t i = 0; i < texts.size(); ++i)
        list += (i == 0 ? "\"" : ", \"") + texts[i] + "\"";
    return list + "]";
}

} // namespace

ModelSupportConfig::ModelSupportConfig(std::string repoName, std::string repoVersion,
                                       std::vector<DeviceSupport> rows, IncludeFallback includeFallback)
    : repoName_(std::move(repoName)), repoVersion_(std::move(repoVersion)),
      defaultSupport_(std::nullopt, {}, ModelSupport("openai_whisper-base", {})) {
    if (includeFallback == IncludeFallback::yes) {
        const auto& builtIn = Constants::fallbackModelSupportConfig();
        if (builtIn.repoName().find(repoName_) != std::string::npos)
            rows = mergeDeviceSupport(rows, builtIn.deviceSupports);
    }
    deviceSupports = std::move(rows);
    knownModels_ = supportedByAnyRow(deviceSupports);
    defaultSupport_ = DeviceSupport(std::nullopt, {}, ModelSupport("openai_whisper-base", knownModels_));
    for (auto& row : deviceSupports) {
        const auto& supported = row.models.supported();
        row.models.disabled.clear();
        for (const auto& name : knownModels_) {
            if (std::find(supported.begin(), supported.end(), name) == supported.end())
                row.models.disabled.push_back(name);
        }
    }
}

ModelSupport ModelSupportConfig::modelSupport(const std::string& identifier) const {
    const DeviceSupport* best = nullptr;
    std::size_t bestLength = 0;
    for (const auto& row : deviceSupports) {
        for (const auto& prefix : row.identifiers()) {
            if (identifier.starts_with(prefix) && (best == nullptr || prefix.size() > bestLength)) {
                best = &row;
                bestLength = prefix.size();
            }
        }
    }
    if (best == nullptr) {
        Logging::info("No device support found for " + identifier + ", using default");
        return defaultSupport_.models;
    }
    Logging::debug("Matched " + identifier + " to devices: " + bracketedList(best->identifiers()));
    return best->models;
}

template <class J> void to_json(J& json, const ModelSupportConfig& config) {
    J object = J::object();
    object["name"] = config.repoName();
    object["version"] = config.repoVersion();
    J rows = J::array();
    for (const auto& row : config.deviceSupports)
        rows.push_back(row);
    object["device_support"] = std::move(rows);
    json = std::move(object);
}
template void to_json<Json>(Json&, const ModelSupportConfig&);
template void to_json<OrderedJson>(OrderedJson&, const ModelSupportConfig&);

ModelSupportConfig modelSupportConfigFromJson(const Json& json) {
    return ModelSupportConfig(required<std::string>(json, "name"), required<std::string>(json, "version"),
                              required<std::vector<DeviceSupport>>(json, "device_support"));
}

ModelSupport modelSupport(const std::string& identifier, const std::optional<ModelSupportConfig>& config) {
    return config ? config->modelSupport(identifier)
                  : Constants::fallbackModelSupportConfig().modelSupport(identifier);
}

std::pair<std::string, std::vector<std::string>>
defaultAndDisabledModels(const std::string& identifier, const std::optional<ModelSupportConfig>& config) {
    auto support = modelSupport(identifier, config);
    return {support.defaultModel(), std::move(support.disabled)};
}

} // namespace vocalith
