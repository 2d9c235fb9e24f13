#pragma once

#include "platform/process/ChildProcess.h"
#include "providers/cli/ReplySlot.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace velnote {

// The Claude tool kept running between turns in its stream-JSON mode: each turn writes one user
// message line to the tool's input and waits for the "result" event of its answer.
//
// Thread-safe: one send() waits at a time (a second fails with busy); the session's reader thread
// reads the tool's output and answers the waiting turn. A turn that gives up (time-out, stop) frees
// the session for the next one, and the answer still owed to it is dropped when it comes, so no
// later turn receives it.
class CLIPersistentSession {
  public:
    explicit CLIPersistentSession(std::chrono::milliseconds replyLimit = std::chrono::seconds(120));
    ~CLIPersistentSession();
    CLIPersistentSession(const CLIPersistentSession&) = delete;
    CLIPersistentSession& operator=(const CLIPersistentSession&) = delete;

    // Starts `command` through /usr/bin/env with PATH `effectivePATH` and the arguments "--print
    // --input-format stream-json --output-format stream-json --verbose" and `extraArgs`. Stops a
    // session already running first. Throws platform::ProcessLaunchError.
    void start(const std::string& command, const std::vector<std::string>& extraArgs,
               const std::string& effectivePATH);
    // Ends the tool; a waiting turn fails with terminated.
    void stop();
    bool running() const;

    // One turn: the answer's text. Fails with CLISessionError (notRunning, busy, encodingFailed,
    // terminated, timeout after the reply limit), with cliFailed when the tool reports an error,
    // and with CancellationError on a stop.
    std::string send(const std::string& userText, std::stop_token stop = {});

    // The request line of one turn, "\n" included. Throws CLISessionError(encodingFailed) for text
    // that is not UTF-8.
    static std::string encodeUserMessage(const std::string& userText);

  private:
    void readLoop(std::stop_token stop);
    void handleLine(const std::string& line); // under mutex_

    const std::chrono::milliseconds replyLimit_;
    mutable std::mutex mutex_;
    // Under mutex_ (process_ itself is set and reset only while the reader is not running):
    std::unique_ptr<platform::ChildProcess> process_;
    std::string command_;
    ReplySlot pending_;             // the waiting turn
    std::string lastAssistantText_; // assistant text of the current turn
    int staleAnswers_ = 0;          // answers owed to turns that gave up waiting
    bool isRunning_ = false;
    std::jthread reader_; // last: stopped and joined first
};

} // namespace velnote
