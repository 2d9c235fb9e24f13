#pragma once

#include "platform/process/ChildProcess.h"
#include "providers/cli/ReplySlot.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace velnote {

// The Copilot tool kept running as an agent over JSON-RPC 2.0 on its standard streams (the Agent
// Client Protocol): start() runs the handshake ("initialize", then "session/new" for the
// conversation id), and each turn sends "session/prompt" and gathers the agent's message chunks
// until the prompt's response arrives.
//
// Thread-safe: one send() waits at a time (a second fails with busy); the session's reader thread
// reads the agent's output, answers the waiting turn and refuses the agent's own requests (this
// client offers it no files, terminals or permissions). Responses carry the request's id, so one
// that arrives after its turn gave up is dropped.
class CopilotACPSession {
  public:
    explicit CopilotACPSession(std::chrono::milliseconds replyLimit = std::chrono::seconds(120));
    ~CopilotACPSession();
    CopilotACPSession(const CopilotACPSession&) = delete;
    CopilotACPSession& operator=(const CopilotACPSession&) = delete;

    // Starts `command` through /usr/bin/env with PATH `effectivePATH` and the arguments "--acp" and
    // `extraArgs`, and runs the handshake for a conversation in the folder `cwd`. Stops a session
    // already running first. Throws platform::ProcessLaunchError, CLISessionError (terminated,
    // timeout) or cliFailed when the agent refuses the handshake; the tool is then stopped.
    void start(const std::string& command, const std::vector<std::string>& extraArgs,
               const std::string& effectivePATH, const std::string& cwd);
    void stop();
    bool running() const;

    // One turn: the agent's message text. Fails like CLIPersistentSession::send, and with notRunning
    // before the handshake gave a conversation id.
    std::string send(const std::string& userText, std::stop_token stop = {});

  private:
    void readLoop(std::stop_token stop);
    // Under mutex_; requests of the agent get their refusals queued in `replies`.
    void handleLine(const std::string& line, std::vector<std::string>& replies);
    // Writes one JSON-RPC message; under mutex_. Throws CLISessionError.
    void sendJSON(const std::string& line, ReplySlot::Clock::time_point deadline);
    // Sends the request `method` and waits, releasing `lock`, for its result: the result's JSON
    // text, or for a prompt the gathered message text. Throws like send().
    std::string call(std::unique_lock<std::mutex>& lock, const std::string& method,
                     const std::string& paramsJson, std::stop_token stop);

    const std::chrono::milliseconds replyLimit_;
    mutable std::mutex mutex_;
    // Under mutex_ (process_ itself is set and reset only while the reader is not running):
    std::unique_ptr<platform::ChildProcess> process_;
    std::string command_;
    std::optional<std::string> sessionID_;
    std::int64_t nextID_ = 1;
    std::int64_t awaitedID_ = 0; // id of the request whose response `pending_` waits for
    ReplySlot pending_;          // the handshake step or the turn that waits
    bool awaitingPrompt_ = false;
    std::string messageAccumulator_; // text of the current turn
    bool isRunning_ = false;
    std::jthread reader_; // last: stopped and joined first
};

} // namespace velnote
