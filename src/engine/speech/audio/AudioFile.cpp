#include "engine/speech/audio/AudioFile.h"

#include "platform/fs/Files.h"

#include <limits>
#include <sndfile.h>
#include <system_error>

namespace vocalith {

void AudioFile::Closer::operator()(sf_private_tag* file) const {
    sf_close(file);
}

AudioFile::AudioFile(std::unique_ptr<sf_private_tag, Closer> file, PcmFormat format, std::int64_t length)
    : file_(std::move(file)), format_(format), length_(length) {}

AudioFile::AudioFile(AudioFile&&) noexcept = default;
AudioFile& AudioFile::operator=(AudioFile&&) noexcept = default;
AudioFile::~AudioFile() = default;

AudioFile AudioFile::openForReading(const std::filesystem::path& path) {
    // Opened here, not by the library, so that a FIFO in the file's place is refused at once
    // instead of waiting for a writer. The library owns the descriptor from then on, also when it
    // fails.
    velnote::platform::FileDescriptor fd;
    try {
        fd = velnote::platform::openRegularFile(path);
    } catch (const std::system_error& error) {
        throw AudioFileError("Cannot open audio file " + path.string() + ": " + error.what());
    }
    SF_INFO info{};
    std::unique_ptr<sf_private_tag, Closer> file(sf_open_fd(fd.release(), SFM_READ, &info, SF_TRUE));
    if (!file)
        throw AudioFileError("Cannot open audio file " + path.string() + ": " + sf_strerror(nullptr));
    if (info.samplerate <= 0 || info.channels <= 0 || info.frames < 0)
        throw AudioFileError("Unsupported audio format in " + path.string());
    // Samples keep their scale: integer formats become -1.0 ... 1.0, float files stay as stored.
    sf_command(file.get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    const PcmFormat format{static_cast<double>(info.samplerate), static_cast<std::uint32_t>(info.channels)};
    return AudioFile(std::move(file), format, info.frames);
}

void AudioFile::setFramePosition(std::int64_t frame) {
    if (frame < 0 || frame > length_)
        throw AudioFileError("Frame position " + std::to_string(frame) + " is outside the file");
    if (sf_seek(file_.get(), frame, SEEK_SET) < 0)
        throw AudioFileError(std::string("Cannot seek in audio file: ") + sf_strerror(file_.get()));
    position_ = frame;
}

void AudioFile::read(PcmBuffer& buffer, std::uint32_t frames) {
    if (!(buffer.format() == format_) || buffer.frameCapacity() < frames)
        throw AudioFileError("The buffer does not fit the file's processing format");
    const std::size_t channels = format_.channelCount;
    interleaved_.resize(static_cast<std::size_t>(frames) * channels);
    const sf_count_t got = sf_readf_float(file_.get(), interleaved_.data(), frames);
    if (got < static_cast<sf_count_t>(frames) && sf_error(file_.get()) != SF_ERR_NO_ERROR)
        throw AudioFileError(sf_strerror(file_.get()));
    const auto count = static_cast<std::uint32_t>(got < 0 ? 0 : got);
    for (std::size_t channel = 0; channel < channels; ++channel) {
        float* plane = buffer.channelData(static_cast<std::uint32_t>(channel));
        for (std::size_t frame = 0; frame < count; ++frame)
            plane[frame] = interleaved_[frame * channels + channel];
    }
    buffer.setFrameLength(count);
    position_ += count;
}

} // namespace vocalith
