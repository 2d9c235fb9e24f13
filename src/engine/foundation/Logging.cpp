#include "engine/foundation/Logging.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <syslog.h>
#include <unistd.h>
#include <utility>

#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace basalith {
namespace {

int syslogPriority(Logging::LogType type) {
    switch (type) {
    case Logging::LogType::debug:
        return LOG_DEBUG;
    case Logging::LogType::info:
        return LOG_INFO;
    case Logging::LogType::defaultType:
        return LOG_NOTICE;
    case Logging::LogType::error:
        return LOG_ERR;
    case Logging::LogType::fault:
        return LOG_CRIT;
    }
    return LOG_NOTICE;
}

Logging::SystemLogWriter makeDefaultWriter() {
    std::error_code ec;
    if (std::filesystem::exists("/run/systemd/journal/socket", ec)) {
        return [](Logging::LogType type, const std::string& line) {
            sd_journal_send("MESSAGE=%s", line.c_str(), "PRIORITY=%d", syslogPriority(type), "SUBSYSTEM=%s",
                            Logging::kSubsystem, "CATEGORY=%s", Logging::kCategory, nullptr);
        };
    }
    auto mutex = std::make_shared<std::mutex>();
    return [mutex](Logging::LogType, const std::string& line) {
        std::lock_guard lock(*mutex);
        std::fprintf(stderr, "[%s:%s] %s\n", Logging::kSubsystem, Logging::kCategory, line.c_str());
    };
}

} // namespace

Logging::Logging() : systemLog_(std::make_shared<const SystemLogWriter>(makeDefaultWriter())) {}

Logging& Logging::shared() {
    // Never destroyed, so threads that log while the process exits still find it.
    static Logging* instance = new Logging();
    return *instance;
}

std::optional<Logging::LogLevel> Logging::logLevelFromRaw(int raw) {
    if (raw < 1 || raw > 4)
        return std::nullopt;
    return static_cast<LogLevel>(raw);
}

Logging::Callback Logging::loggingCallback() const {
    std::lock_guard lock(mutex_);
    return callback_ ? *callback_ : Callback{};
}

void Logging::setLoggingCallback(Callback callback) {
    auto next = callback ? std::make_shared<const Callback>(std::move(callback)) : nullptr;
    std::lock_guard lock(mutex_);
    callback_ = std::move(next);
}

Logging::SystemLogWriter Logging::setSystemLogWriter(SystemLogWriter writer) {
    auto next = std::make_shared<const SystemLogWriter>(writer ? std::move(writer) : makeDefaultWriter());
    std::lock_guard lock(mutex_);
    auto previous = std::exchange(systemLog_, std::move(next));
    return *previous;
}

void Logging::emit(LogType type, const std::string& line) {
    std::shared_ptr<const Callback> callback;
    std::shared_ptr<const SystemLogWriter> systemLog;
    {
        std::lock_guard lock(mutex_);
        callback = callback_;
        systemLog = systemLog_;
    }
    // Outside the lock: a callback may log again or replace itself.
    if (callback) {
        (*callback)(line);
    } else {
        (*systemLog)(type, line);
    }
}

std::string Logging::floatingText(double value, bool single) {
    char buffer[64];
    auto result = single ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
                         : std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".einfa") == std::string::npos)
        text += ".0";
    return text;
}

std::string Logging::formatTimeWithPercentage(double time_s, double runs, double fullPipelineMs) {
    const double ms = time_s * 1000;
    const double perRun = runs > 0 ? ms / runs : 0;
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%", ms, runs, perRun,
                  ms / fullPipelineMs * 100);
    return buffer;
}

void Logging::logCurrentMemoryUsage(const std::string& message) {
    const std::string line = message + " - Memory usage: " + std::to_string(getMemoryUsage()) + " MB";
    debug(line);
}

std::uint64_t Logging::getMemoryUsage() {
    // statm: total and resident size in pages.
    std::ifstream statm("/proc/self/statm");
    std::uint64_t totalPages = 0;
    std::uint64_t residentPages = 0;
    if (!(statm >> totalPages >> residentPages))
        return 0;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pageSize <= 0)
        return 0;
    return (residentPages * static_cast<std::uint64_t>(pageSize)) >> 20;
}

void logCurrentMemoryUsage(const std::string& message) {
    Logging::logCurrentMemoryUsage(message);
}

std::uint64_t getMemoryUsage() {
    return Logging::getMemoryUsage();
}

} // namespace basalith
