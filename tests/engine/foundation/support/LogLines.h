#pragma once

#include "engine/foundation/Logging.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace basalith::testing {

// Collects the shared logger's lines at `level` for its lifetime, then restores level and callback.
class LogLines {
  public:
    explicit LogLines(Logging::LogLevel level = Logging::LogLevel::debug)
        : previousLevel_(Logging::shared().logLevel()),
          previousCallback_(Logging::shared().loggingCallback()) {
        Logging::shared().setLogLevel(level);
        Logging::shared().setLoggingCallback([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogLines() {
        Logging::shared().setLoggingCallback(previousCallback_);
        Logging::shared().setLogLevel(previousLevel_);
    }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool contains(const std::string& line) const {
        auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

  private:
    Logging::LogLevel previousLevel_;
    Logging::Callback previousCallback_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace basalith::testing
