#include "platform/speech/PocketSphinxRecognizer.h"

#include "platform/concurrency/CallbackGuard.h"
#include "platform/concurrency/ClosableQueue.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <thread>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace velnote::platform {
namespace {

struct ConfigDeleter {
    void operator()(cmd_ln_t* config) const { cmd_ln_free_r(config); }
};
struct DecoderDeleter {
    void operator()(ps_decoder_t* decoder) const { ps_free(decoder); }
};
using DecoderPtr = std::unique_ptr<ps_decoder_t, DecoderDeleter>;

// The library's own log goes to stderr by default; it is process-wide, so it is silenced once.
void silenceLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

DecoderPtr makeDecoder(const PocketSphinxModel& model) {
    silenceLibraryLog();
    std::unique_ptr<cmd_ln_t, ConfigDeleter> config(
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acousticModel.c_str(), "-lm",
                    model.languageModel.c_str(), "-dict", model.dictionary.c_str(), nullptr));
    if (!config) {
        return nullptr;
    }
    return DecoderPtr(ps_init(config.get())); // the decoder keeps its own reference
}

std::vector<std::int16_t> toPcm16(const std::vector<float>& samples) {
    std::vector<std::int16_t> pcm(samples.size());
    std::transform(samples.begin(), samples.end(), pcm.begin(), [](float sample) {
        const float clamped = std::isfinite(sample) ? std::clamp(sample, -1.0f, 1.0f) : 0.0f;
        return static_cast<std::int16_t>(std::lround(clamped * 32767.0f));
    });
    return pcm;
}

std::string hypothesis(ps_decoder_t* decoder) {
    std::int32_t score = 0;
    const char* text = ps_get_hyp(decoder, &score);
    return text ? text : "";
}

class PocketSphinxAnalysis final : public SpeechAnalysis {
  public:
    PocketSphinxAnalysis(PocketSphinxModel model, SpeechAnalysisCallbacks callbacks)
        : model_(std::move(model)), callbacks_(std::move(callbacks)),
          thread_([this](std::stop_token stop) { run(stop); }) {}

    ~PocketSphinxAnalysis() override {
        cancel();
        thread_.request_stop();
    }

    void feed(std::vector<float> samples) override { input_.push(std::move(samples)); }
    void finish() override { input_.close(); }
    void cancel() override {
        thread_.request_stop();
        input_.close();
        guard_.revoke();
    }

  private:
    void report(const std::function<void()>& call) { guard_.run(call); }

    void run(const std::stop_token& stop) {
        DecoderPtr decoder = makeDecoder(model_);
        if (!decoder || ps_start_utt(decoder.get()) < 0) {
            report([&] {
                callbacks_.onError(SpeechAnalysisFailure::start,
                                   "the speech model of " + model_.localeIdentifier + " could not be loaded");
            });
            waitForEnd(stop);
            return;
        }
        if (!decode(decoder.get(), stop)) {
            report([&] { callbacks_.onError(SpeechAnalysisFailure::decoding, "speech decoding failed"); });
            waitForEnd(stop);
            return;
        }
        if (stop.stop_requested()) {
            return;
        }
        endUtterance(decoder.get());
        report([&] { callbacks_.onEnd(); });
    }

    // False when the decoder failed.
    bool decode(ps_decoder_t* decoder, const std::stop_token& stop) {
        while (auto samples = input_.take(stop)) {
            const auto pcm = toPcm16(*samples);
            if (pcm.empty()) {
                continue;
            }
            if (ps_process_raw(decoder, pcm.data(), pcm.size(), FALSE, FALSE) < 0) {
                return false;
            }
            const bool inSpeech = ps_get_in_speech(decoder) != 0;
            if (inSpeech) {
                inUtterance_ = true;
                reportInterim(hypothesis(decoder));
            } else if (inUtterance_) {
                if (!endUtterance(decoder) || ps_start_utt(decoder) < 0) {
                    return false;
                }
            }
        }
        return true;
    }

    void reportInterim(std::string text) {
        if (text.empty() || text == lastInterim_) {
            return;
        }
        lastInterim_ = text;
        report([&] { callbacks_.onResult({.text = std::move(text), .isFinal = false}); });
    }

    // Reports the utterance's final text (also an empty one, which clears an interim text).
    bool endUtterance(ps_decoder_t* decoder) {
        if (ps_end_utt(decoder) < 0) {
            return false;
        }
        std::string text = hypothesis(decoder);
        if (inUtterance_ || !text.empty()) {
            report([&] { callbacks_.onResult({.text = std::move(text), .isFinal = true}); });
        }
        inUtterance_ = false;
        lastInterim_.clear();
        return true;
    }

    // After a failure the caller may still finish() and wait for onEnd.
    void waitForEnd(const std::stop_token& stop) {
        while (input_.take(stop)) {
        }
        if (!stop.stop_requested()) {
            report([&] { callbacks_.onEnd(); });
        }
    }

    PocketSphinxModel model_;
    SpeechAnalysisCallbacks callbacks_;
    ClosableQueue<std::vector<float>> input_;
    CallbackGuard guard_;
    // Only on the analysis thread:
    bool inUtterance_ = false;
    std::string lastInterim_;
    std::jthread thread_; // last: starts when everything above exists, joins before it goes
};

} // namespace

std::string canonicalLocaleIdentifier(const std::string& identifier) {
    std::string tag = identifier;
    std::replace(tag.begin(), tag.end(), '_', '-');
    if (const auto dot = tag.find('.'); dot != std::string::npos) {
        tag.erase(dot); // "en_US.UTF-8"
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale = icu::Locale::forLanguageTag(tag, status);
    if (U_FAILURE(status)) {
        return tag;
    }
    const std::string canonical = locale.toLanguageTag<std::string>(status);
    return U_FAILURE(status) || canonical == "und" ? tag : canonical;
}

std::string languageDisplayName(const std::string& localeIdentifier) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale =
        icu::Locale::forLanguageTag(canonicalLocaleIdentifier(localeIdentifier), status);
    if (U_FAILURE(status) || std::string_view(locale.getLanguage()).empty()) {
        return localeIdentifier;
    }
    icu::UnicodeString name;
    locale.getDisplayLanguage(locale, name);
    std::string text;
    name.toUTF8String(text);
    return text.empty() || text == locale.getLanguage() ? localeIdentifier : text;
}

PocketSphinxRecognizer::PocketSphinxRecognizer(std::vector<PocketSphinxModel> models)
    : models_(std::move(models)) {}

std::vector<PocketSphinxModel> PocketSphinxRecognizer::installedModels(const std::filesystem::path& root) {
    std::vector<PocketSphinxModel> models;
    const auto folder = root / "en-us";
    PocketSphinxModel english{.localeIdentifier = "en-US",
                              .acousticModel = folder / "en-us",
                              .languageModel = folder / "en-us.lm.bin",
                              .dictionary = folder / "cmudict-en-us.dict"};
    std::error_code error;
    if (std::filesystem::is_directory(english.acousticModel, error) &&
        std::filesystem::is_regular_file(english.languageModel, error) &&
        std::filesystem::is_regular_file(english.dictionary, error)) {
        models.push_back(std::move(english));
    }
    return models;
}

const PocketSphinxModel* PocketSphinxRecognizer::modelFor(const std::string& localeIdentifier) const {
    const std::string wanted = canonicalLocaleIdentifier(localeIdentifier);
    const std::string language = wanted.substr(0, wanted.find('-'));
    const bool withRegion = wanted.find('-') != std::string::npos;
    for (const auto& model : models_) {
        const std::string own = canonicalLocaleIdentifier(model.localeIdentifier);
        if (withRegion ? own == wanted : own.substr(0, own.find('-')) == language) {
            return &model;
        }
    }
    return nullptr;
}

std::optional<AudioFormat>
PocketSphinxRecognizer::bestAvailableAudioFormat(const std::string& localeIdentifier) {
    if (!modelFor(localeIdentifier)) {
        return std::nullopt;
    }
    return kAnalyzerFormat;
}

std::unique_ptr<SpeechAnalysis> PocketSphinxRecognizer::start(const std::string& localeIdentifier,
                                                              SpeechAnalysisCallbacks callbacks) {
    const PocketSphinxModel* model = modelFor(localeIdentifier);
    PocketSphinxModel chosen;
    if (model) {
        chosen = *model;
    } else {
        chosen.localeIdentifier = localeIdentifier; // fails to load, reported through onError
    }
    return std::make_unique<PocketSphinxAnalysis>(std::move(chosen), std::move(callbacks));
}

} // namespace velnote::platform
