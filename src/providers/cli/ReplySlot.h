#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

namespace velnote {

// Where the one request of a persistent session waits for its answer, under the session's own
// mutex: open() by the sender, deliver() or fail() by the session's reader, wait() by the sender.
// Whatever ends the wait (answer, failure, time-out, stop) closes the slot, so the session can
// take the next request.
class ReplySlot {
  public:
    using Clock = std::chrono::steady_clock;

    bool isOpen() const { return open_; }
    void open();
    void close() { open_ = false; }
    // Ignored unless the slot is open and still unanswered.
    void deliver(std::string text);
    void fail(std::exception_ptr failure);

    // Releases `lock` while waiting. Returns the answer, rethrows a delivered failure, throws
    // CLISessionError(timeout) after `deadline` and CancellationError on a stop.
    std::string wait(std::unique_lock<std::mutex>& lock, Clock::time_point deadline, std::stop_token stop);

  private:
    bool answered() const { return text_.has_value() || failure_ != nullptr; }

    bool open_ = false;
    std::optional<std::string> text_;
    std::exception_ptr failure_;
    std::condition_variable_any answered_;
};

} // namespace velnote
