#include "platform/translation/ApertiumTranslation.h"

#include <condition_variable>
#include <string_view>
#include <thread>
#include <unicode/locid.h>

namespace velnote::platform {
namespace {

constexpr std::string_view kReserved = "\\[]^$/@<>{}";

std::string iso3Language(const std::string& code) {
    if (code.empty()) {
        return "";
    }
    const icu::Locale locale(code.c_str());
    if (locale.isBogus()) {
        return "";
    }
    const char* iso3 = locale.getISO3Language();
    return iso3 ? iso3 : "";
}

// Requests stop on `timeout` when `deadline` passes before the watchdog is dropped.
class Watchdog {
  public:
    Watchdog(std::stop_source timeout, ChildProcess::Clock::time_point deadline)
        : thread_([timeout, deadline](std::stop_token done) mutable {
              std::mutex mutex;
              std::condition_variable_any wake;
              std::unique_lock lock(mutex);
              wake.wait_until(lock, done, deadline, [] { return false; });
              if (!done.stop_requested()) {
                  timeout.request_stop();
              }
          }) {}

  private:
    std::jthread thread_;
};

} // namespace

std::string apertiumEscaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '\0' || c == '\n' || c == '\r') {
            escaped += ' ';
            continue;
        }
        if (kReserved.find(c) != std::string_view::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string apertiumUnescaped(const std::string& text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
        }
        plain += text[i];
    }
    return plain;
}

ApertiumTranslationSession::ApertiumTranslationSession(std::string mode, ApertiumSetup setup)
    : mode_(std::move(mode)), setup_(std::move(setup)) {}

ApertiumTranslationSession::~ApertiumTranslationSession() {
    if (child_) {
        child_->closeInput();
        child_->forceKill();
    }
}

std::string ApertiumTranslationSession::modeName(const std::string& sourceLanguage,
                                                 const std::string& targetLanguage) {
    const std::string source = iso3Language(sourceLanguage);
    const std::string target = iso3Language(targetLanguage);
    return source.empty() || target.empty() ? "" : source + "-" + target;
}

void ApertiumTranslationSession::prepareTranslation() {
    std::lock_guard lock(mutex_);
    launch();
    // A line through the whole pipeline proves that every stage and its data load.
    roundTrip("ok");
}

std::string ApertiumTranslationSession::translate(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (!child_ || !child_->isRunning()) {
        launch(); // the child died since the last line: a new one takes over
    }
    return roundTrip(line);
}

void ApertiumTranslationSession::launch() {
    child_.reset();
    pendingOutput_.clear();
    const auto modeFile = setup_.modesFolder / (mode_ + ".mode");
    std::error_code error;
    if (mode_.empty() || !std::filesystem::is_regular_file(modeFile, error)) {
        throw TranslationSessionError("no Apertium mode \"" + mode_ + "\" is installed");
    }
    std::unique_ptr<ChildProcess> writer;
    try {
        writer = ChildProcess::launch({.executable = setup_.modeScriptTool,
                                       .arguments = {"-z", modeFile.string()},
                                       .environment = environmentWith("LC_ALL", "C.UTF-8")});
    } catch (const ProcessLaunchError& launchError) {
        throw TranslationSessionError(std::string("Apertium is not installed: ") + launchError.what());
    }
    writer->writeInput("");
    const auto deadline = ChildProcess::Clock::now() + setup_.lineTimeout;
    if (writer->waitForExit(deadline) != ChildProcess::WaitResult::exited ||
        writer->terminationStatus() != 0) {
        writer->forceKill();
        throw TranslationSessionError("the Apertium mode \"" + mode_ + "\" could not be read");
    }
    writer->waitForOutputEnd(ChildProcess::Stream::standardOutput, deadline);
    const std::string pipeline = writer->takeOutput(ChildProcess::Stream::standardOutput);
    // $1 is the generator's option (-n: no marks on unknown words), $2 the tagger's (none).
    try {
        child_ = ChildProcess::launch({.executable = setup_.shell,
                                       .arguments = {"-c", pipeline, "apertium", "-n"},
                                       .environment = environmentWith("LC_ALL", "C.UTF-8")});
    } catch (const ProcessLaunchError& launchError) {
        throw TranslationSessionError(std::string("Apertium could not be started: ") + launchError.what());
    }
}

std::string ApertiumTranslationSession::roundTrip(const std::string& line) {
    const auto deadline = ChildProcess::Clock::now() + setup_.lineTimeout;
    const std::string request = apertiumEscaped(line) + "\n" + std::string(1, '\0');
    if (child_->sendInput(request, deadline) != ChildProcess::InputWrite::written) {
        child_->forceKill();
        throw TranslationSessionError("Apertium (" + mode_ + ") stopped taking input");
    }
    std::stop_source timeout;
    Watchdog watchdog(timeout, deadline);
    std::size_t end = pendingOutput_.find('\0');
    while (end == std::string::npos) {
        std::optional<std::string> chunk;
        try {
            chunk = child_->nextChunk(ChildProcess::Stream::standardOutput, timeout.get_token());
        } catch (const std::exception&) {
            child_->forceKill();
            throw TranslationSessionError("Apertium (" + mode_ + ") gave no answer in time");
        }
        if (!chunk) {
            child_->forceKill();
            throw TranslationSessionError("Apertium (" + mode_ + ") ended unexpectedly: " +
                                          child_->takeOutput(ChildProcess::Stream::standardError));
        }
        pendingOutput_ += *chunk;
        end = pendingOutput_.find('\0');
    }
    std::string answer = pendingOutput_.substr(0, end);
    pendingOutput_.erase(0, end + 1);
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == ' ')) {
        answer.pop_back();
    }
    return apertiumUnescaped(answer);
}

std::unique_ptr<TranslationSession>
ApertiumTranslationSessionFactory::makeSession(const std::string& sourceLanguage,
                                               const std::string& targetLanguage) {
    return std::make_unique<ApertiumTranslationSession>(
        ApertiumTranslationSession::modeName(sourceLanguage, targetLanguage), setup_);
}

} // namespace velnote::platform
