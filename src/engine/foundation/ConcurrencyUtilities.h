#pragma once

namespace basalith {

struct ConcurrencyUtilities {
    // Processors this process may run on (its CPU affinity), read anew on each call; at least 1.
    static int activeProcessorCount();
};

} // namespace basalith
