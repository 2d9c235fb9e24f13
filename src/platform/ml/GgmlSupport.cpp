#include "platform/ml/GgmlSupport.h"

#include "engine/foundation/Logging.h"

#include <algorithm>
#include <ggml.h>
#include <mutex>
#include <sched.h>
#include <string>
#include <thread>

namespace velnote::platform::ml {

void installGgmlLogger() {
    static std::once_flag once;
    std::call_once(once, [] {
        ggml_log_set(
            [](ggml_log_level, const char* text, void*) {
                std::string line(text);
                while (!line.empty() && line.back() == '\n')
                    line.pop_back();
                if (!line.empty())
                    basalith::Logging::debug("ggml:", line);
            },
            nullptr);
    });
}

int defaultThreadCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

} // namespace velnote::platform::ml
