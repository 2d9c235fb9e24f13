#include "session/folder/SessionLock.h"

#include "platform/fs/Files.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionMetadataStore.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <string>
#include <sys/types.h>
#include <system_error>
#include <unistd.h>

namespace velnote {
namespace fs = std::filesystem;
using platform::Json;
using std::chrono::sys_seconds;

namespace {

std::string folderName(const fs::path& sessionDir) {
    return sessionDir.filename().string();
}

// kill(pid, 0) with 0 or a negative pid would test a whole process group and
// could keep a lock "held" forever; only a plain positive pid names an owner.
bool ownerExists(std::int64_t pid) {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

sys_seconds nowSeconds(const platform::Clock& clock) {
    return std::chrono::floor<std::chrono::seconds>(clock.wallNow());
}

// A step left running by a vanished owner: done when its result file exists,
// else fresh.
void repairFromResult(StepState& step, bool resultExists, StepStatus otherwise, sys_seconds now) {
    if (step.status != StepStatus::running)
        return;
    if (resultExists) {
        step.status = StepStatus::done;
        if (!step.completedAt)
            step.completedAt = now;
    } else {
        step = StepState::fresh(otherwise);
    }
}

} // namespace

void to_json(Json& j, const SessionLockContent& c) {
    j = Json::object();
    j["pid"] = c.pid;
    j["acquiredAt"] = c.acquiredAt;
    j["step"] = c.step;
}

void from_json(const Json& j, SessionLockContent& c) {
    c.pid = platform::required<std::int64_t>(j, "pid");
    c.acquiredAt = platform::required<sys_seconds>(j, "acquiredAt");
    c.step = platform::required<std::string>(j, "step");
}

fs::path SessionLock::fileIn(const fs::path& sessionDir) {
    return sessionDir / "session.lock";
}

bool SessionLock::acquire(const fs::path& sessionDir, std::string_view step, const platform::Clock& clock) {
    const int fd = ::open(fileIn(sessionDir).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::string bytes;
    try {
        const SessionLockContent content{::getpid(), nowSeconds(clock), std::string(step)};
        bytes = platform::toCompactJson(Json(content));
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("failed to encode lock content: {}", e.what());
    }
    if (!bytes.empty()) {
        // One write; a short or failed one leaves a file isStale() ages out.
        [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    }
    ::close(fd);
    return true;
}

void SessionLock::release(const fs::path& sessionDir) {
    if (::unlink(fileIn(sessionDir).c_str()) == 0 || errno == ENOENT)
        return;
    VelnoteLogger::app().error("failed to unlink lock file: {}: {}", folderName(sessionDir),
                               std::strerror(errno));
}

bool SessionLock::isStale(const fs::path& sessionDir, const platform::Clock& clock) {
    const fs::path file = fileIn(sessionDir);
    std::optional<std::string> bytes;
    try {
        bytes = platform::readRegularFile(file, kMaxFileBytes);
    } catch (const std::system_error&) {
        return true; // missing, unreadable, no regular file or far too large: nobody owns it
    }
    try {
        const auto content = platform::decode<SessionLockContent>(platform::parseJson(*bytes));
        return !ownerExists(content.pid);
    } catch (const platform::JsonDecodeError& decodeError) {
        const auto created = platform::creationDate(file);
        if (!created) {
            VelnoteLogger::app().error("failed to check lock file attributes: {}: {}", folderName(sessionDir),
                                       "cannot examine " + file.string());
        } else {
            const std::chrono::duration<double> age = clock.wallNow() - *created;
            if (age < kGracePeriod)
                return false;
        }
        VelnoteLogger::app().error("failed to decode lock file: {}: {}", folderName(sessionDir),
                                   decodeError.what());
        return true;
    }
}

void SessionLock::clearStale(const fs::path& sessionDir, const platform::Clock& clock) {
    release(sessionDir);
    SessionMetadataStore::update(sessionDir, [&](SessionMetadata& m) {
        const sys_seconds now = nowSeconds(clock);
        std::error_code ec;
        repairFromResult(m.steps.transcription, fs::exists(sessionDir / "transcript.txt", ec),
                         StepStatus::pending, now);
        if (m.steps.diarization.status == StepStatus::running) {
            m.steps.diarization = StepState::fresh(
                m.config.transcription.diarizationEnabled ? StepStatus::pending : StepStatus::skipped);
        }
        repairFromResult(m.steps.summary, fs::exists(sessionDir / "summary.md", ec),
                         m.config.summary.provider.empty() ? StepStatus::skipped : StepStatus::pending, now);
    });
}

} // namespace velnote
