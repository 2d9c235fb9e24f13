#include "providers/pipeline/SummarizationRequest.h"

#include "platform/concurrency/SystemClock.h"
#include "providers/ondevice/AppleFoundationModelService.h"

#include <thread>

namespace velnote {

RemoteSummaryEnvironment RemoteSummaryEnvironment::standard() {
    return RemoteSummaryEnvironment{.providers = ProviderEnvironment::standard()};
}

const AppleFoundationModelService& RemoteSummaryEnvironment::onDeviceService() const {
    return onDevice ? *onDevice : AppleFoundationModelService::shared();
}

platform::Clock& RemoteSummaryEnvironment::waitClock() const {
    return clock ? *clock : platform::SystemClock::shared();
}

unsigned RemoteSummaryEnvironment::processors() const {
    return processorCount > 0 ? processorCount : std::thread::hardware_concurrency();
}

} // namespace velnote
