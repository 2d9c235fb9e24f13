#include "summary/core/SummaryFallbackRecorder.h"

namespace velnote {

void SummaryFallbackRecorder::append(const std::string& note) {
    std::lock_guard lock(mutex_);
    if (details_) {
        *details_ += '\n';
        *details_ += note;
    } else {
        details_ = note;
    }
}

std::optional<std::string> SummaryFallbackRecorder::details() const {
    std::lock_guard lock(mutex_);
    return details_;
}

} // namespace velnote
