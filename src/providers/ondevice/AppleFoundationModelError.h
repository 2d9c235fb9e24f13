#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace velnote {

// The failures of the on-device model service; what() is the localized description.
class AppleFoundationModelError : public std::runtime_error {
  public:
    enum class Kind { unavailable, unsupportedLanguage, refusal, emptyResponse, contextTooLarge };

    static AppleFoundationModelError unavailable(std::string reason);
    // `current`: the locale identifier; `supported`: language names joined with ", ".
    static AppleFoundationModelError unsupportedLanguage(std::string current, std::string supported);
    static AppleFoundationModelError refusal(std::optional<std::string> reason = std::nullopt);
    static AppleFoundationModelError emptyResponse();
    static AppleFoundationModelError contextTooLarge();

    Kind kind() const { return kind_; }
    const std::string& reason() const { return reason_; }       // unavailable; refusal with a reason
    const std::string& current() const { return current_; }     // unsupportedLanguage
    const std::string& supported() const { return supported_; } // unsupportedLanguage

  private:
    AppleFoundationModelError(Kind kind, std::string description);

    Kind kind_;
    std::string reason_;
    std::string current_;
    std::string supported_;
};

} // namespace velnote
