#pragma once

#include "engine/speech/JsonCoding.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vocalith {

// Which model folders one family of devices uses by default, supports and does not support.
class ModelSupport {
  public:
    ModelSupport(std::string defaultModel, std::vector<std::string> supported,
                 std::vector<std::string> disabled = {});

    // "default" in JSON: the folder used when the caller names none.
    const std::string& defaultModel() const { return default_; }
    const std::vector<std::string>& supported() const { return supported_; }
    // Known folders this device does not support; filled in by ModelSupportConfig.
    std::vector<std::string> disabled;

    bool operator==(const ModelSupport& other) const = default;

  private:
    std::string default_;
    std::vector<std::string> supported_;
};

// {"default", "supported"}, both required; `disabled` is neither written nor read.
template <class J> void to_json(J& json, const ModelSupport& support);
ModelSupport modelSupportFromJson(const Json& json);

// One row of the table: a device family told by hardware identifier prefixes.
class DeviceSupport {
  public:
    DeviceSupport(std::optional<std::string> chips, std::vector<std::string> identifiers,
                  ModelSupport models);

    // Human-readable chip names, such as "M2, M3, M4".
    const std::optional<std::string>& chips() const { return chips_; }
    // Prefixes of hardware model identifiers, such as "Mac14" or "iPad13,4".
    const std::vector<std::string>& identifiers() const { return identifiers_; }
    ModelSupport models;

  private:
    std::optional<std::string> chips_;
    std::vector<std::string> identifiers_;
};

// {"chips" (left out when absent), "identifiers", "models"}.
template <class J> void to_json(J& json, const DeviceSupport& device);
DeviceSupport deviceSupportFromJson(const Json& json);

enum class IncludeFallback { no, yes };

// The whole table: its rows, every folder any row supports, and the row for unknown devices.
class ModelSupportConfig {
  public:
    // Completes the table: with IncludeFallback::yes and a repository name that the built-in
    // table's name contains, rows are merged with the built-in rows first; then the known models,
    // the default row and every row's disabled list are derived.
    ModelSupportConfig(std::string repoName, std::string repoVersion,
                       std::vector<DeviceSupport> deviceSupports,
                       IncludeFallback includeFallback = IncludeFallback::yes);

    const std::string& repoName() const { return repoName_; }
    const std::string& repoVersion() const { return repoVersion_; }
    std::vector<DeviceSupport> deviceSupports;
    const std::vector<std::string>& knownModels() const { return knownModels_; }
    const DeviceSupport& defaultSupport() const { return defaultSupport_; }

    // The models of the row whose identifier prefix is the longest match for `identifier` (the
    // first such on a tie), else those of the default row. Logs which it chose.
    ModelSupport modelSupport(const std::string& identifier) const;

  private:
    std::string repoName_;
    std::string repoVersion_;
    std::vector<std::string> knownModels_;
    DeviceSupport defaultSupport_;
};

// {"name", "version", "device_support"}, all required. Reading merges with the built-in table as
// the constructor does.
template <class J> void to_json(J& json, const ModelSupportConfig& config);
ModelSupportConfig modelSupportConfigFromJson(const Json& json);

// The lookup on `config`, or on the built-in table when none is given.
ModelSupport modelSupport(const std::string& identifier, const std::optional<ModelSupportConfig>& config);
// The same lookup, giving only the default folder and the disabled folders.
std::pair<std::string, std::vector<std::string>>
defaultAndDisabledModels(const std::string& identifier, const std::optional<ModelSupportConfig>& config);

} // namespace vocalith

template <> struct nlohmann::adl_serializer<vocalith::ModelSupport> {
    static vocalith::ModelSupport from_json(const nlohmann::json& json) {
        return vocalith::modelSupportFromJson(json);
    }
    template <class J> static void to_json(J& json, const vocalith::ModelSupport& value) {
        vocalith::to_json(json, value);
    }
};
template <> struct nlohmann::adl_serializer<vocalith::DeviceSupport> {
    static vocalith::DeviceSupport from_json(const nlohmann::json& json) {
        return vocalith::deviceSupportFromJson(json);
    }
    template <class J> static void to_json(J& json, const vocalith::DeviceSupport& value) {
        vocalith::to_json(json, value);
    }
};
template <> struct nlohmann::adl_serializer<vocalith::ModelSupportConfig> {
    static vocalith::ModelSupportConfig from_json(const nlohmann::json& json) {
        return vocalith::modelSupportConfigFromJson(json);
    }
    template <class J> static void to_json(J& json, const vocalith::ModelSupportConfig& value) {
        vocalith::to_json(json, value);
    }
};
