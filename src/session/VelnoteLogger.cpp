#include "session/VelnoteLogger.h"

namespace velnote {
namespace {
const platform::Logger& logger(const char* category) {
    // One per category, built on first use; the map never changes afterwards.
    static const platform::Logger app(kBundleIdentifier, "app");
    static const platform::Logger audio(kBundleIdentifier, "audio");
    static const platform::Logger transcribe(kBundleIdentifier, "transcribe");
    static const platform::Logger summarize(kBundleIdentifier, "summarize");
    static const platform::Logger processing(kBundleIdentifier, "processing");
    static const platform::Logger performance(kBundleIdentifier, "performance");
    const std::string_view c = category;
    if (c == "audio")
        return audio;
    if (c == "transcribe")
        return transcribe;
    if (c == "summarize")
        return summarize;
    if (c == "processing")
        return processing;
    if (c == "performance")
        return performance;
    return app;
}
} // namespace

const std::string& VelnoteLogger::subsystem() {
    static const std::string value = kBundleIdentifier;
    return value;
}
const platform::Logger& VelnoteLogger::app() {
    return logger("app");
}
const platform::Logger& VelnoteLogger::audio() {
    return logger("audio");
}
const platform::Logger& VelnoteLogger::transcribe() {
    return logger("transcribe");
}
const platform::Logger& VelnoteLogger::summarize() {
    return logger("summarize");
}
const platform::Logger& VelnoteLogger::processing() {
    return logger("processing");
}
const platform::Logger& VelnoteLogger::performance() {
    return logger("performance");
}

} // namespace velnote
