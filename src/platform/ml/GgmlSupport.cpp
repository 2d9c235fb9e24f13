#include "platform/ml/GgmlSupport.h"

#include "engine/foundation/Logging.h"

#include <algorithm>
#include <ggml.h>
#include <mutex>
#include <sched.h>
#include <string>
#include <thread>

namespace velnote::platform::ml {

namespace {

void toEngineLog(ggml_log_level, const char* text, void*) {
    if (text == nullptr)
        return;
    std::string line(text);
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty())
        basalith::Logging::debug("ggml:", line);
}

// Guards ggml's callback, which ggml itself keeps in an unguarded global.
std::mutex& callbackMutex() {
    static std::mutex mutex;
    return mutex;
}
bool installed = false; // under callbackMutex()

} // namespace

void installGgmlLogger() {
    std::lock_guard lock(callbackMutex());
    if (!installed) {
        ggml_log_set(&toEngineLog, nullptr);
        installed = true;
    }
}

void installLoggerSharingGgml(const std::function<void()>& install) {
    std::lock_guard lock(callbackMutex());
    install();
    ggml_log_set(&toEngineLog, nullptr);
    installed = true;
}

int defaultThreadCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

} // namespace velnote::platform::ml
