#include "providers/cli/SessionShutdown.h"

#include "providers/cli/CLISessionError.h"

namespace velnote {

void markSessionEnded(bool& isRunning, ReplySlot& pending) {
    isRunning = false;
    pending.fail(std::make_exception_ptr(CLISessionError(CLISessionError::Kind::terminated)));
}

void stopSession(std::jthread& reader, std::mutex& mutex, bool& isRunning, ReplySlot& pending,
                 std::unique_ptr<platform::ChildProcess>& process) {
    reader.request_stop();
    if (reader.joinable())
        reader.join();
    std::unique_ptr<platform::ChildProcess> ended;
    {
        std::lock_guard lock(mutex);
        markSessionEnded(isRunning, pending);
        ended = std::move(process);
    }
    // The destructor kills the tool and reaps it.
}

} // namespace velnote
