#pragma once

#include <string>
#include <string_view>

namespace velnote {

// Which of the two recorded streams: they share the chunk, gain, mute and meter mechanics and
// differ in their names, their texts and the meter's gain range.
enum class CaptureChannel { microphone, systemAudio };

// A user-visible text in its two languages.
struct CaptureAlertText {
    const char* japanese;
    const char* english;

    // The form for the interface language.
    std::string localized() const;
};

// The fixed names and texts of one channel. Log texts take their values through "{}".
struct CaptureTexts {
    std::string_view chunkPrefix; // "mic_" / "sys_"
    const char* dirFailed;        // error text
    const char* createFailed;     // path, error text
    const char* opened;           // file name, settings
    const char* writeFailed;      // error text
    const char* silentDropped;    // number, peak
    const char* removeFailed;     // error text
    const char* convertFailed;    // source format, target format
    CaptureAlertText createAlert;
    CaptureAlertText writeAlert;
};

const CaptureTexts& captureTexts(CaptureChannel channel);

} // namespace velnote
