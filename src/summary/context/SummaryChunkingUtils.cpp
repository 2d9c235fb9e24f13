#include "summary/context/SummaryChunkingUtils.h"

#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/config/PromptCatalog.h"
#include "session/l10n/L10n.h"
#include "session/settings/UserDictionaryStore.h"
#include "summary/core/TextPattern.h"

namespace velnote::SummaryChunkingUtils {

namespace {

using platform::joined;

bool japanese(InterfaceLanguage language) {
    return language == InterfaceLanguage::japanese;
}

bool isCompactModel(std::string_view model) {
    return model == "apple_local" || model == "qwen2.5-3b-instruct-mlx-4bit";
}

bool isTableModel(std::string_view model) {
    return model == "qwen3-8b-instruct-mlx-4bit" || model == "qwen2.5-7b-instruct-mlx-4bit";
}

std::string compactSummaryText(InterfaceLanguage language) {
    if (japanese(language))
        return joined({"日本語で会議の要約を Markdown で作成してください。",
                       "# タイトル → ## 概要（2文以内）→ ## トピック（箇条書き）の順で出力してください。",
                       "テーブルは使わない。推測は書かない。不明な箇所は（※）で示す。"},
                      "\n");
    return joined({"Create a meeting summary in Markdown.",
                   "Output in order: # Title → ## Overview (2 sentences max) → ## Topics (bullet points).",
                   "No tables. No speculation. Mark unclear parts with (※)."},
                  "\n");
}

std::string tableSummaryText(InterfaceLanguage language) {
    if (japanese(language))
        return joined({"日本語で会議の要約を Markdown で作成してください。",
                       "# タイトル → ## 概要（2文以内）→ ## トピック（箇条書き）の順で出力してください。",
                       "- 簡潔なテーブル表記（`| 項目 | 内容 |`）は適宜使用してよい",
                       "- 推測は書かない。不明な箇所は（※）で示す。"},
                      "\n");
    return joined({"Create a meeting summary in Markdown.",
                   "Output in order: # Title → ## Overview (2 sentences max) → ## Topics (bullet points).",
                   "- You may use simple tables (`| Item | Details |`) if appropriate.",
                   "- No speculation. Mark unclear parts with (※)."},
                  "\n");
}

// The built-in "minutes" preset of the catalogue, in the interface language asked for.
std::string defaultMinutesPrompt(InterfaceLanguage language) {
    return PromptCatalog::prompt("minutes", japanese(language));
}

std::string compactIntermediateText(InterfaceLanguage language) {
    if (japanese(language))
        return "以下の文字起こし断片から事実のみを箇条書きで抽出せよ。推測や要約は書かないこと。";
    return "Extract only facts from the following transcript fragment as bullet points. Do not speculate or "
           "summarize.";
}

std::string defaultIntermediateRules(InterfaceLanguage language) {
    return PromptCatalog::intermediateNotePrompt(japanese(language));
}

std::string noteSystemTail(InterfaceLanguage language) {
    if (japanese(language))
        return "\n\n以下の文字起こし断片から事実を箇条書きで抽出せよ。1項目＝1事実・決定・アクションアイテム"
               "。"
               "数値・固有名詞・期限・担当者を必ず保持する。推測・補完・要約は書かない。網羅性を最優先する。";
    return "\n\n" + joined({"Extract facts from the following transcript fragment as bullet points.",
                            "1 item = 1 fact, decision, or action item.",
                            "Always retain numbers, proper nouns, deadlines, and assignees.",
                            "Do not add speculation, inference, or summarization.",
                            "Prioritize completeness above all."},
                           "\n");
}

std::int64_t clockSeconds(std::string_view clock) {
    const std::vector<std::string> parts = platform::splitOn(clock, ":");
    std::int64_t seconds = 0;
    for (const std::string& part : parts)
        seconds = seconds * 60 + std::stoll(part);
    return seconds;
}

std::string durationText(std::int64_t d, InterfaceLanguage language) {
    const bool ja = japanese(language);
    const std::string about = ja ? "約" : "approx. ";
    if (d < 60)
        return about + std::to_string(d) + (ja ? "秒" : "s");
    std::string text = about + std::to_string(d / 60) + (ja ? "分" : "m");
    if (d % 60 >= 1)
        text += std::to_string(d % 60) + (ja ? "秒" : "s");
    return text;
}

} // namespace

std::optional<std::string> extractTranscriptTimeRange(std::string_view transcript,
                                                      InterfaceLanguage language) {
    static const TextPattern stamp("\\[SPEAKER_\\S+ (\\d{2}:\\d{2}:\\d{2})\\]");
    if (!stamp.compiled()) {
        VelnoteLogger::processing().error("failed to compile regex for time range extraction: {}",
                                          "pattern rejected");
        return std::nullopt;
    }
    const std::vector<platform::RegexMatch> matches = stamp.allMatches(transcript);
    if (matches.empty())
        return std::nullopt;
    const std::string first = matches.front().groups[1]->text;
    const std::string last = matches.back().groups[1]->text;
    if (first.empty() || first == last)
        return std::nullopt;
    const std::int64_t d = clockSeconds(last) - clockSeconds(first);
    return first + "–" + last + "（" + durationText(d, language) + "）";
}

std::string compactSummaryDirective(std::string_view prompt, std::string_view model,
                                    InterfaceLanguage language) {
    if (isCompactModel(model))
        return compactSummaryText(language);
    if (isTableModel(model))
        return tableSummaryText(language);
    std::string trimmed = platform::trimWhitespace(prompt);
    return trimmed.empty() ? platform::trimWhitespace(defaultMinutesPrompt(language)) : trimmed;
}

std::string compactIntermediateDirective(std::string_view prompt, std::string_view model,
                                         InterfaceLanguage language) {
    if (isCompactModel(model))
        return compactIntermediateText(language);
    std::string trimmed = platform::trimWhitespace(prompt);
    return trimmed.empty() ? defaultIntermediateRules(language) : trimmed;
}

std::string buildOutputLanguageInstruction(std::string_view code) {
    static const std::pair<std::string_view, std::string_view> names[] = {
        {"en", "English"},
        {"zh", "Simplified Chinese"},
        {"zh-tw", "Traditional Chinese"},
        {"ko", "Korean"},
        {"fr", "French"},
        {"de", "German"},
        {"es", "Spanish"},
        {"it", "Italian"},
        {"pt", "Portuguese"},
    };
    std::string name = "Japanese";
    for (const auto& [known, language] : names) {
        if (code == known)
            name = language;
    }
    return "Output entirely in " + name + ". All text including headings, labels, and bullets must be in " +
           name + ".";
}

std::string userDictionaryHint(platform::SettingsStore& settings) {
    std::vector<std::string> lines;
    for (const UserDictionaryEntry& entry : UserDictionaryStore::loadEntries(settings)) {
        if (!entry.wrong.empty() && !entry.correct.empty())
            lines.push_back(L10n::localized("L10n.UserDictionary.entryFormat", "- %@ -> %@",
                                            {entry.wrong, entry.correct}));
    }
    if (lines.empty())
        return {};
    lines.insert(lines.begin(),
                 L10n::localized("L10n.Summarization.userDictionaryHeader",
                                 "User dictionary entries are listed below. Use them to correct mistakes in "
                                 "transcription or summary. Format: \"incorrect -> correct\"."));
    return joined(lines, "\n");
}

std::string noteSystemText(std::string_view outputLanguage, InterfaceLanguage language) {
    return buildOutputLanguageInstruction(outputLanguage) + noteSystemTail(language);
}

bool hasGuidelineMarker(std::string_view directive) {
    for (const std::string_view marker : {"以下は全文の一部です。まだ最終要約ではありません。",
                                          "【中間ノートの指針】", "Intermediate Note Guidelines"}) {
        if (directive.find(marker) != std::string_view::npos)
            return true;
    }
    return false;
}

std::string noteGuidelinesAndFragment(std::string_view directive, const SummarySourceChunk& chunk) {
    std::string text(directive);
    if (!hasGuidelineMarker(directive)) {
        text =
            "【" +
            L10n::localized("L10n.Summarization.intermediateNoteGuidelines", "Intermediate Note Guidelines") +
            "】\n" + text;
    }
    return text + "\n\n【" + L10n::localized("L10n.Summarization.targetFragment", "Target Fragment") + ": " +
           chunk.label + "】\n" + chunk.text;
}

NoteRequest chunkNoteContent(const SummarySourceChunk& chunk, std::string_view intermediatePrompt,
                             std::string_view outputLanguage,
                             const std::optional<std::string>& chunkScreenshotHint, std::string_view model,
                             InterfaceLanguage language, platform::SettingsStore& settings) {
    std::string user =
        noteGuidelinesAndFragment(compactIntermediateDirective(intermediatePrompt, model, language), chunk);
    if (const std::string hint = userDictionaryHint(settings); !hint.empty())
        user += "\n\n" + hint;
    if (chunkScreenshotHint && !platform::isBlank(*chunkScreenshotHint))
        user += "\n\n" + *chunkScreenshotHint;
    return {.system = noteSystemText(outputLanguage, language), .user = std::move(user)};
}

} // namespace velnote::SummaryChunkingUtils
