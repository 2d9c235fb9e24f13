#include "session/config/TranscriptionProvider.h"

#include "platform/json/RawValue.h"

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

void to_json(platform::Json& j, TranscriptionProvider provider) {
    j = std::string(rawValue(provider));
}

void from_json(const platform::Json& j, TranscriptionProvider& provider) {
    provider = platform::decodeRawValue<TranscriptionProvider>(j, "transcription provider");
}

} // namespace velnote
