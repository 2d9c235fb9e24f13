#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace velnote::platform {

// A translation that could not be prepared or made; the message says why.
class TranslationSessionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// On-device translation from one installed source language to one target language, one line of
// text at a time. Not thread-safe: one caller at a time.
class TranslationSession {
  public:
    virtual ~TranslationSession() = default;

    // Readies the pair's installed models; throws TranslationSessionError when the pair has none
    // or they do not work.
    virtual void prepareTranslation() = 0;
    // The translation of one line (no line breaks); throws TranslationSessionError.
    virtual std::string translate(const std::string& line) = 0;
};

class TranslationSessionFactory {
  public:
    virtual ~TranslationSessionFactory() = default;

    // A session for language codes such as "en" and "es"; nothing is checked or started yet.
    virtual std::unique_ptr<TranslationSession> makeSession(const std::string& sourceLanguage,
                                                            const std::string& targetLanguage) = 0;
};

} // namespace velnote::platform
