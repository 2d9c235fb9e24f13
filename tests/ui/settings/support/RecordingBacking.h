#pragma once

#include "session/settings/ProviderSettingsBacking.h"

#include <array>
#include <optional>
#include <vector>

namespace velnote::testing {

// A provider settings backing in memory that records its commits.
class RecordingBacking final : public ProviderSettingsBacking {
  public:
    explicit RecordingBacking(bool sessionOverride = false) : sessionOverride_(sessionOverride) {}

    bool isSessionOverride() const override { return sessionOverride_; }
    const ProviderSettingsValues& values() const override { return values_; }
    ProviderSettingsValues& values() override { return values_; }
    std::string apiKey(ProviderAPIKey key) const override { return keys_.at(static_cast<std::size_t>(key)); }
    void setAPIKey(ProviderAPIKey key, std::string value) override {
        keys_.at(static_cast<std::size_t>(key)) = std::move(value);
    }
    void commit(SummaryProvider activeProvider) override {
        commits.push_back(activeProvider);
        committedValues.push_back(values_);
    }

    std::vector<SummaryProvider> commits;
    std::vector<ProviderSettingsValues> committedValues; // what the backing held at each commit

  private:
    bool sessionOverride_;
    ProviderSettingsValues values_;
    std::array<std::string, 5> keys_{};
};

} // namespace velnote::testing
