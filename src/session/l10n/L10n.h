#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velnote {

// One value for a "%d" / "%ld" / "%@" / "%s" / "%f" placeholder of a text.
using L10nArg = std::variant<std::int64_t, double, std::string>;

// User-visible texts by dotted key ("L10n.MenuBar.startRecording") in the
// interface language, from the string catalogue in the resources; the English
// default travels with each call. Thread-safe; the catalogue and the language
// are decided once per process.
class L10n {
  public:
    // The catalogue text for `key`, else `defaultText`; formatted with `args`
    // only when there are any ("%%" stays as written without arguments).
    static std::string localized(std::string_view key, std::string_view defaultText,
                                 const std::vector<L10nArg>& args = {});

    // True when the interface language (LC_ALL, LC_MESSAGES, LANG) is Japanese.
    static bool isJapanese();
    // "ja" when the interface is Japanese, else "en".
    static std::string defaultLanguageCode();

    // Preferred catalogue tags in lookup order, e.g. {"fr", "fr-FR", "ja", "en"}.
    static const std::vector<std::string>& preferredTags();

    // printf-style formatting of a catalogue or default text.
    static std::string format(std::string_view text, const std::vector<L10nArg>& args);
};

} // namespace velnote
