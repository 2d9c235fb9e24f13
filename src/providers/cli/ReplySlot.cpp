#include "providers/cli/ReplySlot.h"

#include "platform/concurrency/CancellationError.h"
#include "providers/cli/CLISessionError.h"

namespace velnote {

void ReplySlot::open() {
    open_ = true;
    text_.reset();
    failure_ = nullptr;
}

void ReplySlot::deliver(std::string text) {
    if (!open_ || answered())
        return;
    text_ = std::move(text);
    answered_.notify_all();
}

void ReplySlot::fail(std::exception_ptr failure) {
    if (!open_ || answered())
        return;
    failure_ = std::move(failure);
    answered_.notify_all();
}

std::string ReplySlot::wait(std::unique_lock<std::mutex>& lock, Clock::time_point deadline,
                            std::stop_token stop) {
    answered_.wait_until(lock, stop, deadline, [this] { return answered(); });
    open_ = false;
    if (text_)
        return std::move(*text_);
    if (failure_)
        std::rethrow_exception(failure_);
    if (stop.stop_requested())
        throw platform::CancellationError();
    throw CLISessionError(CLISessionError::Kind::timeout);
}

} // namespace velnote
