#pragma once

namespace velnote {

// Which of the two sets of fixed instruction texts a prompt uses. It follows
// the interface language, not the summary's output language.
enum class InterfaceLanguage { english, japanese };

// The running interface's language (L10n::isJapanese()).
InterfaceLanguage currentInterfaceLanguage();

} // namespace velnote
