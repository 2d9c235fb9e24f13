#include "speech/live/AppleTranslationService.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Regex.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "platform/translation/ApertiumTranslation.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10nCatalog.h"
#include "speech/live/AppleTranslationError.h"

#include <algorithm>

namespace velnote {
namespace {

// Compiled once; when it cannot be compiled no line has a stamp and whole lines are translated.
const platform::Regex* timestampPrefixRegex() {
    static const std::optional<platform::Regex> regex = []() -> std::optional<platform::Regex> {
        try {
            return platform::Regex(R"(^\[(\d{2}:\d{2})\]\s*)");
        } catch (const platform::RegexError& error) {
            VelnoteLogger::app().error(
                "AppleTranslationService: failed to compile timestamp prefix regex: {}", error.what());
            return std::nullopt;
        }
    }();
    return regex ? &*regex : nullptr;
}

std::optional<std::string> environmentLanguage() {
    return L10nCatalog::Locale::fromEnvironment().languageCode;
}

// Decodes one UTF-8 sequence at `at`; an invalid byte counts as one unknown scalar.
char32_t nextScalar(std::string_view text, std::size_t& at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const int length = byte < 0x80           ? 1
                       : (byte >> 5) == 0x6  ? 2
                       : (byte >> 4) == 0xE  ? 3
                       : (byte >> 3) == 0x1E ? 4
                                             : 0;
    if (length == 0 || at + static_cast<std::size_t>(length) > text.size()) {
        ++at;
        return 0xFFFD;
    }
    char32_t scalar = length == 1 ? byte : byte & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        scalar = (scalar << 6) | (static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]) & 0x3F);
    }
    at += static_cast<std::size_t>(length);
    return scalar;
}

} // namespace

AppleTranslationService::AppleTranslationService(
    std::shared_ptr<platform::TranslationSessionFactory> factory,
    std::function<std::optional<std::string>()> currentLocaleLanguage)
    : factory_(std::move(factory)),
      currentLocaleLanguage_(currentLocaleLanguage ? std::move(currentLocaleLanguage) : environmentLanguage) {
}

AppleTranslationService& AppleTranslationService::shared() {
    static auto* instance =
        new AppleTranslationService(std::make_shared<platform::ApertiumTranslationSessionFactory>());
    return *instance;
}

std::future<std::string> AppleTranslationService::translate(std::string text, std::string targetLanguageCode,
                                                            std::optional<std::string> sourceLanguageCode) {
    auto promise = std::make_shared<std::promise<std::string>>();
    auto future = promise->get_future();
    translate(std::move(text), std::move(targetLanguageCode), std::move(sourceLanguageCode),
              [promise](std::string translated, std::exception_ptr error) {
                  if (error) {
                      promise->set_exception(error);
                  } else {
                      promise->set_value(std::move(translated));
                  }
              });
    return future;
}

void AppleTranslationService::translate(std::string text, std::string targetLanguageCode,
                                        std::optional<std::string> sourceLanguageCode,
                                        Completion completion) {
    executor_.post([this, text = std::move(text), target = std::move(targetLanguageCode),
                    source = std::move(sourceLanguageCode), completion = std::move(completion)] {
        std::string translated;
        std::exception_ptr error;
        try {
            translated = translateNow(text, target, source);
        } catch (...) {
            error = std::current_exception();
        }
        completion(std::move(translated), error);
    });
}

std::future<void> AppleTranslationService::invalidateSessions() {
    return executor_.submit([this] {
        translationSessionCache_.clear();
        preparedTranslationSessionKeys_.clear();
    });
}

std::string AppleTranslationService::translateNow(const std::string& text, const std::string& target,
                                                  const std::optional<std::string>& source) {
    const std::string trimmed = platform::trimWhitespace(text);
    if (trimmed.empty()) {
        return "";
    }
    const auto candidates = candidateSourceLanguageCodes(source, trimmed, target, currentLocaleLanguage_());
    if (candidates.empty()) {
        throw AppleTranslationError::translationFailed("No suitable translation source language");
    }
    std::string lastError;
    for (const auto& candidate : candidates) {
        try {
            auto& session = translationSession(candidate, target);
            prepareTranslationIfNeeded(session, candidate + "->" + target);
            return translateLines(session, trimmed);
        } catch (const std::exception& error) {
            VelnoteLogger::processing().debug("translation fallback failed source={}: {}", candidate,
                                              error.what());
            lastError = error.what();
        }
    }
    throw AppleTranslationError::translationFailed(lastError);
}

std::string AppleTranslationService::translateLines(platform::TranslationSession& session,
                                                    const std::string& text) {
    std::vector<std::string> output;
    for (const auto& piece : platform::splitOn(text, "\n")) {
        if (platform::isBlank(piece)) {
            continue;
        }
        std::string prefix;
        std::string body = piece;
        if (const auto* regex = timestampPrefixRegex()) {
            if (const auto match = regex->search(piece)) {
                prefix = match->whole().text;
                body = piece.substr(match->whole().end);
            }
        }
        body = platform::trimWhitespace(body);
        if (body.empty()) {
            continue;
        }
        const std::string translated = platform::trimWhitespace(session.translate(body));
        output.push_back(prefix.empty() ? translated
                                        : platform::trimSpacesAndTabs(prefix) + " " + translated);
    }
    return platform::joined(output, "\n");
}

platform::TranslationSession& AppleTranslationService::translationSession(const std::string& source,
                                                                          const std::string& target) {
    auto& session = translationSessionCache_[source + "->" + target];
    if (!session) {
        session = factory_->makeSession(source, target);
    }
    return *session;
}

void AppleTranslationService::prepareTranslationIfNeeded(platform::TranslationSession& session,
                                                         const std::string& key) {
    if (preparedTranslationSessionKeys_.contains(key)) {
        return;
    }
    session.prepareTranslation(); // a failure leaves the key out, so the next call prepares again
    preparedTranslationSessionKeys_.insert(key);
}

std::optional<std::string> AppleTranslationService::guessSourceLanguageCode(std::string_view text) {
    std::size_t latin = 0;
    std::size_t cjk = 0;
    for (std::size_t at = 0; at < text.size();) {
        const char32_t scalar = nextScalar(text, at);
        if ((scalar >= U'A' && scalar <= U'Z') || (scalar >= U'a' && scalar <= U'z')) {
            ++latin;
        } else if ((scalar >= 0x3040 && scalar <= 0x30FF) || (scalar >= 0x4E00 && scalar <= 0x9FFF)) {
            ++cjk;
        }
    }
    if (latin >= cjk && latin >= 2) {
        return "en";
    }
    if (cjk > latin && cjk >= 2) {
        return "ja";
    }
    return std::nullopt;
}

std::vector<std::string> AppleTranslationService::candidateSourceLanguageCodes(
    const std::optional<std::string>& preferred, std::string_view text, const std::string& targetLanguageCode,
    const std::optional<std::string>& localeLanguage) {
    std::vector<std::string> raw;
    if (preferred && !preferred->empty() && *preferred != "auto") {
        raw.push_back(platform::lowercased(*preferred));
    }
    if (auto guess = guessSourceLanguageCode(text)) {
        raw.push_back(*guess);
    }
    if (localeLanguage) {
        raw.push_back(platform::lowercased(*localeLanguage));
    }
    raw.emplace_back("en");
    raw.emplace_back("ja");
    const std::string target = platform::lowercased(targetLanguageCode);
    std::vector<std::string> candidates;
    for (const auto& entry : raw) {
        std::string code = platform::trimWhitespace(entry);
        if (code.empty() || code == target ||
            std::find(candidates.begin(), candidates.end(), code) != candidates.end()) {
            continue;
        }
        candidates.push_back(std::move(code));
    }
    return candidates;
}

} // namespace velnote
