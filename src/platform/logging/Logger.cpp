#include "platform/logging/Logger.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <syslog.h>

#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace velnote::platform {
namespace {

int syslogPriority(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return LOG_DEBUG;
    case LogLevel::info:
        return LOG_INFO;
    case LogLevel::notice:
        return LOG_NOTICE;
    case LogLevel::error:
        return LOG_ERR;
    case LogLevel::fault:
        return LOG_CRIT;
    }
    return LOG_NOTICE;
}

class JournalSink final : public LogSink {
  public:
    void write(const LogRecord& r) override {
        sd_journal_send("MESSAGE=%s", r.message.c_str(), "PRIORITY=%d", syslogPriority(r.level),
                        "SYSLOG_IDENTIFIER=velnote", "VELNOTE_SUBSYSTEM=%s", r.subsystem.c_str(),
                        "VELNOTE_CATEGORY=%s", r.category.c_str(), nullptr);
    }
};

class StderrSink final : public LogSink {
  public:
    void write(const LogRecord& r) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "[%s:%s] %s: %s\n", r.subsystem.c_str(), r.category.c_str(),
                     logLevelName(r.level), r.message.c_str());
    }

  private:
    std::mutex mutex_;
};

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<LogSink>& sinkSlot() {
    static std::shared_ptr<LogSink> sink = makeDefaultLogSink();
    return sink;
}

} // namespace

const char* logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::notice:
        return "default";
    case LogLevel::error:
        return "error";
    case LogLevel::fault:
        return "fault";
    }
    return "default";
}

std::shared_ptr<LogSink> makeDefaultLogSink() {
    std::error_code ec;
    if (std::filesystem::exists("/run/systemd/journal/socket", ec)) {
        return std::make_shared<JournalSink>();
    }
    return std::make_shared<StderrSink>();
}

std::shared_ptr<LogSink> currentLogSink() {
    std::lock_guard lock(sinkMutex());
    return sinkSlot();
}

void setLogSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex());
    sinkSlot() = sink ? std::move(sink) : makeDefaultLogSink();
}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

void Logger::log(LogLevel level, std::string message) const {
    currentLogSink()->write(LogRecord{subsystem_, category_, level, std::move(message)});
}

class LogCapture::Sink final : public LogSink {
  public:
    void write(const LogRecord& record) override {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
    }
    std::vector<LogRecord> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()), previous_(currentLogSink()) {
    setLogSink(sink_);
}

LogCapture::~LogCapture() {
    setLogSink(previous_);
}

std::vector<LogRecord> LogCapture::records() const {
    return sink_->records();
}

bool LogCapture::contains(std::string_view text) const {
    const auto all = records();
    return std::any_of(all.begin(), all.end(),
                       [&](const LogRecord& r) { return r.message.find(text) != std::string::npos; });
}

} // namespace velnote::platform
