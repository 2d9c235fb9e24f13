#pragma once

#include "platform/concurrency/SerialExecutor.h"
#include "platform/translation/TranslationSession.h"

#include <exception>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velnote {

// On-device translation of live-transcript text, line by line, keeping each line's leading
// "[mm:ss]" stamp untranslated. The source language is tried from a short list of candidates, the
// next one when a candidate fails; each pair's session is made and prepared once, until
// invalidateSessions(). Used by the live translation worker.
//
// An actor: calls run one at a time on its own executor ("velnote.translation"), which the
// sessions' blocking work keeps busy; a preparation is therefore never shared between two calls
// in flight, and two calls for one pair share the cached session.
class AppleTranslationService {
  public:
    using Completion = std::function<void(std::string translated, std::exception_ptr error)>;

    // `currentLocaleLanguage`: the language code of the user's current locale ("ja"), none when
    // it has none; null reads LC_ALL, LC_MESSAGES and LANG.
    explicit AppleTranslationService(
        std::shared_ptr<platform::TranslationSessionFactory> factory,
        std::function<std::optional<std::string>()> currentLocaleLanguage = nullptr);

    // Apertium with the installed pairs.
    static AppleTranslationService& shared();

    // The translated lines joined by "\n"; "" for blank text. Throws AppleTranslationError
    // (translationFailed) from get().
    std::future<std::string> translate(std::string text, std::string targetLanguageCode,
                                       std::optional<std::string> sourceLanguageCode);
    // The same, handing the outcome to `completion` on the service's executor.
    void translate(std::string text, std::string targetLanguageCode,
                   std::optional<std::string> sourceLanguageCode, Completion completion);
    // Drops every session; the next translation makes and prepares new ones.
    std::future<void> invalidateSessions();

    // "en" when the Latin letters are at least as many as the kana and ideographs and at least 2;
    // "ja" when the kana and ideographs are more and at least 2; none otherwise.
    static std::optional<std::string> guessSourceLanguageCode(std::string_view text);
    static std::vector<std::string>
    candidateSourceLanguageCodes(const std::optional<std::string>& preferred, std::string_view text,
                                 const std::string& targetLanguageCode,
                                 const std::optional<std::string>& localeLanguage);

  private:
    std::string translateNow(const std::string& text, const std::string& target,
                             const std::optional<std::string>& source);
    std::string translateLines(platform::TranslationSession& session, const std::string& text);
    platform::TranslationSession& translationSession(const std::string& source, const std::string& target);
    void prepareTranslationIfNeeded(platform::TranslationSession& session, const std::string& key);

    std::shared_ptr<platform::TranslationSessionFactory> factory_;
    std::function<std::optional<std::string>()> currentLocaleLanguage_;
    // Only on executor_:
    std::map<std::string, std::unique_ptr<platform::TranslationSession>> translationSessionCache_;
    std::set<std::string> preparedTranslationSessionKeys_;
    platform::SerialExecutor executor_; // last: drains before the members above go
};

} // namespace velnote
