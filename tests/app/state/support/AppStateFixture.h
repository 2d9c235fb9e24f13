#pragma once

#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/settings/SettingsStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <vector>

namespace velnote::testing {

// An AppState over its own settings file, manual clock and main dispatcher (bound to the test's
// thread), created on first use so a test can store settings before it reads them.
class AppStateFixture : public ::testing::Test {
  protected:
    AppState& state() {
        if (!state_) {
            state_ =
                std::make_unique<AppState>(AppState::Dependencies{.settings = &settings_,
                                                                  .clock = &clock_,
                                                                  .mainDispatcher = &main_,
                                                                  .metadataExecutor = metadataExecutor_});
        }
        return *state_;
    }

    // Counts the notifications of each field from now on.
    void watch(const std::vector<AppStateField>& fields) {
        tokens_.push_back(state().observe(fields, [this](AppStateField field) { ++notified_[field]; }));
    }
    int notified(AppStateField field) const {
        const auto found = notified_.find(field);
        return found == notified_.end() ? 0 : found->second;
    }
    void clearNotified() { notified_.clear(); }

    TempDir dir_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ManualClock clock_;
    platform::MainDispatcher main_;
    platform::ThreadPool pool_{2};
    platform::Executor* metadataExecutor_ = &pool_; // set before the first state() to replace
    std::unique_ptr<AppState> state_;
    std::vector<AppState::ObservationToken> tokens_;
    std::map<AppStateField, int> notified_;
};

} // namespace velnote::testing
