#pragma once

#include "session/config/SummaryProvider.h"
#include "ui/settings/FormBindings.h"
#include "ui/settings/LanguageOptions.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QVBoxLayout;
class QWidget;

// What the preferences form and the session settings form lay out alike: the fixed model lists,
// the pickers' options and the small row pieces. Main thread only.
namespace velnote::form {

// The speech models and the local summary models the pickers offer, in this order.
const std::vector<std::string>& whisperModels();
const std::vector<std::string>& localSummaryModels();

QString qs(const std::string& text);
// The interface text of `key`, `english` when the catalogue has none.
std::string text(const char* key, const char* english);

// A vertical layout of `widget` without margins.
QVBoxLayout* column(QWidget* widget, int spacing = 6);
// `control` after a plain-text label of `title`, the control taking the width.
QWidget* labelled(const std::string& title, QWidget* control);
QFrame* divider();
QLabel* headline(const std::string& title);

// The provider a picker's text names exactly, if any.
std::optional<SummaryProvider> providerNamed(const std::string& value);

FormBindings::Options summaryProviderOptions();       // the providers this build offers
FormBindings::Options transcriptionProviderOptions(); // "local", "openai"
FormBindings::Options whisperModelOptions();
FormBindings::Options promptModeOptions(); // "preset", "custom"
FormBindings::Options languageOptions(const std::vector<LanguageOption>& languages);

} // namespace velnote::form
