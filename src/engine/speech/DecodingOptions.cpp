#include "engine/speech/DecodingOptions.h"

#include "engine/foundation/Helpers.h"

#include <cmath>
#include <cstdint>

namespace vocalith {

using velnote::platform::optional;
using velnote::platform::required;

std::string_view description(DecodingTask task) {
    return task == DecodingTask::translate ? "translate" : "transcribe";
}

std::string_view rawValue(ChunkingStrategy strategy) {
    return strategy == ChunkingStrategy::vad ? "vad" : "none";
}

std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(std::string_view text) {
    for (const auto strategy : kAllChunkingStrategies) {
        if (rawValue(strategy) == text)
            return strategy;
    }
    return std::nullopt;
}

DecodingOptions::DecodingOptions() : DecodingOptions(Arguments{}) {}

DecodingOptions::DecodingOptions(const Arguments& a)
    : verbose(a.verbose), task(a.task), language(a.language), temperature(a.temperature),
      temperatureIncrementOnFallback(a.temperatureIncrementOnFallback),
      temperatureFallbackCount(a.temperatureFallbackCount), sampleLength(a.sampleLength), topK(a.topK),
      usePrefillPrompt(a.usePrefillPrompt), usePrefillCache(a.usePrefillCache),
      detectLanguage(a.detectLanguage.value_or(!a.usePrefillPrompt)), skipSpecialTokens(a.skipSpecialTokens),
      withoutTimestamps(a.withoutTimestamps), wordTimestamps(a.wordTimestamps),
      maxInitialTimestamp(a.maxInitialTimestamp), maxWindowSeek(a.maxWindowSeek),
      clipTimestamps(a.clipTimestamps), windowClipTime(a.windowClipTime), promptTokens(a.promptTokens),
      prefixTokens(a.prefixTokens), suppressBlank(a.suppressBlank),
      supressTokens(a.supressTokens.value_or(std::vector<std::int64_t>{})),
      compressionRatioThreshold(a.compressionRatioThreshold), logProbThreshold(a.logProbThreshold),
      firstTokenLogProbThreshold(a.firstTokenLogProbThreshold), noSpeechThreshold(a.noSpeechThreshold),
      concurrentWorkerCount(a.concurrentWorkerCount.value_or(16)), chunkingStrategy(a.chunkingStrategy) {}

std::vector<std::pair<std::int64_t, std::int64_t>>
DecodingOptions::prepareSeekClips(std::int64_t contentFrames) const {
    std::vector<std::int64_t> points;
    for (const float seconds : clipTimestamps) {
        // Out-of-range or non-finite times would make the conversion undefined; clamp them to the
        // ends of the 64-bit range instead (a clip at such a point holds no audio).
        const float samples = std::round(seconds * 16000.0f);
        if (std::isnan(samples))
            points.push_back(0);
        else if (samples >= 9.2e18f)
            points.push_back(INT64_MAX);
        else if (samples <= -9.2e18f)
            points.push_back(INT64_MIN);
        else
            points.push_back(static_cast<std::int64_t>(samples));
    }
    if (points.empty())
        points.push_back(0);
    if (points.size() % 2 == 1)
        points.push_back(contentFrames);
    std::vector<std::pair<std::int64_t, std::int64_t>> clips;
    for (std::size_t i = 0; i + 1 < points.size(); i += 2)
        clips.emplace_back(points[i], points[i + 1]);
    return clips;
}

template <class J> void to_json(J& json, DecodingTask task) {
    J object = J::object();
    object[std::string(description(task))] = J::object();
    json = std::move(object);
}
template void to_json<Json>(Json&, DecodingTask);
template void to_json<OrderedJson>(OrderedJson&, DecodingTask);

void from_json(const Json& json, DecodingTask& task) {
    if (!json.is_object())
        velnote::platform::detail::throwWrongType(json, "an object");
    std::vector<DecodingTask> found;
    for (const auto candidate : kAllDecodingTasks) {
        if (json.contains(std::string(description(candidate))))
            found.push_back(candidate);
    }
    if (found.size() != 1)
        throw JsonDecodeError("", "Invalid number of keys found, expected one.");
    const auto& payload = json.at(std::string(description(found.front())));
    if (!payload.is_object())
        throw JsonDecodeError(std::string(description(found.front())), "expected an object");
    task = found.front();
}

template <class J> void to_json(J& json, ChunkingStrategy strategy) {
    json = std::string(rawValue(strategy));
}
template void to_json<Json>(Json&, ChunkingStrategy);
template void to_json<OrderedJson>(OrderedJson&, ChunkingStrategy);

void from_json(const Json& json, ChunkingStrategy& strategy) {
    const auto text = velnote::platform::decode<std::string>(json);
    const auto parsed = chunkingStrategyFromRawValue(text);
    if (!parsed)
        throw JsonDecodeError("", "Cannot initialize ChunkingStrategy from invalid String value " + text);
    strategy = *parsed;
}

namespace {

template <class J> void setFloatIfPresent(J& object, const char* key, const std::optional<float>& value) {
    if (value)
        object[key] = jsonFloat(*value, key);
}

template <class J> J floatArray(const std::vector<float>& values, const char* key) {
    J array = J::array();
    for (const float value : values)
        array.push_back(jsonFloat(value, key));
    return array;
}

std::vector<float> requiredFloats(const Json& json, const char* key) {
    const auto values = required<std::vector<Json>>(json, key);
    std::vector<float> floats;
    for (std::size_t i = 0; i < values.size(); ++i) {
        try {
            floats.push_back(decodeFloat(values[i]));
        } catch (const JsonDecodeError& e) {
            throw e.under("[" + std::to_string(i) + "]").under(key);
        }
    }
    return floats;
}

} // namespace

template <class J> void to_json(J& json, const DecodingOptions& o) {
    J object = J::object();
    object["verbose"] = o.verbose;
    object["task"] = o.task;
    if (o.language)
        object["language"] = *o.language;
    object["temperature"] = jsonFloat(o.temperature, "temperature");
    object["temperatureIncrementOnFallback"] =
        jsonFloat(o.temperatureIncrementOnFallback, "temperatureIncrementOnFallback");
    object["temperatureFallbackCount"] = o.temperatureFallbackCount;
    object["sampleLength"] = o.sampleLength;
    object["topK"] = o.topK;
    object["usePrefillPrompt"] = o.usePrefillPrompt;
    object["usePrefillCache"] = o.usePrefillCache;
    object["detectLanguage"] = o.detectLanguage;
    object["skipSpecialTokens"] = o.skipSpecialTokens;
    object["withoutTimestamps"] = o.withoutTimestamps;
    object["wordTimestamps"] = o.wordTimestamps;
    setFloatIfPresent(object, "maxInitialTimestamp", o.maxInitialTimestamp);
    if (o.maxWindowSeek)
        object["maxWindowSeek"] = *o.maxWindowSeek;
    object["clipTimestamps"] = floatArray<J>(o.clipTimestamps, "clipTimestamps");
    object["windowClipTime"] = jsonFloat(o.windowClipTime, "windowClipTime");
    if (o.promptTokens)
        object["promptTokens"] = *o.promptTokens;
    if (o.prefixTokens)
        object["prefixTokens"] = *o.prefixTokens;
    object["suppressBlank"] = o.suppressBlank;
    object["supressTokens"] = o.supressTokens;
    setFloatIfPresent(object, "compressionRatioThreshold", o.compressionRatioThreshold);
    setFloatIfPresent(object, "logProbThreshold", o.logProbThreshold);
    setFloatIfPresent(object, "firstTokenLogProbThreshold", o.firstTokenLogProbThreshold);
    setFloatIfPresent(object, "noSpeechThreshold", o.noSpeechThreshold);
    object["concurrentWorkerCount"] = o.concurrentWorkerCount;
    if (o.chunkingStrategy)
        object["chunkingStrategy"] = *o.chunkingStrategy;
    json = std::move(object);
}
template void to_json<Json>(Json&, const DecodingOptions&);
template void to_json<OrderedJson>(OrderedJson&, const DecodingOptions&);

void from_json(const Json& json, DecodingOptions& o) {
    o.verbose = required<bool>(json, "verbose");
    o.task = required<DecodingTask>(json, "task");
    o.language = optional<std::string>(json, "language");
    o.temperature = requiredFloat(json, "temperature");
    o.temperatureIncrementOnFallback = requiredFloat(json, "temperatureIncrementOnFallback");
    o.temperatureFallbackCount = required<int>(json, "temperatureFallbackCount");
    o.sampleLength = required<int>(json, "sampleLength");
    o.topK = required<int>(json, "topK");
    o.usePrefillPrompt = required<bool>(json, "usePrefillPrompt");
    o.usePrefillCache = required<bool>(json, "usePrefillCache");
    o.detectLanguage = required<bool>(json, "detectLanguage");
    o.skipSpecialTokens = required<bool>(json, "skipSpecialTokens");
    o.withoutTimestamps = required<bool>(json, "withoutTimestamps");
    o.wordTimestamps = required<bool>(json, "wordTimestamps");
    o.maxInitialTimestamp = optionalFloat(json, "maxInitialTimestamp");
    o.maxWindowSeek = optional<int>(json, "maxWindowSeek");
    o.clipTimestamps = requiredFloats(json, "clipTimestamps");
    o.windowClipTime = requiredFloat(json, "windowClipTime");
    o.promptTokens = optional<std::vector<std::int64_t>>(json, "promptTokens");
    o.prefixTokens = optional<std::vector<std::int64_t>>(json, "prefixTokens");
    o.suppressBlank = required<bool>(json, "suppressBlank");
    o.supressTokens = required<std::vector<std::int64_t>>(json, "supressTokens");
    o.compressionRatioThreshold = optionalFloat(json, "compressionRatioThreshold");
    o.logProbThreshold = optionalFloat(json, "logProbThreshold");
    o.firstTokenLogProbThreshold = optionalFloat(json, "firstTokenLogProbThreshold");
    o.noSpeechThreshold = optionalFloat(json, "noSpeechThreshold");
    o.concurrentWorkerCount = required<int>(json, "concurrentWorkerCount");
    o.chunkingStrategy = optional<ChunkingStrategy>(json, "chunkingStrategy");
}

} // namespace vocalith
