#pragma once

#include "ui/monitor/core/RetryTypes.h"

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace velnote {

class ModelPickerField;

// What the model pickers' fetches, which run on a worker, read of the dialog: the base URL and
// the OpenRouter key as the dialog held them when it was last drawn or edited.
class RetryFetchInputs {
  public:
    void set(const RetryFormValues& values) {
        std::lock_guard lock(mutex_);
        baseURL_ = values.providerBaseURL;
        apiKey_ = values.providerAPIKey;
    }
    std::string baseURL() const {
        std::lock_guard lock(mutex_);
        return baseURL_;
    }
    std::string apiKey() const {
        std::lock_guard lock(mutex_);
        return apiKey_;
    }

  private:
    mutable std::mutex mutex_;
    std::string baseURL_;
    std::string apiKey_;
};

// The form of the retry dialog: a note, the start step, speech transcription (only when starting
// from transcription), speaker diarization (not when starting from the summary), the nightly-batch
// mark, the summary provider with its model fields, and the prompts. It edits its own copy of the
// values; hidden fields keep what they hold and are handed back too. Main thread.
class RetryProviderSelectionForm final : public QWidget {
  public:
    RetryProviderSelectionForm(const RetryWindowInput& input, QWidget* parent = nullptr);

    const RetryFormValues& values() const { return values_; }
    bool isStartStepAllowed(RetryStartStep step) const;

    // For the tests and the dialog's buttons.
    QAbstractButton* startStepButton(RetryStartStep step) const;
    QAbstractButton* providerButton(const std::string& rawValue) const;
    QWidget* field(const char* name) const;

  private:
    void buildNote();
    void buildStartStep();
    void buildTranscription();
    void buildDiarization();
    void buildNightlyBatch();
    void buildAI();
    void buildPrompts();
    // Shows and fills every control from the values; edits never come back through here.
    void render();

    QGroupBox* section(const QString& title);

    SessionStatusSnapshot snapshot_;
    RetryFormValues values_;
    bool rendering_ = false;

    QButtonGroup* startSteps_ = nullptr;
    QLabel* stepNotAvailable_ = nullptr;
    QGroupBox* transcription_ = nullptr;
    QComboBox* whisperModel_ = nullptr;
    QComboBox* language_ = nullptr;
    QComboBox* outputLanguage_ = nullptr;
    QGroupBox* diarization_ = nullptr;
    QCheckBox* diarizationEnabled_ = nullptr;
    QSpinBox* speakers_ = nullptr;
    QLabel* speakersLabel_ = nullptr;
    QCheckBox* nightlyBatch_ = nullptr;
    QButtonGroup* providers_ = nullptr;
    std::vector<std::string> providerValues_;
    // Provider fields by object name, shown by the provider chosen.
    std::map<std::string, QWidget*> fields_;
    std::vector<ModelPickerField*> pickers_;
    std::shared_ptr<RetryFetchInputs> fetchInputs_ = std::make_shared<RetryFetchInputs>();
    QComboBox* promptMode_ = nullptr;
    QComboBox* promptPreset_ = nullptr;
    QPlainTextEdit* presetContent_ = nullptr;
    QWidget* presetBlock_ = nullptr;
    QWidget* customBlock_ = nullptr;
    QPlainTextEdit* promptCustom_ = nullptr;
    QPlainTextEdit* intermediate_ = nullptr;
};

} // namespace velnote
