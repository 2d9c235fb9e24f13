#pragma once

#include "capture/recording/CaptureChannel.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace velnote {

// The numbered ten-second WAV chunks of one channel in a session's "audio" folder: "mic_0000.wav",
// "mic_0001.wav", ... (16 kHz mono 16-bit little-endian PCM, samples clipped to full scale).
//
// A chunk is closed after the buffer that brings it to `chunkFrames` frames or more (a buffer is
// never split) and the next one is opened at once. A closed chunk whose loudest unmuted buffer
// has an RMS below `silenceThreshold` is deleted; its number is not used again.
//
// Numbers only grow: each opening takes the next number after both the last one this sequence
// used and the highest chunk of the channel already in the folder, and creates the file
// exclusively, so chunks of an earlier capture in the same folder are never overwritten and two
// writers never share a chunk. Failures are logged; the user is alerted once per run of failures
// of a kind (creating, writing), not once per buffer.
//
// Not thread-safe: a capture uses it on its file-write queue only.
class AudioChunkSequence {
  public:
    struct Options {
        std::uint32_t chunkFrames = 160000; // 10 s at 16 kHz
        float silenceThreshold = 0.008f;    // RMS of the loudest buffer, full scale = 1
    };
    using AlertHandler = std::function<void(const std::string& message)>;
    // A closed chunk that is kept: its file and number.
    using ChunkHandler = std::function<void(const std::filesystem::path& chunk, std::int64_t number)>;

    AudioChunkSequence(std::filesystem::path sessionDir, CaptureChannel channel, std::int64_t firstNumber,
                       Options options, AlertHandler alert, ChunkHandler completed);
    ~AudioChunkSequence(); // closes the open chunk like close()
    AudioChunkSequence(const AudioChunkSequence&) = delete;
    AudioChunkSequence& operator=(const AudioChunkSequence&) = delete;

    // Appends one working-format buffer (16 kHz mono, after gain), opening a chunk first when
    // none is open. A muted buffer is written as silence and does not count towards the peak.
    void write(std::span<const float> samples, bool muted);
    // Closes the open chunk and applies the silence rule. A chunk that got no frames stays on
    // disk as it is (an empty WAV file) and is not reported.
    void close();

    // The number the next chunk will get at least.
    std::int64_t nextNumber() const { return nextNumber_; }
    // The file of the open chunk; none while no chunk is open.
    const std::optional<std::filesystem::path>& currentChunk() const { return currentChunk_; }

  private:
    class File;

    std::filesystem::path audioDir() const;
    void openNext();
    std::unique_ptr<File> createFile(std::int64_t& number, std::filesystem::path& path);
    std::int64_t highestNumberOnDisk() const;
    void judge(const std::filesystem::path& chunk, std::int64_t number, float peak);
    void alertOnce(bool& alerted, const CaptureAlertText& text);

    std::filesystem::path sessionDir_;
    const CaptureTexts& texts_;
    Options options_;
    AlertHandler alert_;
    ChunkHandler completed_;

    std::unique_ptr<File> file_;
    std::optional<std::filesystem::path> currentChunk_;
    std::int64_t currentNumber_ = -1;
    std::int64_t nextNumber_;
    std::uint32_t framesInChunk_ = 0;
    float chunkPeak_ = 0.0f;
    bool createFailureAlerted_ = false; // since the last chunk that could be created
    bool writeFailureAlerted_ = false;  // since the last buffer that could be written
};

} // namespace velnote
