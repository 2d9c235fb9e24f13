#pragma once

#include "session/l10n/L10n.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// One loaded string catalogue together with the interface locale it serves.
// L10n keeps one of these for the process; tests build their own from a file
// and a locale name. Immutable after construction, so any thread may read it.
//
// Catalogue file (JSON): the root, or its "localizedStrings" member when that
// is an object, maps each text key to an entry; an entry's "localizedValues"
// maps a language tag ("ja", "en", "en-US") to {"stringValue": "..."}. Members
// of any other shape are skipped.
class L10nCatalog {
  public:
    // Key → language tag → text.
    using Table = std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>;

    // Language and region of a POSIX locale name.
    struct Locale {
        std::optional<std::string> languageCode; // "ja"; none for "C", "POSIX" or ""
        std::optional<std::string> regionCode;   // "JP"; none when the name has no territory

        // "ja_JP.UTF-8" and "ja_JP.UTF-8@mod" give "ja" / "JP"; "fr" gives "fr" alone.
        static Locale parse(std::string_view posixName);
        // The first non-empty of LC_ALL, LC_MESSAGES and LANG.
        static Locale fromEnvironment();
    };

    L10nCatalog(Table table, Locale locale);

    // Reads and walks `file`. A missing or unreadable file, a JSON error or a
    // root that is not an object is logged (category "app") and gives an
    // empty table. std::nullopt means the catalogue could not be located.
    static L10nCatalog load(const std::optional<std::filesystem::path>& file, Locale locale);
    // The table of a catalogue document; logs and gives an empty table on failure.
    static Table parse(std::string_view bytes);

    // The catalogue file of this installation: $VELNOTE_RESOURCES_DIR when set,
    // else the source tree's resources folder when it holds the file, else
    // <executable folder>/../share/velnote; std::nullopt when none holds it.
    static std::optional<std::filesystem::path> locate();

    // See L10n::localized.
    std::string localized(std::string_view key, std::string_view defaultText,
                          const std::vector<L10nArg>& args = {}) const;
    // The text of the first preferred tag the key has; std::nullopt otherwise. An English
    // interface never falls back to a Japanese text: the caller's English default reads better.
    std::optional<std::string> localizedString(std::string_view key) const;

    bool isJapanese() const { return japanese_; }
    std::string defaultLanguageCode() const { return japanese_ ? "ja" : "en"; }
    // The locale's language, language-REGION, then "ja", then "en" (repeats kept).
    const std::vector<std::string>& preferredTags() const { return preferredTags_; }

  private:
    Table table_;
    std::vector<std::string> preferredTags_;
    std::vector<std::string> lookupTags_; // preferredTags_ without "ja" for an English interface
    bool japanese_ = false;
};

} // namespace velnote
