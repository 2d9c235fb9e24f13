#pragma once

#include <stdexcept>

namespace velnote {

// A request for the model slot refused at once. what() is the user-facing text (Japanese only).
class ModelExecutionSchedulerError : public std::runtime_error {
  public:
    enum class Kind {
        droppedLowPriorityTask, // too many low-priority requests were already waiting
    };

    explicit ModelExecutionSchedulerError(Kind kind);

    Kind kind() const { return kind_; }
    bool operator==(const ModelExecutionSchedulerError& other) const { return kind_ == other.kind_; }

  private:
    Kind kind_;
};

} // namespace velnote
