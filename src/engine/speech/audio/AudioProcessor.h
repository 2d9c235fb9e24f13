#pragma once

#include "engine/foundation/MultiArray.h"
#include "engine/speech/audio/AudioConverter.h"
#include "engine/speech/audio/AudioFile.h"
#include "engine/speech/audio/AudioInputConfig.h"
#include "engine/speech/audio/PcmBuffer.h"

#include <cstdint>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vocalith {

// The window the audio side hands to the feature extractor.
using AudioProcessorOutputType = basalith::MultiArray;

// For one path of a batch load: its samples, or the error that ended its load.
using AudioLoadOutcome = std::variant<std::vector<float>, std::exception_ptr>;

// Whether a conversion ends its stream (the converter's held-back frames are added and the
// converter starts afresh) or leaves it open for the next buffer.
enum class StreamEnd { open, finish };

// Turns audio files of any rate and channel count into the engine's working form (16 kHz mono
// float samples) and cuts model windows out of sample arrays.
//
// The file side is class-level and keeps no state: any thread may call it, several at once; an open
// file and a buffer belong to the one call that made them. Long files are read in pieces of at most
// 600 s, and each piece in reads of at most `maxReadFrameSize` frames, so memory stays bounded; one
// converter carries its state across all the pieces of one load, so no piece boundary is audible.
class AudioProcessor {
  public:
    // Seconds of audio decoded per piece by loadAudioAsFloatArray.
    static constexpr double kPieceSeconds = 600;
    // Samples copied at a time out of a decoded piece.
    static constexpr int kCopyChunkSize = 1024;

    // The whole file, or the range startTime...endTime (seconds; the end clamped to the duration),
    // as 16 kHz mono samples; empty when the range is empty. Throws WhisperError::loadAudioFailed
    // ("Resource path does not exist <path>", a bad range, or a failed piece: nothing partial is
    // returned), and AudioFileError when the file cannot be opened as audio.
    static std::vector<float> loadAudioAsFloatArray(
        const std::string& path, const ChannelMode& channelMode = AudioInputConfig::SumChannels{},
        std::optional<double> startTime = 0.0, std::optional<double> endTime = std::nullopt);

    // The range as one 16 kHz mono buffer. A 16 kHz mono file is read as it is (the channel mode does
    // not matter then); any other is mixed with `channelMode` and resampled in reads of
    // `maxReadFrameSize` frames (Constants::defaultAudioReadFrameSize when absent). Start times below
    // 0 count as 0; an end before the start gives an empty buffer. Throws as loadAudioAsFloatArray,
    // and WhisperError::loadAudioFailed for a file longer than 2^32 - 1 frames.
    static PcmBuffer loadAudio(const std::string& path,
                               const ChannelMode& channelMode = AudioInputConfig::SumChannels{},
                               std::optional<double> startTime = 0.0,
                               std::optional<double> endTime = std::nullopt,
                               std::optional<std::uint32_t> maxReadFrameSize = std::nullopt);
    // The same on an open file. With `carried` (a converter from the file's rate, mono, to 16 kHz
    // mono) the range continues that converter's stream and its held-back frames stay in it for the
    // next range; the caller ends the stream. Without it the call converts the range as one stream.
    static PcmBuffer loadAudio(AudioFile& file, const ChannelMode& channelMode,
                               std::optional<double> startTime, std::optional<double> endTime,
                               std::optional<std::uint32_t> maxReadFrameSize,
                               AudioConverter* carried = nullptr);

    // Every path loaded whole (all channels summed by `channelMode`), concurrently, one outcome per
    // path in path order. Never throws: a path's failure is its outcome.
    static std::vector<AudioLoadOutcome> loadAudio(const std::vector<std::string>& paths,
                                                   const ChannelMode& channelMode);
    // loadAudio(path) with all channels summed, on a thread of its own; errors come from get().
    static std::future<PcmBuffer> loadAudioAsync(const std::string& path);

    // Reads `frameCount` frames (the rest of the file when absent) from the file's position and
    // converts them to `toSampleRate` with `channelCount` channels, `maxReadFrameSize` frames at a
    // time, each read mixed with `channelMode` first. `carried` as for loadAudio. Absent (with an
    // error line) when a format, the converter, a read or a conversion fails.
    static std::optional<PcmBuffer> resampleAudio(AudioFile& file, double toSampleRate,
                                                  std::uint32_t channelCount, const ChannelMode& channelMode,
                                                  std::optional<std::uint32_t> frameCount,
                                                  std::uint32_t maxReadFrameSize,
                                                  AudioConverter* carried = nullptr);
    // One buffer converted as a whole stream with a converter of its own. Absent (with an error
    // line) when the converter cannot be made (another channel count, say) or the conversion fails.
    static std::optional<PcmBuffer> resampleAudio(const PcmBuffer& buffer, double toSampleRate,
                                                  std::uint32_t channelCount);
    // `buffer` through `converter`. Ending the stream gives exactly the capacity rule's frames
    // (AudioConverter::outputFrameCount; a debug line when it rounds); an open stream gives the
    // frames ready so far. Throws WhisperError::audioProcessingFailed ("Failed to create converted
    // buffer", "Error converting audio: ...").
    static PcmBuffer resampleBuffer(const PcmBuffer& buffer, AudioConverter& converter,
                                    StreamEnd end = StreamEnd::finish);

    // One channel from several: `specificChannel(i)` copies channel i (channel 0 for an index the
    // buffer lacks); `sumChannels` adds the listed channels (all when the list is absent or empty;
    // indices out of range dropped, channel 0 when none is left) and scales the sum so that its peak
    // equals the loudest used channel's peak. A buffer with fewer than 2 channels comes back as it
    // is. Absent when the mono buffer cannot be made.
    static std::optional<PcmBuffer> convertToMono(const PcmBuffer& buffer, const ChannelMode& mode);

    // The first channel's filled frames as samples, copied `chunkSize` at a time (the whole length
    // at once when chunkSize is not above 0). The copied samples are cleared in the buffer.
    static std::vector<float> convertBufferToArray(PcmBuffer& buffer, int chunkSize);

    // A window of `toLength` samples from `startAt`, padded with zeros past the end of the array.
    // Absent with the error line "startIndex is outside the buffer size" when startAt is negative or
    // not below the count, and absent for a length not above 0. `saveSegment` has no effect.
    static std::optional<basalith::MultiArray> padOrTrimAudio(const std::vector<float>& audioArray,
                                                              std::int64_t startAt, std::int64_t toLength,
                                                              bool saveSegment = false);
};

} // namespace vocalith
