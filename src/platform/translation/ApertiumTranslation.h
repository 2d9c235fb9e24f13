#pragma once

#include "platform/process/ChildProcess.h"
#include "platform/translation/TranslationSession.h"

#include <chrono>
#include <filesystem>
#include <mutex>

namespace velnote::platform {

// Where the Apertium pairs are and how long one line may take.
struct ApertiumSetup {
    std::filesystem::path modesFolder = "/usr/share/apertium/modes";
    std::filesystem::path modeScriptTool = "/usr/bin/apertium-wblank-mode";
    std::filesystem::path shell = "/bin/bash";
    std::chrono::milliseconds lineTimeout{std::chrono::seconds(20)};
};

// Translation on Apertium: a pair is an installed mode named by the ISO 639-3 codes of its
// languages ("en" → "es" is the mode "eng-spa"; Debian's apertium-eng-spa installs eng-spa and
// spa-eng, and Debian has no pair with Japanese). A prepared session is one persistent child that
// runs the mode's pipeline in null-flush mode: each line goes in followed by a NUL, and its
// translation comes back up to the next NUL.
//
// The child runs the mode's own pipeline (as `apertium-wblank-mode -z` writes it) rather than the
// `apertium -z` wrapper script: the wrapper's gawk stages split records on NUL with a regular
// expression and hold each NUL back until more input arrives, so a line's translation would only
// come out when the next line went in. The input is escaped as the Apertium stream format needs
// (what the wrapper's text deformatter would do) and the output unescaped.
class ApertiumTranslationSession final : public TranslationSession {
  public:
    ApertiumTranslationSession(std::string mode, ApertiumSetup setup);
    ~ApertiumTranslationSession() override;

    void prepareTranslation() override;
    std::string translate(const std::string& line) override;

    // The mode of a pair of language codes: "en", "es" give "eng-spa"; "" when a code is unknown.
    static std::string modeName(const std::string& sourceLanguage, const std::string& targetLanguage);

  private:
    void launch();
    std::string roundTrip(const std::string& line);

    std::string mode_;
    ApertiumSetup setup_;
    std::mutex mutex_; // one line at a time
    std::unique_ptr<ChildProcess> child_;
    std::string pendingOutput_; // bytes after the last NUL
};

class ApertiumTranslationSessionFactory final : public TranslationSessionFactory {
  public:
    explicit ApertiumTranslationSessionFactory(ApertiumSetup setup = {}) : setup_(std::move(setup)) {}
    std::unique_ptr<TranslationSession> makeSession(const std::string& sourceLanguage,
                                                    const std::string& targetLanguage) override;

  private:
    ApertiumSetup setup_;
};

// Apertium's stream format: the characters with a meaning there, each behind a backslash, NUL
// bytes and line breaks left out (they would end the request early).
std::string apertiumEscaped(const std::string& text);
std::string apertiumUnescaped(const std::string& text);

} // namespace velnote::platform
