#include "capture/controller/RecordingQueue.h"

#include "processing/queue/ProcessingQueue.h"

namespace velnote {
namespace {

class ProcessingRecordingQueue final : public RecordingQueue {
  public:
    explicit ProcessingRecordingQueue(ProcessingQueue& queue) : queue_(queue) {}
    std::future<void> pause() override { return queue_.pause(); }
    std::future<void> resume() override { return queue_.resume(); }
    std::future<void> setActiveRecordingFolder(std::optional<std::filesystem::path> sessionDir) override {
        return queue_.setActiveRecordingFolder(std::move(sessionDir));
    }
    std::future<void> enqueue(const std::filesystem::path& sessionDir) override {
        return queue_.enqueue(sessionDir);
    }

  private:
    ProcessingQueue& queue_;
};

} // namespace

std::shared_ptr<RecordingQueue> RecordingQueue::of(ProcessingQueue& queue) {
    return std::make_shared<ProcessingRecordingQueue>(queue);
}

} // namespace velnote
