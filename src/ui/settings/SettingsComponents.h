#pragma once

#include "context/screen/DisplayDirectory.h"
#include "ui/controls/Binding.h"
#include "ui/controls/ModelPickerField.h"
#include "ui/settings/FormBindings.h"
#include "ui/settings/ProviderSettingsViewModel.h"

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QVBoxLayout;

namespace velnote {

// The screen-capture rows of the preferences form: the capture switch and, while it is on, the
// display, the four loop timings, embedding and the embedded width, then two notes. The rows
// write straight into the bindings; storing is the host's business. Main thread only.
class ScreenshotSettingsSection : public QWidget {
  public:
    struct Bindings {
        Binding<bool> enabled;
        Binding<std::int64_t> displayIndex;
        Binding<double> pollNormal;    // seconds
        Binding<double> pollVideo;     // seconds
        Binding<double> saveMinNormal; // seconds
        Binding<double> saveMinVideo;  // seconds
        Binding<bool> embedEnabled;
        Binding<std::int64_t> embedMaxWidth; // pixels
    };

    ScreenshotSettingsSection(Bindings bindings, std::function<std::vector<AvailableDisplay>()> displays,
                              QWidget* parent = nullptr);

    // Shows the bindings' values, the displays and which rows apply.
    void refresh() { form_.sync(); }

    // The slider caption of `seconds` with `decimals` digits ("%.1f" / "%.0f").
    static std::string secondsText(double seconds, int decimals);

  private:
    FormBindings form_;
};

// Where the provider block gets the model lists from; the application's model-list service by
// default. Both are called on a worker thread and may throw.
struct ModelListSource {
    std::function<std::vector<std::string>(SummaryProvider, const std::string& apiKey,
                                           const std::string& baseURL)>
        fetchModels;
    std::function<std::vector<RemoteModelInfo>(const std::string& apiKey, bool freeOnly)>
        fetchOpenRouterModelInfos;

    static ModelListSource shared();
};

// The rows that edit one summary provider's settings: local model and paths, API key (global
// scope only), model picker, command-line model, Copilot's connection mode, Ollama's server. Only
// the chosen provider's rows show; everything is bound to `viewModel`, which decides whether an
// edit is a draft or a live change. Main thread only.
class ProviderModelSelectionView : public QWidget {
  public:
    ProviderModelSelectionView(ProviderSettingsViewModel& viewModel, bool supportsCLIProviders,
                               std::vector<std::string> localSummaryModels,
                               ModelListSource lists = ModelListSource::shared(), QWidget* parent = nullptr);

    void setProvider(SummaryProvider provider);
    SummaryProvider provider() const { return provider_; }
    // Shows the model's values; the pickers' fetch actions take up its keys and addresses.
    void refresh();

    // The picker of `provider`, for tests; null when it has none.
    ModelPickerField* modelPicker(SummaryProvider provider) const;

  private:
    QWidget* group(std::function<bool()> condition);
    void addLocalGroups();
    void addHttpGroup(SummaryProvider provider, ProviderSetting key, ProviderSetting model,
                      const char* keyTitle, const char* keyDefault, const char* pickerTitle,
                      const char* pickerDefault);
    void addCommandLineGroups();
    void addOllamaGroup();
    ModelPickerField* addPicker(QVBoxLayout& layout, SummaryProvider provider, const std::string& label,
                                ProviderSetting model);
    void updateFetchActions();

    ProviderSettingsViewModel& viewModel_;
    bool supportsCLIProviders_;
    std::vector<std::string> localSummaryModels_;
    ModelListSource lists_;
    SummaryProvider provider_ = SummaryProvider::llamaCppLocal;
    bool sessionScope_;
    FormBindings form_;
    QVBoxLayout* rows_ = nullptr;
    std::vector<std::pair<SummaryProvider, ModelPickerField*>> pickers_;
    platform::ObserverToken observation_;
};

} // namespace velnote
