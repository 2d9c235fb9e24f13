#pragma once

#include "platform/process/ChildProcess.h"
#include "providers/cli/ReplySlot.h"

#include <memory>
#include <mutex>
#include <thread>

// How a session that keeps a tool running between turns comes to its end, for the sessions'
// stop() and their readers.
namespace velnote {

// Under the session's mutex: the session no longer runs and its waiting turn fails with terminated.
void markSessionEnded(bool& isRunning, ReplySlot& pending);

// Stops and joins the session's reader, marks the session ended under `mutex` and takes its tool,
// which is killed and reaped after the lock is released.
void stopSession(std::jthread& reader, std::mutex& mutex, bool& isRunning, ReplySlot& pending,
                 std::unique_ptr<platform::ChildProcess>& process);

} // namespace velnote
