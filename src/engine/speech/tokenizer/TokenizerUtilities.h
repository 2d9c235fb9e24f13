#pragma once

#include "engine/speech/transcription/TranscriptionSegment.h"

#include <string>
#include <string_view>
#include <vector>

namespace vocalith {

// `text` without the characters "<", "|" and ">" at either end: "<|en|>" gives "en".
std::string trimmingSpecialTokenCharacters(std::string_view text);

// The form texts are compared in: lower case, "-" as a space, no punctuation, single spaces,
// nothing around it. "  Hello, New-York  world! " gives "hello new york world".
std::string normalized(std::string_view text);

// Whether some segment of `segments` starts exactly when `segment` does; nothing else is compared.
bool contains(const std::vector<TranscriptionSegment>& segments, const TranscriptionSegment& segment);

} // namespace vocalith
