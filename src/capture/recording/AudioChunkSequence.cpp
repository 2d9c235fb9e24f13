#include "capture/recording/AudioChunkSequence.h"

#include "capture/mixer/AudioChunkNames.h"
#include "capture/recording/InputLevelMeter.h"
#include "platform/fs/Files.h"
#include "session/VelnoteLogger.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sndfile.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velnote {
namespace fs = std::filesystem;

namespace {
constexpr const char* kChunkSettings = "WAV linear PCM 16000 Hz 1 ch 16-bit little-endian integer";
constexpr int kMaxExclusiveAttempts = 1000;
constexpr std::int64_t kHighestFollowedNumber = std::numeric_limits<std::int32_t>::max();
} // namespace

// One chunk file open for writing: the descriptor we created exclusively and libsndfile's handle
// on it. Closing finishes the WAV header.
class AudioChunkSequence::File {
  public:
    File(int descriptor, SNDFILE* handle) : descriptor_(descriptor), handle_(handle) {}
    ~File() {
        sf_close(handle_);
        ::close(descriptor_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // The number of frames written; an error text when fewer than all.
    std::size_t write(std::span<const float> samples, std::string& error) {
        const sf_count_t written =
            sf_writef_float(handle_, samples.data(), static_cast<sf_count_t>(samples.size()));
        if (written != static_cast<sf_count_t>(samples.size())) {
            error = sf_strerror(handle_);
        }
        return written > 0 ? static_cast<std::size_t>(written) : 0;
    }

  private:
    int descriptor_;
    SNDFILE* handle_;
};

AudioChunkSequence::AudioChunkSequence(fs::path sessionDir, CaptureChannel channel, std::int64_t firstNumber,
                                       Options options, AlertHandler alert, ChunkHandler completed)
    : sessionDir_(std::move(sessionDir)), texts_(captureTexts(channel)), options_(options),
      alert_(std::move(alert)), completed_(std::move(completed)),
      nextNumber_(std::max<std::int64_t>(firstNumber, 0)) {}

AudioChunkSequence::~AudioChunkSequence() {
    close();
}

fs::path AudioChunkSequence::audioDir() const {
    return sessionDir_ / "audio";
}

void AudioChunkSequence::write(std::span<const float> samples, bool muted) {
    if (!file_) {
        openNext();
        if (!file_) {
            return; // dropped: the failure has been reported
        }
    }
    std::vector<float> silence;
    if (muted) {
        silence.assign(samples.size(), 0.0f);
    } else {
        chunkPeak_ = std::max(chunkPeak_, InputLevelMeter::rms(samples));
    }
    std::string error;
    const std::size_t written = file_->write(muted ? std::span<const float>(silence) : samples, error);
    framesInChunk_ += static_cast<std::uint32_t>(written);
    if (!error.empty()) {
        VelnoteLogger::audio().error(texts_.writeFailed, error);
        alertOnce(writeFailureAlerted_, texts_.writeAlert);
        return;
    }
    writeFailureAlerted_ = false;
    if (framesInChunk_ >= options_.chunkFrames) {
        openNext();
    }
}

void AudioChunkSequence::close() {
    std::unique_ptr<File> closing = std::move(file_);
    const std::optional<fs::path> chunk = std::exchange(currentChunk_, std::nullopt);
    const float peak = std::exchange(chunkPeak_, 0.0f);
    closing.reset(); // finishes the file before it is judged
    if (!chunk || framesInChunk_ == 0) {
        return;
    }
    judge(*chunk, currentNumber_, peak);
}

void AudioChunkSequence::openNext() {
    std::unique_ptr<File> previous = std::move(file_);
    const std::optional<fs::path> previousChunk = std::exchange(currentChunk_, std::nullopt);
    const std::int64_t previousNumber = currentNumber_;
    const float previousPeak = std::exchange(chunkPeak_, 0.0f);
    previous.reset();

    try {
        platform::createDirectories(audioDir());
    } catch (const std::system_error& dirError) {
        VelnoteLogger::audio().error(texts_.dirFailed, dirError.code().message());
    }
    std::int64_t number = std::max(nextNumber_, highestNumberOnDisk() + 1);
    fs::path path;
    file_ = createFile(number, path);
    nextNumber_ = number + 1;
    framesInChunk_ = 0;
    if (file_) {
        createFailureAlerted_ = false;
        currentChunk_ = path;
        currentNumber_ = number;
        VelnoteLogger::audio().debug(texts_.opened, path.filename().string(), kChunkSettings);
    } else {
        alertOnce(createFailureAlerted_, texts_.createAlert);
    }
    if (previousChunk) {
        judge(*previousChunk, previousNumber, previousPeak);
    }
}

// Creates the chunk file exclusively, moving past numbers whose file already exists. `number`
// ends as the number used (also when creation failed); nullptr on failure, which is logged.
std::unique_ptr<AudioChunkSequence::File> AudioChunkSequence::createFile(std::int64_t& number,
                                                                         fs::path& path) {
    int descriptor = -1;
    int openError = 0;
    for (int attempt = 0;; ++attempt) {
        path = audioDir() / AudioChunkNames::chunkFileName(texts_.chunkPrefix, number);
        descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        openError = errno;
        if (descriptor >= 0 || openError != EEXIST || attempt + 1 == kMaxExclusiveAttempts) {
            break;
        }
        ++number;
    }
    if (descriptor < 0) {
        VelnoteLogger::audio().error(texts_.createFailed, path.string(), std::strerror(openError));
        return nullptr;
    }
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    SNDFILE* handle = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
    if (!handle) {
        VelnoteLogger::audio().error(texts_.createFailed, path.string(), sf_strerror(nullptr));
        ::close(descriptor);
        std::error_code ignored;
        fs::remove(path, ignored);
        return nullptr;
    }
    // Samples beyond full scale clip rather than wrap around. (The header is not rewritten after
    // every write: after a failed write that rewrite puts later audio over earlier audio.)
    sf_command(handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return std::make_unique<File>(descriptor, handle);
}

std::int64_t AudioChunkSequence::highestNumberOnDisk() const {
    std::int64_t highest = -1;
    for (const fs::path& entry : platform::listDirectory(audioDir())) {
        const auto number = AudioChunkNames::chunkNumber(entry, texts_.chunkPrefix);
        // A number with no room after it (a file this sequence never made) is not built upon: the
        // next number would overflow.
        if (number && *number <= kHighestFollowedNumber)
            highest = std::max(highest, *number);
    }
    return highest;
}

void AudioChunkSequence::judge(const fs::path& chunk, std::int64_t number, float peak) {
    if (peak < options_.silenceThreshold) {
        VelnoteLogger::audio().debug(texts_.silentDropped, number, static_cast<double>(peak));
        std::error_code error;
        fs::remove(chunk, error);
        if (error) {
            VelnoteLogger::audio().error(texts_.removeFailed, error.message());
        }
        return;
    }
    if (completed_) {
        completed_(chunk, number);
    }
}

void AudioChunkSequence::alertOnce(bool& alerted, const CaptureAlertText& text) {
    if (alerted) {
        return;
    }
    alerted = true;
    if (alert_) {
        alert_(text.localized());
    }
}

} // namespace velnote
