#pragma once

namespace velnote::platform::ml {

// Sends ggml's own log lines to the engine logger at debug level instead of stderr. Idempotent.
void installGgmlLogger();

// The number of threads a computation uses: the processors this process may run on.
int defaultThreadCount();

} // namespace velnote::platform::ml
