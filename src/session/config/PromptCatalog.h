#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// One built-in summary prompt the user can pick by name.
struct SummaryPromptPresetDefinition {
    std::string id;     // stored in the settings and the session configuration
    std::string label;  // localized name for pickers
    std::string prompt; // the prompt text, lines joined by "\n", none at the end

    bool operator==(const SummaryPromptPresetDefinition&) const = default;
};

// One entry of a preset picker.
struct PromptOption {
    std::string id;
    std::string label;

    bool operator==(const PromptOption&) const = default;
};

// The built-in summary prompt presets "minutes", "worklog" and "seminar", in
// that order. Prompt texts follow the interface language (L10n::isJapanese()),
// not the output language; the overloads taking `japanese` choose it
// explicitly. Built on each call; any thread may call.
class PromptCatalog {
  public:
    static std::vector<SummaryPromptPresetDefinition> catalog();
    static std::vector<SummaryPromptPresetDefinition> catalog(bool japanese);
    // (id, label) pairs in catalogue order.
    static std::vector<PromptOption> options();
    // The prompt of the preset whose id equals `id` exactly; for any other id,
    // "" included, the "minutes" prompt.
    static std::string prompt(std::string_view id);
    static std::string prompt(std::string_view id, bool japanese);

    // The built-in prompt of the live summary, used while the user has set none.
    static std::string liveSummaryPrompt();
    static std::string liveSummaryPrompt(bool japanese);
    // The built-in guidelines of the intermediate notes of a long transcript's chunks, used
    // while the user has set none.
    static std::string intermediateNotePrompt();
    static std::string intermediateNotePrompt(bool japanese);

    // The system prompt of a live summary made by a command-line AI tool.
    struct LiveSummaryCLI {
        // Two lines: the instruction in the interface language, then the
        // output language ("出力言語: 日本語" for exactly "ja", else
        // "Output language: <outputLanguage>").
        static std::string system(std::string_view outputLanguage);
        static std::string system(std::string_view outputLanguage, bool japanese);
    };
};

} // namespace velnote
