#pragma once

#include <optional>
#include <string>

namespace velnote {

// The input language of the live transcription: the recording's setting (a code such as "ja" or
// "zh-tw", an English, native or Japanese language name, or "auto") as one of ten locale
// identifiers ("ja-JP", "en-US", "zh-CN", "zh-TW", "ko-KR", "fr-FR", "de-DE", "es-ES", "it-IT",
// "pt-BR"), or none for automatic detection (the user's current locale). An unknown value is
// logged and falls back to automatic. Callable from any thread.
std::optional<std::string> normalizedRealtimeInputLanguage(const std::optional<std::string>& language);

// Logs a warning when automatic detection (`normalizedLanguage` none) runs on a system whose
// locales include no English one.
void warnIfEnglishNotSupported(const std::optional<std::string>& normalizedLanguage);

} // namespace velnote
