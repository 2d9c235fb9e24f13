#pragma once

#include "platform/settings/SettingsStore.h"
#include "processing/transcription/SpeechProcessingPipeline.h"

#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// Cleans recognised texts for the transcript: blanks noise ("[music]",
// bracketed asides, repetitive lists) and removes the user's hallucination-
// filter phrases. A value holding the phrase list read when it was made; safe
// to call from any thread, also concurrently.
class TranscriptTextSanitizer {
  public:
    // Phrases are removed in list order, case-sensitively; canonically
    // equivalent forms match (the text is compared in NFC). Empty phrases are
    // skipped.
    explicit TranscriptTextSanitizer(std::vector<std::string> phrases);

    // A sanitizer over the enabled hallucination-filter phrases as stored now.
    static TextSanitizer
    createTextSanitizer(platform::SettingsStore& settings = platform::SettingsStore::standard());

    // Trimmed text; empty for noise; otherwise with the phrases removed and
    // trimmed again (possibly empty). With phrases in use the result is in NFC.
    std::string operator()(std::string_view text) const;

    // Whether the trimmed text is noise: empty, a known marker such as
    // "[blank_audio]" in any case, one short bracketed aside such as "(laughs)"
    // or "[silence)", or a list of 9 or more pieces (split at ",", "、", "・")
    // of which fewer than half are distinct.
    static bool isHallucination(std::string_view text);

  private:
    std::vector<std::string> phrases_; // in NFC, none empty
};

} // namespace velnote
