#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <sys/types.h>
#include <system_error>
#include <thread>
#include <vector>

namespace velnote::platform {

struct ProcessSpec {
    std::string executable;               // an absolute path, run as is (no shell, no PATH search)
    std::vector<std::string> arguments;   // after argv[0], which is `executable`
    std::vector<std::string> environment; // the child's whole environment, "NAME=value" entries
    // After the child exits, how long its output pipes are still read while something else (a
    // process it started) holds them open. Then reading stops with what has arrived.
    std::chrono::milliseconds outputGrace{std::chrono::seconds(2)};
    // The most bytes of one stream held before they are taken. Past it, standard output ends and
    // the child's group is killed (outputOverflowed() tells); standard error keeps its newest bytes.
    std::size_t maxBufferedBytes = std::size_t{64} << 20;
};

// The child could not be started; code() is the errno of posix_spawn or of the pipe set-up.
class ProcessLaunchError : public std::system_error {
  public:
    ProcessLaunchError(int error, const std::string& executable);
};

// One child process with its three standard streams on pipes.
//
// The child runs in a process group of its own, so the kill sequence reaches whatever it started.
// Whatever of the group is still there when the object goes is killed with it.
// Two reader threads, started before the launch, drain standard output and standard error into
// memory as the bytes arrive (nothing is dropped, so a talkative child never blocks); a writer
// thread feeds standard input, so a child that never reads it cannot hold up its owner; a waiter
// thread notices the exit. The exited child is reaped only when the object goes, so its process
// group id cannot be reused while a delayed signal may still be sent to it.
//
// Any thread may call any member. The destructor kills the child's group (SIGKILL), so neither a
// child that still runs nor a process it left behind outlives the object, and joins every thread.
class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;
    enum class Stream { standardOutput, standardError };
    enum class WaitResult { exited, deadlinePassed, stopped };
    enum class InputWrite { written, closed, deadlinePassed };

    // Starts the child; throws ProcessLaunchError when it cannot be started (a missing or
    // non-executable file included).
    static std::unique_ptr<ChildProcess> launch(const ProcessSpec& spec);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Writes `data` to standard input on a thread of its own, then closes it (also when `data` is
    // empty). Once only; later calls do nothing. A child that exits or closes its input ends the
    // write early, without error.
    void writeInput(std::string data);
    // For a conversation over standard input: writes `data` on the calling thread and leaves the
    // input open. `closed` when the child closed its input or has gone (nothing more can be
    // written); `deadlinePassed` when the child did not take it all in time (part may be written).
    // Not after writeInput().
    InputWrite sendInput(std::string_view data, Clock::time_point deadline);
    // Closes standard input, so the child sees its end. Not after writeInput().
    void closeInput();

    bool isRunning() const;
    // Once the child has ended: its exit code, or the number of the signal that ended it.
    std::optional<int> terminationStatus() const;
    // Waits until the child ends, `deadline` passes or `stop` is requested, whichever comes first.
    WaitResult waitForExit(Clock::time_point deadline, std::stop_token stop = {}) const;

    // SIGTERM to the child's process group now, and SIGKILL to the group `killDelay` later (sooner
    // when the object goes). Repeated calls are harmless; only the first arms the SIGKILL.
    void forceKill(std::chrono::milliseconds killDelay = std::chrono::milliseconds(200));

    // The next piece of `stream` not yet taken, as it arrived from the pipe; std::nullopt once
    // the stream has ended and every piece was taken. Throws CancellationError when `stop` is
    // requested first.
    std::optional<std::string> nextChunk(Stream stream, std::stop_token stop = {});
    // Waits until `stream` has ended (end of the pipe, or reading stopped after the exit's grace).
    bool waitForOutputEnd(Stream stream, Clock::time_point deadline) const;
    // Whether standard output ended because the child wrote more than maxBufferedBytes that were
    // not taken; the child was killed then.
    bool outputOverflowed() const;
    // Every byte of `stream` not yet taken, in order.
    std::string takeOutput(Stream stream);

  private:
    struct Output {
        std::deque<std::string> chunks;
        std::size_t bytes = 0; // in chunks
        bool ended = false;
    };

    ChildProcess();
    void start(const ProcessSpec& spec);
    void readLoop(int fd, Stream stream);
    bool keep(Stream stream, std::string chunk);
    void writeLoop(std::string data);
    void waitLoop(std::chrono::milliseconds outputGrace);
    void killLoop(std::chrono::milliseconds killDelay);
    Output& output(Stream stream) { return stream == Stream::standardOutput ? stdout_ : stderr_; }
    const Output& output(Stream stream) const { return stream == Stream::standardOutput ? stdout_ : stderr_; }

    pid_t pid_ = -1;
    int inputFd_ = -1;            // writing end of the child's standard input; the writer closes it
    int outputFds_[2] = {-1, -1}; // reading ends of standard output and error
    int readersStopFd_ = -1;      // eventfd: readers stop when it becomes readable
    int writerStopFd_ = -1;       // eventfd: the writer stops when it becomes readable

    mutable std::mutex mutex_;
    mutable std::condition_variable_any changed_;
    // Under mutex_:
    Output stdout_;
    Output stderr_;
    std::optional<int> status_;
    std::size_t maxBufferedBytes_ = 0;
    bool overflowed_ = false;
    bool inputStarted_ = false;
    bool killArmed_ = false;
    bool closing_ = false; // the destructor runs: waits end early

    std::mutex inputMutex_; // one sendInput() or closeInput() at a time
    std::thread readers_[2];
    std::thread writer_;
    std::thread waiter_;
    std::thread killer_;
};

// The current process environment with `name` set to `value` (added or replaced), for a child.
std::vector<std::string> environmentWith(const std::string& name, const std::string& value);

} // namespace velnote::platform
