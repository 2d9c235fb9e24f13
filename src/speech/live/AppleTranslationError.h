#pragma once

#include <stdexcept>
#include <string>

namespace velnote {

// A failed on-device translation. what() is the localized description, in Japanese when the
// interface is Japanese, else in English.
class AppleTranslationError : public std::runtime_error {
  public:
    enum class Kind { translationFailed, modelNotInstalled, unsupportedLanguagePair };

    static AppleTranslationError translationFailed(const std::string& reason);
    static AppleTranslationError modelNotInstalled(const std::string& source, const std::string& target);
    static AppleTranslationError unsupportedLanguagePair(const std::string& source,
                                                         const std::string& target);

    Kind kind() const { return kind_; }

  private:
    AppleTranslationError(Kind kind, const std::string& description)
        : std::runtime_error(description), kind_(kind) {}

    Kind kind_;
};

} // namespace velnote
