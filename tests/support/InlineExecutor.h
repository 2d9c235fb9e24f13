#pragma once

#include "platform/concurrency/Executor.h"

namespace velnote::testing {

// Runs each job at once on the posting thread, so work handed to a background executor has
// landed by the time the call that posted it returns.
class InlineExecutor final : public platform::Executor {
  public:
    void post(platform::Job job) override { job(); }
};

} // namespace velnote::testing
