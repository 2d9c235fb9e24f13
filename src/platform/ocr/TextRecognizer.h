#pragma once

#include "platform/image/GrayImage.h"

#include <stop_token>
#include <string>
#include <vector>

namespace velnote::platform {

// One line of text the recogniser found.
struct TextObservation {
    std::string text;     // its best reading, as recognised (not trimmed)
    float confidence = 0; // 0 (a guess) to 1 (certain)
    double x = 0;         // the line's box in image pixels, origin top-left, y downwards
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const TextObservation&) const = default;
};

// What a text recognition is asked to do.
struct TextRecognitionRequest {
    // Identifiers such as "ja-JP" or "en-US", preferred first; empty: the recogniser's default.
    std::vector<std::string> languages;
    // Words the recogniser should expect (the user dictionary).
    std::vector<std::string> customWords;
};

// The stand-in for the platform's on-device text recognition.
class TextRecognizer {
  public:
    virtual ~TextRecognizer() = default;
    // The lines of `image` in reading order. Empty when nothing is found, the recogniser fails
    // (logged by the implementation's caller through `error`) or `stop` is requested meanwhile.
    // Any thread.
    virtual std::vector<TextObservation> recognize(const GrayImage& image,
                                                   const TextRecognitionRequest& request,
                                                   const std::stop_token& stop, std::string& error) = 0;
};

} // namespace velnote::platform
