#pragma once

#include "engine/speech/audio/PcmBuffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct sf_private_tag;

namespace vocalith {

// A failure of the audio-file reader itself (cannot open, unknown format, read error), with the
// reader's own words. Passed on unchanged by the loaders, like any platform error.
class AudioFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An audio file open for reading, decoded to 32-bit float: any format libsndfile knows (WAV, AIFF,
// FLAC, Ogg, MP3 where the library has it, ...). Belongs to one caller; not synchronised.
class AudioFile {
  public:
    // Throws AudioFileError when the file cannot be opened, is no regular file or is not audio the
    // reader knows.
    static AudioFile openForReading(const std::filesystem::path& path);

    AudioFile(AudioFile&&) noexcept;
    AudioFile& operator=(AudioFile&&) noexcept;
    ~AudioFile();

    // The file's own rate and channel count.
    const PcmFormat& fileFormat() const { return format_; }
    // The format reads deliver: the same rate and channels, float planes.
    const PcmFormat& processingFormat() const { return format_; }
    // Frames in the file.
    std::int64_t length() const { return length_; }

    // Where the next read starts, in frames.
    std::int64_t framePosition() const { return position_; }
    // Throws AudioFileError when the position is outside 0...length or the file cannot seek.
    void setFramePosition(std::int64_t frame);

    // Reads up to `frames` frames from the current position into `buffer` (whose format must be the
    // processing format), from its start; its frame length becomes the count read, fewer at the end
    // of the file. Throws AudioFileError for a read error or a buffer of another format or too small.
    void read(PcmBuffer& buffer, std::uint32_t frames);

  private:
    struct Closer {
        void operator()(sf_private_tag* file) const;
    };

    AudioFile(std::unique_ptr<sf_private_tag, Closer> file, PcmFormat format, std::int64_t length);

    std::unique_ptr<sf_private_tag, Closer> file_;
    PcmFormat format_;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;
    std::vector<float> interleaved_; // read scratch, kept between reads
};

} // namespace vocalith
