// The live side of AudioProcessor: recording from the sound server, the sample and energy stores,
// the energy rules, the device list and the waveform picture.

#include "engine/speech/audio/AudioProcessor.h"

#include "engine/foundation/Logging.h"
#include "engine/speech/WhisperError.h"
#include "platform/audio/AudioServerError.h"
#include "platform/audio/PulseClient.h"
#include "platform/concurrency/SerialExecutor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace vocalith {

using basalith::Logging;
namespace platform = velnote::platform;

// One capture set-up: the stream request, the server's stream while it runs, and the converter of
// the recording. `request` and `stream` belong to the control side (under controlMutex_), the
// converter to the audio thread.
struct AudioProcessor::LiveEngine {
    platform::AudioRecordRequest request;
    std::unique_ptr<platform::AudioRecordStream> stream;
    std::unique_ptr<AudioConverter> converter;
    PcmFormat converterInput;
    // Mono frames at `pendingRate` not yet making up a whole buffer of minBufferLength frames.
    std::vector<float> pending;
    std::uint32_t pendingRate = 0;
};

namespace {

// The sound server delivers interleaved frames; the engine wants one channel. Channels are averaged:
// a fixed mix, so the level does not pump from one buffer to the next.
std::vector<float> mixDown(std::vector<float>&& interleaved, std::uint32_t channels) {
    if (channels <= 1)
        return std::move(interleaved);
    std::vector<float> mono(interleaved.size() / channels);
    for (std::size_t frame = 0; frame < mono.size(); ++frame) {
        float sum = 0;
        for (std::uint32_t c = 0; c < channels; ++c)
            sum += interleaved[frame * channels + c];
        mono[frame] = sum / static_cast<float>(channels);
    }
    return mono;
}

float rootMeanSquare(const std::vector<float>& samples) {
    if (samples.empty())
        return 0;
    double sum = 0;
    for (const float sample : samples)
        sum += static_cast<double>(sample) * sample;
    return static_cast<float>(std::sqrt(sum / static_cast<double>(samples.size())));
}

} // namespace

AudioProcessor::AudioProcessor() : lifetime_(std::make_shared<Lifetime>()) {
    lifetime_->self = this;
}

AudioProcessor::~AudioProcessor() {
    {
        std::lock_guard lock(lifetime_->mutex);
        lifetime_->self = nullptr;
    }
    stopRecording();
}

std::vector<float> AudioProcessor::audioSamples() const {
    return audioSamples_.get();
}

void AudioProcessor::purgeAudioSamples(std::int64_t keepingLast) {
    audioSamples_.modify([&](std::vector<float>& stored) {
        // A negative count is a caller's slip: nothing is dropped for it.
        if (keepingLast < 0 || static_cast<std::uint64_t>(keepingLast) >= stored.size())
            return;
        stored.erase(stored.begin(), stored.end() - static_cast<std::ptrdiff_t>(keepingLast));
    });
}

std::vector<AudioEnergy> AudioProcessor::audioEnergy() const {
    return audioEnergy_.get();
}

std::vector<float> AudioProcessor::relativeEnergy() const {
    const auto records = audioEnergy_.get();
    std::vector<float> energies;
    energies.reserve(records.size());
    for (const auto& energy : records)
        energies.push_back(energy.rel);
    return energies;
}

int AudioProcessor::relativeEnergyWindow() const {
    return relativeEnergyWindow_.get();
}

void AudioProcessor::setRelativeEnergyWindow(int window) {
    relativeEnergyWindow_.set(window);
}

AudioBufferCallback AudioProcessor::audioBufferCallback() const {
    return audioBufferCallback_.get();
}

void AudioProcessor::setAudioBufferCallback(AudioBufferCallback callback) {
    audioBufferCallback_.set(std::move(callback));
}

int AudioProcessor::minBufferLength() const {
    return minBufferLength_.get();
}

void AudioProcessor::setMinBufferLength(int frames) {
    minBufferLength_.set(frames);
}

bool AudioProcessor::isInputSuppressed() const {
    return isInputSuppressed_.get();
}

void AudioProcessor::setInputSuppressed(bool suppressed) {
    isInputSuppressed_.set(suppressed);
}

bool AudioProcessor::hasAudioEngine() const {
    std::lock_guard lock(controlMutex_);
    return audioEngine_ != nullptr;
}

void AudioProcessor::startRecordingLive(std::optional<DeviceID> inputDeviceID, AudioBufferCallback callback) {
    std::lock_guard lock(controlMutex_);
    stopLocked();
    audioSamples_.set({});
    audioEnergy_.set({});
    // Set before the stream opens, so that no buffer misses it.
    AudioBufferCallback previous;
    audioBufferCallback_.modify(
        [&](AudioBufferCallback& current) { previous = std::exchange(current, std::move(callback)); });
    try {
        audioEngine_ = setupEngine(inputDeviceID);
    } catch (...) {
        setAudioBufferCallback(std::move(previous));
        throw;
    }
    lastInputDevice_ = inputDeviceID;
}

StreamingRecording AudioProcessor::startStreamingRecordingLive(std::optional<DeviceID> inputDeviceID) {
    auto [stream, continuation] = AudioSampleStream::make();
    continuation->setOnTermination([life = lifetime_] {
        std::lock_guard lock(life->mutex);
        if (life->self) {
            life->self->setAudioBufferCallback({});
            life->self->stopRecording();
        }
    });
    try {
        startRecordingLive(inputDeviceID, [continuation](const std::vector<float>& samples) {
            continuation->yield(samples);
        });
    } catch (...) {
        continuation->finish(std::current_exception());
    }
    return {std::move(stream), continuation};
}

void AudioProcessor::pauseRecording() {
    std::lock_guard lock(controlMutex_);
    if (audioEngine_)
        closeStream(audioEngine_);
}

void AudioProcessor::stopRecording() {
    std::lock_guard lock(controlMutex_);
    stopLocked();
}

void AudioProcessor::stopLocked() {
    if (!audioEngine_)
        return;
    closeStream(audioEngine_);
    audioEngine_.reset();
}

void AudioProcessor::resumeRecordingLive(std::optional<DeviceID> inputDeviceID,
                                         AudioBufferCallback callback) {
    {
        std::lock_guard lock(controlMutex_);
        if (inputDeviceID == lastInputDevice_) {
            if (audioEngine_ && !audioEngine_->stream)
                openStream(audioEngine_);
        } else {
            if (audioEngine_)
                closeStream(audioEngine_);
            audioEngine_ = setupEngine(inputDeviceID);
        }
    }
    if (callback)
        setAudioBufferCallback(std::move(callback));
}

std::shared_ptr<AudioProcessor::LiveEngine>
AudioProcessor::setupEngine(std::optional<DeviceID> inputDeviceID) {
    if (!client_)
        client_ =
            std::make_unique<platform::PulseClient>(platform::PulseClient::Options{.clientName = "Vocalith"});
    client_->connect();
    if (!audioThread_)
        audioThread_ = std::make_unique<platform::SerialExecutor>();
    auto engine = std::make_shared<LiveEngine>();
    engine->request.streamName = "Live recording";
    if (inputDeviceID) {
        const auto sources = client_->sources();
        const auto found = std::find_if(sources.begin(), sources.end(),
                                        [&](const auto& source) { return source.index == *inputDeviceID; });
        if (found == sources.end()) {
            Logging::error(Logging::Separator{""}, "Error setting input device: no input with id ",
                           *inputDeviceID);
        } else {
            engine->request.sourceName = found->name;
            Logging::info("Successfully set input device.");
        }
    }
    // Buffers of minBufferLength frames at the source's own rate.
    const auto source =
        client_->source(engine->request.sourceName.value_or(client_->serverInfo().defaultSourceName));
    const double rate = source && source->format.sampleRate > 0 ? source->format.sampleRate : 16000.0;
    const auto frames = static_cast<double>(std::max(minBufferLength(), 1));
    engine->request.fragment =
        std::chrono::milliseconds(std::max<long>(1, std::lround(frames * 1000 / rate)));
    openStream(engine);
    return engine;
}

void AudioProcessor::openStream(const std::shared_ptr<LiveEngine>& engine) {
    platform::AudioRecordHandlers handlers;
    // Runs on the server's event thread: hand the block to the audio thread and return. Weak: the
    // engine owns the stream that owns this handler.
    handlers.data = [this, weak = std::weak_ptr<LiveEngine>(engine)](std::vector<float>&& interleaved,
                                                                     const platform::AudioFormat& format) {
        audioThread_->post([this, weak, samples = std::move(interleaved), format]() mutable {
            if (const auto engine = weak.lock())
                onServerBuffer(*engine, std::move(samples), format.sampleRate, format.channels);
        });
    };
    handlers.failed = [](const std::string& reason) {
        Logging::error(Logging::Separator{""}, "The live recording ended: ", reason);
    };
    handlers.moved = [](const std::string& source) {
        Logging::info(Logging::Separator{""}, "The live recording moved to ", source);
    };
    engine->stream = client_->openRecordStream(engine->request, std::move(handlers));
}

void AudioProcessor::closeStream(const std::shared_ptr<LiveEngine>& engine) {
    // After the stream is gone no handler runs; what it handed over is still queued.
    engine->stream.reset();
    auto flush = [this, engine] {
        if (!engine->pending.empty())
            processServerBlock(*engine, std::exchange(engine->pending, {}), engine->pendingRate);
        if (!engine->converter)
            return;
        PcmBuffer tail = engine->converter->finish();
        if (tail.frameLength() > 0)
            processBuffer(convertBufferToArray(tail, kCopyChunkSize));
    };
    if (audioThread_->isCurrent()) {
        // Stopped from a buffer callback: the queued blocks come first, then the flush.
        audioThread_->post(flush);
    } else {
        audioThread_->submit(flush).get();
    }
}

void AudioProcessor::onServerBuffer(LiveEngine& engine, std::vector<float>&& interleaved, std::uint32_t rate,
                                    std::uint32_t channels) {
    // The server cuts its blocks as it likes (often half a buffer, sometimes a few frames), but one
    // energy record must stand for one buffer of minBufferLength frames: the voice check counts
    // records as time. So the blocks are gathered into whole buffers here.
    std::vector<float> mono = mixDown(std::move(interleaved), channels);
    if (rate != engine.pendingRate && !engine.pending.empty())
        processServerBlock(engine, std::exchange(engine.pending, {}), engine.pendingRate);
    engine.pendingRate = rate;
    const auto frames = static_cast<std::size_t>(std::max(minBufferLength(), 1));
    std::vector<float>& pending = engine.pending;
    pending.insert(pending.end(), mono.begin(), mono.end());
    std::size_t used = 0;
    for (; pending.size() - used >= frames; used += frames) {
        const auto first = pending.begin() + static_cast<std::ptrdiff_t>(used);
        processServerBlock(engine, std::vector<float>(first, first + static_cast<std::ptrdiff_t>(frames)),
                           rate);
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
}

void AudioProcessor::processServerBlock(LiveEngine& engine, std::vector<float>&& samples,
                                        std::uint32_t rate) {
    if (rate != 16000) {
        const PcmFormat input{static_cast<double>(rate), 1};
        if (!engine.converter || !(engine.converterInput == input)) {
            engine.converter = AudioConverter::make(input, PcmFormat::working());
            engine.converterInput = input;
        }
        auto buffer = engine.converter ? PcmBuffer::make(input, static_cast<std::uint32_t>(samples.size()))
                                       : std::nullopt;
        if (!buffer) {
            Logging::error(Logging::Separator{""}, "Failed to resample buffer: no converter from ", rate,
                           " Hz");
            return;
        }
        std::copy(samples.begin(), samples.end(), buffer->channelData(0));
        buffer->setFrameLength(static_cast<std::uint32_t>(samples.size()));
        try {
            PcmBuffer converted = resampleBuffer(*buffer, *engine.converter, StreamEnd::open);
            samples = convertBufferToArray(converted, kCopyChunkSize);
        } catch (const WhisperError& error) {
            Logging::error(Logging::Separator{""}, "Failed to resample buffer: ", error.message());
            return;
        }
    }
    if (samples.empty())
        return; // the converter holds the start of the recording back for a moment
    if (isInputSuppressed())
        std::fill(samples.begin(), samples.end(), 0.0f);
    processBuffer(samples);
}

void AudioProcessor::processBuffer(const std::vector<float>& samples) {
    std::size_t stored = 0;
    audioSamples_.modify([&](std::vector<float>& all) {
        all.insert(all.end(), samples.begin(), samples.end());
        stored = all.size();
    });
    AudioEnergy energy = calculateEnergy(samples);
    audioEnergy_.modify([&](std::vector<AudioEnergy>& records) {
        float reference = std::numeric_limits<float>::infinity();
        const std::size_t recent = std::min<std::size_t>(records.size(), 20);
        for (auto it = records.end() - static_cast<std::ptrdiff_t>(recent); it != records.end(); ++it)
            reference = std::min(reference, it->avg);
        energy.rel = calculateRelativeEnergy(samples, reference);
        records.push_back(energy);
    });
    const long long cadence = static_cast<long long>(minBufferLength_.get()) * relativeEnergyWindow_.get();
    if (cadence > 0 && stored % static_cast<unsigned long long>(cadence) == 0) {
        Logging::debug(Logging::Separator{""}, "Current audio size: ", stored,
                       " samples, most recent buffer: ", samples.size(), " samples, most recent energy: (",
                       energy.rel, ", ", energy.avg, ", ", energy.max, ", ", energy.min, ")");
    }
    if (const auto callback = audioBufferCallback_.get())
        callback(samples);
}

std::optional<AudioProcessorOutputType>
AudioProcessor::padOrTrim(const std::vector<float>& audioArray, std::int64_t startAt, std::int64_t toLength) {
    return padOrTrimAudio(audioArray, startAt, toLength);
}

std::vector<AudioDevice> AudioProcessor::getAudioDevices() {
    std::unique_ptr<platform::PulseClient> client;
    std::string defaultSource;
    try {
        client =
            std::make_unique<platform::PulseClient>(platform::PulseClient::Options{.clientName = "Vocalith"});
        client->connect();
        defaultSource = client->serverInfo().defaultSourceName;
    } catch (const std::exception&) {
        Logging::error("Error: Unable to get the number of audio devices.");
        return {};
    }
    std::vector<AudioDevice> devices;
    try {
        for (const auto& source : client->sources()) {
            // A monitor records what an output plays: an output, not an input, unless it is what
            // the server takes as its input.
            if ((source.isMonitor && source.name != defaultSource) || source.format.channels == 0)
                continue;
            devices.push_back({source.index, source.description.empty() ? source.name : source.description});
        }
    } catch (const std::exception&) {
        Logging::error("Error: Unable to get the audio device IDs.");
        return {};
    }
    return devices;
}

bool AudioProcessor::requestRecordPermission() {
    return true;
}

float AudioProcessor::calculateAverageEnergy(const std::vector<float>& samples) {
    return rootMeanSquare(samples);
}

AudioEnergy AudioProcessor::calculateEnergy(const std::vector<float>& samples) {
    if (samples.empty())
        return {};
    AudioEnergy energy{
        .avg = rootMeanSquare(samples), .max = 0, .min = std::numeric_limits<float>::infinity()};
    for (const float sample : samples) {
        energy.max = std::max(energy.max, std::fabs(sample));
        energy.min = std::min(energy.min, std::fabs(sample));
    }
    return energy;
}

float AudioProcessor::calculateRelativeEnergy(const std::vector<float>& samples,
                                              std::optional<float> relativeTo) {
    const float signal = 20.0f * std::log10(rootMeanSquare(samples));
    const float reference = relativeTo ? 20.0f * std::log10(std::max(*relativeTo, 1e-8f)) : -60.0f;
    const float relative = (signal - reference) / (0.0f - reference);
    if (std::isnan(relative) || relative < 0)
        return 0;
    return std::min(relative, 1.0f);
}

bool AudioProcessor::isVoiceDetected(const std::vector<float>& energy, float nextBufferInSeconds,
                                     float silenceThreshold) {
    // One relative energy per 0.1 s; the quotient in single precision, as 0.5 / 0.1 must give 5.
    const float buffers = std::trunc(nextBufferInSeconds / 0.1f);
    const auto newest = std::isfinite(buffers) && buffers > 0
                            ? std::min(static_cast<std::size_t>(std::min(buffers, 1e15f)), energy.size())
                            : std::size_t{0};
    const std::size_t examined = std::min(newest, std::max<std::size_t>(newest > 10 ? newest - 10 : 0, 10));
    const auto first = energy.end() - static_cast<std::ptrdiff_t>(newest);
    return std::any_of(first, first + static_cast<std::ptrdiff_t>(examined),
                       [&](float value) { return value > silenceThreshold; });
}

std::vector<bool> AudioProcessor::calculateVoiceActivityInChunks(const std::vector<float>& samples,
                                                                 std::int64_t chunkCount,
                                                                 std::int64_t frameLengthSamples,
                                                                 std::int64_t frameOverlapSamples,
                                                                 float energyThreshold) {
    return vocalith::calculateVoiceActivityInChunks(samples, chunkCount, frameLengthSamples,
                                                    frameOverlapSamples, energyThreshold);
}

std::vector<IndexRange> AudioProcessor::calculateNonSilentChunks(const std::vector<float>& samples) {
    return EnergyVAD().calculateActiveChunks(samples);
}

std::optional<platform::RgbImage> AudioProcessor::createWaveformImage(const std::vector<float>& audio,
                                                                      double width, double height) {
    constexpr double kLargest = 16384;
    if (!(width >= 1 && height >= 1 && width <= kLargest && height <= kLargest))
        return std::nullopt;
    platform::RgbImage image;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.pixels.assign(static_cast<std::size_t>(image.width) * image.height * 3, 0xff);
    const std::uint64_t count = audio.size();
    if (count == 0)
        return image;
    auto rowOf = [&](float value) {
        const float clamped = std::isnan(value) ? 0.0f : std::clamp(value, -1.0f, 1.0f);
        return static_cast<int>(std::lround((1.0f - clamped) / 2.0f * static_cast<float>(image.height - 1)));
    };
    const auto columns = static_cast<std::uint64_t>(image.width);
    for (std::uint64_t x = 0; x < columns; ++x) {
        // The column's share of the samples; the nearest sample when it has none of its own.
        const std::uint64_t begin = std::min(x * count / columns, count - 1);
        const std::uint64_t end = std::max(begin + 1, (x + 1) * count / columns);
        const auto [low, high] = std::minmax_element(audio.begin() + static_cast<std::ptrdiff_t>(begin),
                                                     audio.begin() + static_cast<std::ptrdiff_t>(end));
        for (int y = rowOf(*high); y <= rowOf(*low); ++y)
            std::fill_n(image.pixel(static_cast<int>(x), y), 3, std::uint8_t{0x30});
    }
    return image;
}

} // namespace vocalith
