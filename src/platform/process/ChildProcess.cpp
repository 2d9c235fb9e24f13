#include "platform/process/ChildProcess.h"

#include "platform/concurrency/CancellationError.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace velnote::platform {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
// Reads taken after reading was told to stop, so bytes already in the pipe are not lost while a
// process that keeps writing cannot keep the reader going.
constexpr int kDrainReadsAfterStop = 16;

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool holdsNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

// NULL-terminated argv/envp arrays pointing into `texts`, which must outlive them.
std::vector<char*> cStrings(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (const auto& text : texts)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// posix_spawn's attribute and file-action objects, destroyed on every way out.
class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

int spawn(pid_t& pid, const ProcessSpec& spec, int input, int output, int error) {
    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, error, STDERR_FILENO);
    // Descriptors a library opened without close-on-exec must not leak into the tool.
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    posix_spawnattr_setflags(&setup.attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    // The application may ignore some of these (SIGPIPE above all); the tool gets the defaults.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGTERM, SIGINT, SIGQUIT, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);

    std::vector<std::string> argv{spec.executable};
    argv.insert(argv.end(), spec.arguments.begin(), spec.arguments.end());
    auto argvPointers = cStrings(argv);
    auto envPointers = cStrings(spec.environment);
    return posix_spawn(&pid, spec.executable.c_str(), &setup.actions, &setup.attributes, argvPointers.data(),
                       envPointers.data());
}

void signalStop(int eventFd) {
    if (eventFd >= 0)
        (void)eventfd_write(eventFd, 1);
}

// Takes back the SIGPIPE a write to a closed pipe raised while it was blocked in this thread.
void discardPendingSigpipe() {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    const timespec now{};
    while (sigtimedwait(&pipeOnly, nullptr, &now) == SIGPIPE) {
    }
}

} // namespace

ProcessLaunchError::ProcessLaunchError(int error, const std::string& executable)
    : std::system_error(error, std::generic_category(), "cannot start " + executable) {}

ChildProcess::ChildProcess() = default;

std::unique_ptr<ChildProcess> ChildProcess::launch(const ProcessSpec& spec) {
    std::unique_ptr<ChildProcess> child(new ChildProcess());
    child->start(spec);
    return child;
}

void ChildProcess::start(const ProcessSpec& spec) {
    bool nul = holdsNul(spec.executable);
    for (const auto& text : spec.arguments)
        nul = nul || holdsNul(text);
    for (const auto& text : spec.environment)
        nul = nul || holdsNul(text);
    if (nul || spec.executable.empty())
        throw ProcessLaunchError(EINVAL, spec.executable);

    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    int error[2] = {-1, -1};
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(error, O_CLOEXEC) != 0) {
        const int failure = errno;
        for (int* fd : {&input[0], &input[1], &output[0], &output[1], &error[0], &error[1]})
            closeFd(*fd);
        throw ProcessLaunchError(failure, spec.executable);
    }
    inputFd_ = input[1];
    outputFds_[0] = output[0];
    outputFds_[1] = error[0];
    maxBufferedBytes_ = spec.maxBufferedBytes;
    readersStopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    writerStopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    // The readers run before the child does, so not one byte waits in a full pipe.
    readers_[0] = std::thread(&ChildProcess::readLoop, this, outputFds_[0], Stream::standardOutput);
    readers_[1] = std::thread(&ChildProcess::readLoop, this, outputFds_[1], Stream::standardError);

    pid_t pid = -1;
    const int result =
        (readersStopFd_ < 0 || writerStopFd_ < 0) ? errno : spawn(pid, spec, input[0], output[1], error[1]);
    // The child holds its own copies now; without ours the readers see the end when it ends.
    closeFd(input[0]);
    closeFd(output[1]);
    closeFd(error[1]);
    if (result != 0)
        throw ProcessLaunchError(result, spec.executable);
    {
        // A reader may already have found the output too large, before the pid was known.
        std::lock_guard lock(mutex_);
        pid_ = pid;
        if (overflowed_)
            ::kill(-pid_, SIGKILL);
    }
    waiter_ = std::thread(&ChildProcess::waitLoop, this, spec.outputGrace);
}

ChildProcess::~ChildProcess() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    // The child is not reaped yet, so its group id is still its own: this reaches the child if it
    // runs and whatever it started and left behind.
    if (pid_ > 0)
        ::kill(-pid_, SIGKILL);
    if (killer_.joinable())
        killer_.join();
    if (waiter_.joinable())
        waiter_.join();
    signalStop(readersStopFd_);
    signalStop(writerStopFd_);
    for (auto& reader : readers_) {
        if (reader.joinable())
            reader.join();
    }
    if (writer_.joinable())
        writer_.join();
    if (pid_ > 0) {
        int ignored = 0;
        while (::waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
    if (!inputStarted_)
        closeFd(inputFd_);
    closeFd(outputFds_[0]);
    closeFd(outputFds_[1]);
    closeFd(readersStopFd_);
    closeFd(writerStopFd_);
}

void ChildProcess::writeInput(std::string data) {
    std::lock_guard lock(mutex_);
    if (inputStarted_ || closing_ || inputFd_ < 0)
        return;
    inputStarted_ = true;
    writer_ = std::thread(&ChildProcess::writeLoop, this, std::move(data));
}

ChildProcess::InputWrite ChildProcess::sendInput(std::string_view data, Clock::time_point deadline) {
    std::lock_guard input(inputMutex_);
    {
        std::lock_guard lock(mutex_);
        if (inputStarted_ || closing_ || inputFd_ < 0)
            return InputWrite::closed;
    }
    // A write to a closed pipe raises SIGPIPE in the writing thread: hold it back and take it
    // back, so only EPIPE remains.
    sigset_t pipeOnly;
    sigset_t previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    ::fcntl(inputFd_, F_SETFL, ::fcntl(inputFd_, F_GETFL) | O_NONBLOCK);
    InputWrite result = InputWrite::written;
    std::size_t written = 0;
    pollfd fds[2] = {{inputFd_, POLLOUT, 0}, {writerStopFd_, POLLIN, 0}};
    while (written < data.size()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            result = InputWrite::deadlinePassed;
            break;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN) || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))) {
            result = InputWrite::closed;
            break;
        }
        if (ready == 0)
            continue;
        const ssize_t put = ::write(inputFd_, data.data() + written, data.size() - written);
        if (put < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (put < 0) {
            result = InputWrite::closed;
            break;
        }
        written += static_cast<std::size_t>(put);
    }
    discardPendingSigpipe();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return result;
}

void ChildProcess::closeInput() {
    std::lock_guard input(inputMutex_);
    std::lock_guard lock(mutex_);
    if (!inputStarted_)
        closeFd(inputFd_);
}

bool ChildProcess::isRunning() const {
    std::lock_guard lock(mutex_);
    return pid_ > 0 && !status_;
}

std::optional<int> ChildProcess::terminationStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

ChildProcess::WaitResult ChildProcess::waitForExit(Clock::time_point deadline, std::stop_token stop) const {
    std::unique_lock lock(mutex_);
    if (changed_.wait_until(lock, stop, deadline, [&] { return status_.has_value(); }))
        return WaitResult::exited;
    return stop.stop_requested() ? WaitResult::stopped : WaitResult::deadlinePassed;
}

void ChildProcess::forceKill(std::chrono::milliseconds killDelay) {
    std::lock_guard lock(mutex_);
    if (pid_ <= 0)
        return;
    // The unreaped child keeps its group id reserved, so the group is still the child's own.
    ::kill(-pid_, SIGTERM);
    if (killArmed_ || closing_)
        return;
    killArmed_ = true;
    killer_ = std::thread(&ChildProcess::killLoop, this, killDelay);
}

std::optional<std::string> ChildProcess::nextChunk(Stream stream, std::stop_token stop) {
    std::unique_lock lock(mutex_);
    Output& out = output(stream);
    if (!changed_.wait(lock, stop, [&] { return !out.chunks.empty() || out.ended; }))
        throw CancellationError();
    if (out.chunks.empty())
        return std::nullopt;
    std::string chunk = std::move(out.chunks.front());
    out.chunks.pop_front();
    out.bytes -= chunk.size();
    return chunk;
}

bool ChildProcess::waitForOutputEnd(Stream stream, Clock::time_point deadline) const {
    std::unique_lock lock(mutex_);
    const Output& out = output(stream);
    return changed_.wait_until(lock, deadline, [&] { return out.ended; });
}

std::string ChildProcess::takeOutput(Stream stream) {
    std::lock_guard lock(mutex_);
    Output& out = output(stream);
    std::string all;
    for (auto& chunk : out.chunks)
        all += chunk;
    out.chunks.clear();
    out.bytes = 0;
    return all;
}

bool ChildProcess::outputOverflowed() const {
    std::lock_guard lock(mutex_);
    return overflowed_;
}

// Holds `chunk` unless that would pass the limit: standard error then drops its oldest pieces;
// standard output refuses it and kills the child (false: reading ends).
bool ChildProcess::keep(Stream stream, std::string chunk) {
    std::lock_guard lock(mutex_);
    Output& out = output(stream);
    if (out.bytes + chunk.size() > maxBufferedBytes_) {
        if (stream == Stream::standardOutput) {
            overflowed_ = true;
            if (pid_ > 0)
                ::kill(-pid_, SIGKILL);
            return false;
        }
        while (!out.chunks.empty() && out.bytes + chunk.size() > maxBufferedBytes_) {
            out.bytes -= out.chunks.front().size();
            out.chunks.pop_front();
        }
        if (chunk.size() > maxBufferedBytes_)
            chunk.erase(0, chunk.size() - maxBufferedBytes_);
    }
    out.bytes += chunk.size();
    out.chunks.push_back(std::move(chunk));
    return true;
}

void ChildProcess::readLoop(int fd, Stream stream) {
    std::string buffer(kReadSize, '\0');
    pollfd fds[2] = {{fd, POLLIN, 0}, {readersStopFd_, POLLIN, 0}};
    int drainReadsLeft = kDrainReadsAfterStop;
    bool stopping = false;
    for (;;) {
        const int ready = ::poll(fds, stopping ? 1 : 2, stopping ? 0 : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        if (!stopping && (fds[1].revents & POLLIN)) {
            stopping = true;
            continue;
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            break;
        const bool kept = keep(stream, std::string(buffer.data(), static_cast<std::size_t>(got)));
        changed_.notify_all();
        if (!kept)
            break;
        if (stopping && --drainReadsLeft == 0)
            break;
    }
    {
        std::lock_guard lock(mutex_);
        output(stream).ended = true;
    }
    changed_.notify_all();
}

void ChildProcess::writeLoop(std::string data) {
    // A child that closed its input makes write() fail with EPIPE; the signal must not end us.
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
    ::fcntl(inputFd_, F_SETFL, ::fcntl(inputFd_, F_GETFL) | O_NONBLOCK);

    std::size_t written = 0;
    pollfd fds[2] = {{inputFd_, POLLOUT, 0}, {writerStopFd_, POLLIN, 0}};
    while (written < data.size()) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN) || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))
            break;
        const ssize_t put = ::write(inputFd_, data.data() + written, data.size() - written);
        if (put < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (put < 0)
            break;
        written += static_cast<std::size_t>(put);
    }
    discardPendingSigpipe();
    closeFd(inputFd_);
}

void ChildProcess::waitLoop(std::chrono::milliseconds outputGrace) {
    siginfo_t info{};
    int status = -1;
    for (;;) {
        // WNOWAIT: the child stays a zombie until the destructor reaps it.
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) == 0) {
            status = info.si_status;
            break;
        }
        if (errno != EINTR)
            break;
    }
    {
        std::unique_lock lock(mutex_);
        status_ = status;
        changed_.notify_all();
        // Something the child started may still hold its output open: read a while longer, then
        // stop, so nobody waits for an end that may never come.
        changed_.wait_for(lock, outputGrace, [&] { return closing_ || (stdout_.ended && stderr_.ended); });
    }
    signalStop(readersStopFd_);
}

void ChildProcess::killLoop(std::chrono::milliseconds killDelay) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, killDelay, [&] { return closing_; });
    }
    ::kill(-pid_, SIGKILL);
}

std::vector<std::string> environmentWith(const std::string& name, const std::string& value) {
    std::vector<std::string> entries;
    const std::string prefix = name + "=";
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0)
            entries.emplace_back(*entry);
    }
    entries.push_back(prefix + value);
    return entries;
}

} // namespace velnote::platform
