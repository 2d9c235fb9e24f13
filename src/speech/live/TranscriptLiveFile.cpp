#include "speech/live/TranscriptLiveFile.h"

#include "platform/fs/Files.h"
#include "session/VelnoteLogger.h"

namespace velnote {

void TranscriptLiveFile::scheduleAppend(std::string line, std::filesystem::path folder) {
    queue_.post([line = std::move(line), folder = std::move(folder)] {
        try {
            platform::appendToFile(folder / kFileName, line + "\n");
        } catch (const std::exception& error) {
            VelnoteLogger::processing().error("transcript.live.txt 書き込み失敗: {}", error.what());
        }
    });
}

std::future<void> TranscriptLiveFile::scheduleRewrite(std::vector<std::string> lines,
                                                      std::filesystem::path folder) {
    return queue_.submit([lines = std::move(lines), folder = std::move(folder)] {
        if (lines.empty()) {
            return;
        }
        std::string text;
        for (const auto& line : lines) {
            text += line;
            text += '\n';
        }
        try {
            platform::writeFileAtomically(folder / kFileName, text);
        } catch (const std::exception& error) {
            VelnoteLogger::processing().error("stopSession: transcript 書き込み失敗: {}", error.what());
        }
    });
}

} // namespace velnote
