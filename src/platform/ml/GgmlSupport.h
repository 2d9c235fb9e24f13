#pragma once

#include <functional>

namespace velnote::platform::ml {

// Sends ggml's own log lines to the engine logger at debug level instead of stderr. Idempotent.
void installGgmlLogger();

// Runs `install`, a call that sets another library's log callback and with it ggml's process-wide
// one (llama.cpp's llama_log_set does both), then gives ggml's lines back to the engine logger.
// So whichever of the two starts first, the other library keeps its own lines and ggml's lines
// keep going to the engine logger. Serialised with installGgmlLogger().
void installLoggerSharingGgml(const std::function<void()>& install);

// The number of threads a computation uses: the processors this process may run on.
int defaultThreadCount();

} // namespace velnote::platform::ml
