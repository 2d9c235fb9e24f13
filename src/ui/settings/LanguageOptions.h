#pragma once

#include <string>
#include <vector>

namespace velnote {

// One entry of a language picker: the code stored when chosen and its name.
struct LanguageOption {
    std::string id;
    std::string label;
    bool operator==(const LanguageOption&) const = default;
};

// The ten languages a recording can use, named in the current locale's language (the code itself
// where the locale has no name for it). The input list starts with "auto" ("Auto Detect").
struct LanguageOptions {
    static std::vector<LanguageOption> outputLanguages();
    static std::vector<LanguageOption> inputLanguages();
    // The name of `code` in the current locale; `code` when there is none.
    static std::string displayName(const std::string& code);
};

} // namespace velnote
