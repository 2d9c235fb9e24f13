#include "engine/foundation/ConcurrencyUtilities.h"

#include <sched.h>
#include <unistd.h>

namespace basalith {

int ConcurrencyUtilities::activeProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
    long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

} // namespace basalith
