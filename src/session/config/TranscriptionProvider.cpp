#include "session/config/TranscriptionProvider.h"

#include <string>

namespace velnote {

std::string_view rawValue(TranscriptionProvider provider) {
    switch (provider) {
    case TranscriptionProvider::localWhisper:
        return "local";
    case TranscriptionProvider::openAI:
        return "openai";
    }
    return "local";
}

std::optional<TranscriptionProvider> transcriptionProviderFromRawValue(std::string_view raw) {
    for (const auto provider : kAllTranscriptionProviders) {
        if (rawValue(provider) == raw)
            return provider;
    }
    return std::nullopt;
}

void to_json(platform::Json& j, TranscriptionProvider provider) {
    j = std::string(rawValue(provider));
}

void from_json(const platform::Json& j, TranscriptionProvider& provider) {
    const auto raw = platform::decode<std::string>(j);
    const auto parsed = transcriptionProviderFromRawValue(raw);
    if (!parsed)
        throw platform::JsonDecodeError("", "unknown transcription provider: " + raw);
    provider = *parsed;
}

} // namespace velnote
