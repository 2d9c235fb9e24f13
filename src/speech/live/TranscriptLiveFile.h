#pragma once

#include "platform/concurrency/SerialExecutor.h"

#include <filesystem>
#include <future>
#include <string>
#include <vector>

namespace velnote {

// "transcript.live.txt" of a live session: UTF-8, one committed line per text line, each followed
// by "\n". Lines are appended one by one while the recording runs; at stop the file is rewritten
// whole from the session's lines. Both run in call order on one serial queue
// ("velnote.realtime.transcriptfile"), so an append still queued at stop runs before the rewrite
// and can never add a line twice. Failures are logged; the lines stay in memory for the rewrite.
class TranscriptLiveFile {
  public:
    static constexpr const char* kFileName = "transcript.live.txt";

    // Queues `line` + "\n" for the end of the folder's file, created (0600) when absent.
    void scheduleAppend(std::string line, std::filesystem::path folder);
    // Queues the replacement of the folder's file by `lines` (each with its "\n"), written
    // atomically; ready once it has run. With no lines nothing is written.
    std::future<void> scheduleRewrite(std::vector<std::string> lines, std::filesystem::path folder);

  private:
    platform::SerialExecutor queue_;
};

} // namespace velnote
