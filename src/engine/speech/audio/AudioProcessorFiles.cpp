// The file side of AudioProcessor: loading, mixing, resampling and window cutting.

#include "engine/foundation/Logging.h"
#include "engine/speech/Constants.h"
#include "engine/speech/TextFormat.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/audio/AudioProcessor.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <limits>
#include <new>
#include <thread>

namespace vocalith {

using basalith::Logging;

namespace {

using Sep = Logging::Separator;

bool pathExists(const std::string& path) {
    // A NUL would end the path early and name another file.
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

// Below this no recording is sound; a rate that low only comes from a damaged header, and
// resampling it to 16 kHz would stretch a small file into an enormous array.
constexpr double kLowestSampleRate = 1000;

AudioFile openExisting(const std::string& path) {
    if (!pathExists(path))
        throw WhisperError::loadAudioFailed("Resource path does not exist " + path);
    AudioFile file = AudioFile::openForReading(path);
    const double rate = file.fileFormat().sampleRate;
    if (rate < kLowestSampleRate)
        throw WhisperError::loadAudioFailed(cFormat("Unsupported sample rate %g Hz in ", rate) + path);
    return file;
}

std::uint32_t frameCount32(std::int64_t length) {
    if (length > std::numeric_limits<std::uint32_t>::max())
        throw WhisperError::loadAudioFailed("Audio file is too long: " + std::to_string(length) + " frames");
    return static_cast<std::uint32_t>(length);
}

void checkTime(std::optional<double> time) {
    if (time && std::isnan(*time))
        throw WhisperError::loadAudioFailed("Invalid time range");
}

// A time in seconds as a frame position within 0...length (truncated toward zero).
std::int64_t frameAt(double seconds, double rate, std::int64_t length) {
    const double frame = std::trunc(seconds * rate);
    if (!(frame > 0))
        return 0;
    if (frame >= static_cast<double>(length))
        return length;
    return static_cast<std::int64_t>(frame);
}

void logBufferDetails(const char* title, double rate, std::uint32_t channels, std::int64_t frames) {
    Logging::debug(Sep{""}, title, " - Sample Rate: ", rate, " Hz, Channel Count: ", channels,
                   ", Frame Length: ", frames, ", Duration: ", static_cast<double>(frames) / rate, "s");
}

void appendPlanes(std::vector<std::vector<float>>& planes, const PcmBuffer& piece) {
    for (std::uint32_t c = 0; c < planes.size(); ++c)
        planes[c].insert(planes[c].end(), piece.channelData(c), piece.channelData(c) + piece.frameLength());
}

std::optional<PcmBuffer> bufferFromPlanes(const PcmFormat& format,
                                          const std::vector<std::vector<float>>& planes) {
    const std::size_t frames = planes.empty() ? 0 : planes.front().size();
    if (frames > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    auto buffer = PcmBuffer::make(format, static_cast<std::uint32_t>(frames));
    if (!buffer)
        return std::nullopt;
    for (std::uint32_t c = 0; c < format.channelCount; ++c)
        std::copy(planes[c].begin(), planes[c].end(), buffer->channelData(c));
    buffer->setFrameLength(static_cast<std::uint32_t>(frames));
    return buffer;
}

float peakMagnitude(const float* samples, std::uint32_t count) {
    float peak = 0;
    for (std::uint32_t i = 0; i < count; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

} // namespace

std::vector<float> AudioProcessor::loadAudioAsFloatArray(const std::string& path,
                                                         const ChannelMode& channelMode,
                                                         std::optional<double> startTime,
                                                         std::optional<double> endTime) {
    checkTime(startTime);
    checkTime(endTime);
    AudioFile file = openExisting(path);
    const PcmFormat format = file.fileFormat();
    const double duration = static_cast<double>(frameCount32(file.length())) / format.sampleRate;
    double start = std::max(startTime.value_or(0.0), 0.0);
    const double end = std::min(endTime.value_or(duration), duration);

    std::unique_ptr<AudioConverter> converter;
    if (!(format.sampleRate == 16000 && format.channelCount == 1)) {
        converter = AudioConverter::make({format.sampleRate, 1}, PcmFormat::working());
        if (!converter)
            throw WhisperError::loadAudioFailed("Failed to process audio buffer");
    }
    std::vector<float> samples;
    const bool anyPiece = start < end;
    // The length is the header's word, and a compressed file's header may claim hours it does not
    // hold: room for more than one piece is made only as samples arrive.
    if (anyPiece)
        samples.reserve(AudioConverter::outputFrameCount(
            static_cast<std::uint64_t>((std::min(end - start, kPieceSeconds)) * format.sampleRate) + 1,
            format.sampleRate, 16000));
    while (start < end) {
        const double pieceEnd = std::min(start + kPieceSeconds, end);
        PcmBuffer piece = loadAudio(file, channelMode, start, pieceEnd, std::nullopt, converter.get());
        const std::vector<float> pieceSamples = convertBufferToArray(piece, kCopyChunkSize);
        samples.insert(samples.end(), pieceSamples.begin(), pieceSamples.end());
        // A piece that stopped short: the file ended before its stated length, and what it holds is in.
        if (file.framePosition() < frameAt(pieceEnd, format.sampleRate, file.length()))
            break;
        start = pieceEnd;
    }
    if (converter && anyPiece) {
        const PcmBuffer tail = converter->finish();
        samples.insert(samples.end(), tail.channelData(0), tail.channelData(0) + tail.frameLength());
    }
    return samples;
}

PcmBuffer AudioProcessor::loadAudio(const std::string& path, const ChannelMode& channelMode,
                                    std::optional<double> startTime, std::optional<double> endTime,
                                    std::optional<std::uint32_t> maxReadFrameSize) {
    AudioFile file = openExisting(path);
    return loadAudio(file, channelMode, startTime, endTime, maxReadFrameSize);
}

PcmBuffer AudioProcessor::loadAudio(AudioFile& file, const ChannelMode& channelMode,
                                    std::optional<double> startTime, std::optional<double> endTime,
                                    std::optional<std::uint32_t> maxReadFrameSize, AudioConverter* carried) {
    checkTime(startTime);
    checkTime(endTime);
    const double rate = file.fileFormat().sampleRate;
    const std::uint32_t channels = file.fileFormat().channelCount;
    const std::int64_t length = frameCount32(file.length());
    const std::int64_t startFrame = frameAt(startTime.value_or(0.0), rate, length);
    const std::int64_t endFrame = endTime ? std::max(frameAt(*endTime, rate, length), startFrame) : length;
    const auto frames = static_cast<std::uint32_t>(endFrame - startFrame);
    file.setFramePosition(startFrame);

    std::optional<PcmBuffer> result;
    if (rate == 16000 && channels == 1) {
        result = PcmBuffer::make(file.processingFormat(), frames);
        if (!result)
            throw WhisperError::loadAudioFailed("Unable to create audio buffer");
        try {
            file.read(*result, frames);
        } catch (const AudioFileError& error) {
            throw WhisperError::loadAudioFailed(std::string("Failed to read audio file: ") + error.what());
        }
    } else {
        result = resampleAudio(file, 16000, 1, channelMode, frames,
                               maxReadFrameSize.value_or(Constants::defaultAudioReadFrameSize), carried);
        if (!result)
            throw WhisperError::loadAudioFailed("Failed to process audio buffer");
    }
    logBufferDetails("Audio source details", rate, channels, length);
    logBufferDetails("Audio buffer details", result->format().sampleRate, result->format().channelCount,
                     result->frameLength());
    Logging::logCurrentMemoryUsage("After loadAudio function");
    return *std::move(result);
}

std::vector<AudioLoadOutcome> AudioProcessor::loadAudio(const std::vector<std::string>& paths,
                                                        const ChannelMode& channelMode) {
    std::vector<AudioLoadOutcome> outcomes(paths.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            try {
                outcomes[i] = loadAudioAsFloatArray(paths[i], channelMode, 0.0, std::nullopt);
            } catch (...) {
                outcomes[i] = std::current_exception();
            }
        }
    };
    // One worker per processor at most: each load may hold 600 s of decoded audio.
    const std::size_t workers =
        std::min<std::size_t>(paths.size(), std::max(1u, std::thread::hardware_concurrency()));
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 1; i < workers; ++i)
            threads.emplace_back(work);
        work();
    }
    return outcomes;
}

std::future<PcmBuffer> AudioProcessor::loadAudioAsync(const std::string& path) {
    return std::async(std::launch::async, [path] {
        return loadAudio(path, AudioInputConfig::SumChannels{}, 0.0, std::nullopt, std::nullopt);
    });
}

std::optional<PcmBuffer>
AudioProcessor::resampleAudio(AudioFile& file, double toSampleRate, std::uint32_t channelCount,
                              const ChannelMode& channelMode, std::optional<std::uint32_t> frameCount,
                              std::uint32_t maxReadFrameSize, AudioConverter* carried) {
    const double inputRate = file.fileFormat().sampleRate;
    const std::int64_t startPosition = file.framePosition();
    const std::int64_t inputFrames = frameCount ? static_cast<std::int64_t>(*frameCount) : file.length();
    const std::int64_t endPosition = std::min(startPosition + inputFrames, file.length());
    const PcmFormat outputFormat{toSampleRate, channelCount};
    if (!outputFormat.isValid()) {
        Logging::error("Failed to create output audio format");
        return std::nullopt;
    }
    Logging::debug(Sep{""}, "Resampling ", cFormat("%.2f", static_cast<double>(inputFrames) / inputRate),
                   " seconds of audio");
    std::unique_ptr<AudioConverter> own;
    AudioConverter* converter = carried;
    if (!converter) {
        own = AudioConverter::make({inputRate, 1}, outputFormat);
        converter = own.get();
    }
    if (!converter || !(converter->outputFormat() == outputFormat)) {
        Logging::error("Failed to create audio converter");
        return std::nullopt;
    }
    auto readBuffer =
        maxReadFrameSize > 0 ? PcmBuffer::make(file.processingFormat(), maxReadFrameSize) : std::nullopt;
    if (!readBuffer) {
        Logging::error(Logging::Separator{""}, "Failed to create read buffer of ", maxReadFrameSize,
                       " frames");
        return std::nullopt;
    }
    std::vector<std::vector<float>> output(channelCount);
    try {
        for (auto& plane : output)
            plane.reserve(AudioConverter::outputFrameCount(static_cast<std::uint64_t>(inputFrames), inputRate,
                                                           toSampleRate));
        for (std::int64_t current = startPosition; current < endPosition;) {
            const auto toRead =
                static_cast<std::uint32_t>(std::min<std::int64_t>(endPosition - current, maxReadFrameSize));
            const std::int64_t next = current + toRead;
            Logging::debug(Sep{""}, "Resampling ", cFormat("%.2f", static_cast<double>(current) / inputRate),
                           "s - ", cFormat("%.2f", static_cast<double>(next) / inputRate), "s");
            try {
                file.read(*readBuffer, toRead);
            } catch (const AudioFileError& error) {
                Logging::error(Logging::Separator{""}, "Error reading audio file: ", error.what());
                return std::nullopt;
            }
            if (readBuffer->frameLength() == 0)
                break; // the file ended before its stated length
            // Mono reads need no mixing (and no copy).
            std::optional<PcmBuffer> mixed;
            if (readBuffer->format().channelCount > 1) {
                mixed = convertToMono(*readBuffer, channelMode);
                if (!mixed) {
                    Logging::error("Failed to process audio channels");
                    return std::nullopt;
                }
            }
            try {
                appendPlanes(output, converter->convert(mixed ? *mixed : *readBuffer));
            } catch (const WhisperError& error) {
                Logging::error("Failed to resample audio chunk");
                return std::nullopt;
            }
            current = next;
        }
        if (own)
            appendPlanes(output, own->finish());
    } catch (const std::bad_alloc&) {
        Logging::error("Failed to create output buffer");
        return std::nullopt;
    }
    auto result = bufferFromPlanes(outputFormat, output);
    if (!result)
        Logging::error("Failed to create output buffer");
    return result;
}

std::optional<PcmBuffer> AudioProcessor::resampleAudio(const PcmBuffer& buffer, double toSampleRate,
                                                       std::uint32_t channelCount) {
    const PcmFormat outputFormat{toSampleRate, channelCount};
    if (!outputFormat.isValid()) {
        Logging::error("Failed to create output audio format");
        return std::nullopt;
    }
    const auto converter = AudioConverter::make(buffer.format(), outputFormat);
    if (!converter) {
        Logging::error("Failed to create audio converter");
        return std::nullopt;
    }
    try {
        return resampleBuffer(buffer, *converter);
    } catch (const WhisperError& error) {
        Logging::error(Logging::Separator{""}, "Failed to resample buffer: ", error.message());
        return std::nullopt;
    }
}

PcmBuffer AudioProcessor::resampleBuffer(const PcmBuffer& buffer, AudioConverter& converter, StreamEnd end) {
    const double capacity =
        converter.outputFormat().sampleRate * buffer.frameLength() / converter.inputFormat().sampleRate;
    const std::uint64_t frames = AudioConverter::outputFrameCount(
        buffer.frameLength(), converter.inputFormat().sampleRate, converter.outputFormat().sampleRate);
    if (capacity != std::trunc(capacity)) {
        Logging::debug("Rounding buffer frame capacity from", capacity, "to", static_cast<double>(frames),
                       "to better fit new sample rate");
    }
    PcmBuffer converted = converter.convert(buffer);
    if (end == StreamEnd::open)
        return converted;
    const PcmBuffer tail = converter.finish();
    auto whole = PcmBuffer::make(converted.format(), converted.frameLength() + tail.frameLength());
    if (!whole)
        throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
    whole->appendContents(converted, 0, converted.frameLength());
    whole->appendContents(tail, 0, tail.frameLength());
    return *std::move(whole);
}

std::optional<PcmBuffer> AudioProcessor::convertToMono(const PcmBuffer& buffer, const ChannelMode& mode) {
    const std::uint32_t channels = buffer.format().channelCount;
    if (channels < 2)
        return buffer;
    auto mono = PcmBuffer::make({buffer.format().sampleRate, 1}, buffer.frameCapacity());
    if (!mono) {
        Logging::error("Failed to create mono buffer.");
        return std::nullopt;
    }
    const std::uint32_t frames = buffer.frameLength();
    mono->setFrameLength(frames);
    float* out = mono->channelData(0);
    auto copyChannel = [&](std::uint32_t channel) {
        std::copy_n(buffer.channelData(channel), frames, out);
        return mono;
    };
    if (const auto* specific = std::get_if<AudioInputConfig::SpecificChannel>(&mode)) {
        const int index = specific->channel;
        return copyChannel(index >= 0 && static_cast<std::uint32_t>(index) < channels
                               ? static_cast<std::uint32_t>(index)
                               : 0);
    }
    const auto& list = std::get<AudioInputConfig::SumChannels>(mode).channels;
    std::vector<std::uint32_t> used;
    if (list && !list->empty()) {
        for (const int index : *list) {
            if (index >= 0 && static_cast<std::uint32_t>(index) < channels)
                used.push_back(static_cast<std::uint32_t>(index));
        }
        if (used.empty()) {
            Logging::debug("No valid channel indices provided, defaulting to first channel");
            return copyChannel(0);
        }
    } else {
        for (std::uint32_t c = 0; c < channels; ++c)
            used.push_back(c);
    }
    float peak = 0;
    for (const auto channel : used) {
        peak = std::max(peak, peakMagnitude(buffer.channelData(channel), frames));
        const float* in = buffer.channelData(channel);
        for (std::uint32_t i = 0; i < frames; ++i)
            out[i] += in[i];
    }
    const float scale = peak / std::max(peakMagnitude(out, frames), 0.0001f);
    for (std::uint32_t i = 0; i < frames; ++i)
        out[i] *= scale;
    return mono;
}

std::vector<float> AudioProcessor::convertBufferToArray(PcmBuffer& buffer, int chunkSize) {
    const std::uint32_t frames = buffer.frameLength();
    const std::uint32_t step = chunkSize > 0 ? static_cast<std::uint32_t>(chunkSize) : std::max(frames, 1u);
    std::vector<float> samples;
    samples.reserve(frames);
    float* plane = buffer.channelData(0);
    for (std::uint32_t offset = 0; offset < frames; offset += std::min(step, frames - offset)) {
        const std::uint32_t count = std::min(step, frames - offset);
        samples.insert(samples.end(), plane + offset, plane + offset + count);
        std::fill_n(plane + offset, count, 0.0f);
    }
    return samples;
}

std::optional<basalith::MultiArray> AudioProcessor::padOrTrimAudio(const std::vector<float>& audioArray,
                                                                   std::int64_t startAt,
                                                                   std::int64_t toLength,
                                                                   bool /*saveSegment*/) {
    const auto count = static_cast<std::int64_t>(audioArray.size());
    if (startAt < 0 || startAt >= count) {
        Logging::error("startIndex is outside the buffer size");
        return std::nullopt;
    }
    if (toLength <= 0)
        return std::nullopt;
    const std::int64_t taken = std::min(startAt + std::min(toLength, count), count) - startAt;
    try {
        basalith::MultiArray window({toLength}, basalith::MultiArrayDataType::float32);
        float* data = window.dataAs<float>();
        std::copy_n(audioArray.begin() + startAt, taken, data);
        std::fill(data + taken, data + toLength, 0.0f);
        return window;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace vocalith
