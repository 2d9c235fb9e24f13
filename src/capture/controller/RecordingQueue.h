#pragma once

#include <filesystem>
#include <future>
#include <memory>
#include <optional>

namespace velnote {

class ProcessingQueue;

// What the recording controller asks of the processing queue: hold still while recording, keep
// away from the folder being written, and take the folder when the recording is over. Each
// operation posts to the queue and returns a future that is ready once it has run.
class RecordingQueue {
  public:
    virtual ~RecordingQueue() = default;
    virtual std::future<void> pause() = 0;
    virtual std::future<void> resume() = 0;
    virtual std::future<void> setActiveRecordingFolder(std::optional<std::filesystem::path> sessionDir) = 0;
    virtual std::future<void> enqueue(const std::filesystem::path& sessionDir) = 0;

    // The processing queue itself; `queue` must outlive the result.
    static std::shared_ptr<RecordingQueue> of(ProcessingQueue& queue);
};

} // namespace velnote
