#pragma once

#include "platform/json/Json.h"

#include <array>
#include <optional>
#include <string_view>

namespace velnote {

// The speech back-end of a session's transcription step. Stored in JSON and
// settings as its raw value.
enum class TranscriptionProvider {
    localWhisper, // "local": the on-device speech engine
    openAI,       // "openai": an OpenAI-compatible remote transcription service
};

inline constexpr std::array<TranscriptionProvider, 2> kAllTranscriptionProviders = {
    TranscriptionProvider::localWhisper, TranscriptionProvider::openAI};

constexpr const auto& allCases(TranscriptionProvider) {
    return kAllTranscriptionProviders;
}
std::string_view rawValue(TranscriptionProvider provider);

// A string other than the two raw values throws platform::JsonDecodeError.
void to_json(platform::Json& j, TranscriptionProvider provider);
void from_json(const platform::Json& j, TranscriptionProvider& provider);

} // namespace velnote
