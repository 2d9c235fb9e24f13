#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace velnote {

// The notes of one summary run about the fallbacks it took, one line each
// ("provider=openai;reason=…;strategy=chunked"). One object per run, shared by
// the summary service and the remote pipelines, which append from concurrent
// tasks; the lock is held only for the string update or the copy.
class SummaryFallbackRecorder {
  public:
    // Adds `note` as a new line; the first note becomes the whole text.
    void append(const std::string& note);

    // The notes joined with "\n" in the order their appends took the lock;
    // std::nullopt before the first note.
    std::optional<std::string> details() const;

  private:
    mutable std::mutex mutex_;
    std::optional<std::string> details_; // guarded by mutex_
};

} // namespace velnote
