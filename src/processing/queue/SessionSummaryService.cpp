#include "processing/queue/SessionSummaryService.h"

#include <mutex>

namespace velnote {

namespace {

std::mutex& installMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<SessionSummaryService>& installedService() {
    static std::shared_ptr<SessionSummaryService> service;
    return service;
}

} // namespace

std::shared_ptr<SessionSummaryService> SessionSummaryService::installed() {
    std::lock_guard lock(installMutex());
    return installedService();
}

void SessionSummaryService::install(std::shared_ptr<SessionSummaryService> service) {
    std::lock_guard lock(installMutex());
    installedService() = std::move(service);
}

} // namespace velnote
