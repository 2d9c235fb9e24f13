#pragma once

#include "ui/monitor/core/SessionMonitorServices.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace velnote::testing {
namespace fs = std::filesystem;

// Records each call and keeps its completion until the test finishes it.
class FakeSessionMonitorServices final : public SessionMonitorServices {
  public:
    void pushSnapshots(Done done) override { record("push", {}, std::move(done)); }
    void stopProcessing(const fs::path& dir, Done done) override { record("stop", dir, std::move(done)); }
    void removePending(const fs::path& dir, Done done) override { record("remove", dir, std::move(done)); }
    void openSavedSession(const fs::path& dir, std::function<void(bool)> done) override {
        record("open", dir, [this, done] { done(openSucceeds); });
    }
    void deleteSession(const fs::path& dir, Done done) override { record("delete", dir, std::move(done)); }
    void closeSession(const fs::path& dir, SessionMedia media, Done done) override {
        record(media == SessionMedia::remove ? "close-media" : "close", dir, std::move(done));
    }
    void retryFailed(const fs::path& dir, Done done) override { record("retry", dir, std::move(done)); }

    // Finishes the oldest open call of that name.
    void finish(const std::string& name) {
        for (auto it = open.begin(); it != open.end(); ++it) {
            if (it->first == name) {
                auto done = std::move(it->second);
                open.erase(it);
                done();
                return;
            }
        }
        FAIL() << "no open " << name;
    }
    std::size_t count(const std::string& name) const {
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), name));
    }

    std::vector<std::string> calls;
    std::vector<fs::path> dirs;
    std::vector<std::pair<std::string, Done>> open;
    bool openSucceeds = true;

  private:
    void record(std::string name, const fs::path& dir, Done done) {
        calls.push_back(name);
        dirs.push_back(dir);
        open.emplace_back(std::move(name), std::move(done));
    }
};

} // namespace velnote::testing
