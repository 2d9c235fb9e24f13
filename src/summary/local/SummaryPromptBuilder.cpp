#include "summary/local/SummaryPromptBuilder.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Markers.h"
#include "session/l10n/L10n.h"
#include "summary/context/SummaryChunkingUtils.h"

namespace velnote::SummaryPromptBuilder {

namespace {

using namespace SummaryChunkingUtils;

std::string withoutChatMarkers(std::string_view text) {
    return platform::withoutMarkers(text, {"<|im_start|>", "<|im_end|>"});
}

std::string withDictionaryHint(std::string user, platform::SettingsStore& settings) {
    if (const std::string hint = userDictionaryHint(settings); !hint.empty())
        user += "\n\n" + hint;
    return user;
}

} // namespace

std::string buildLlamaPrompt(std::string_view userMessage, std::string_view systemPrompt,
                             std::string_view model) {
    std::string user = withoutChatMarkers(userMessage);
    if (platform::lowercased(model).starts_with("qwen3"))
        user += " /no_think";
    return "<|im_start|>system\n" + withoutChatMarkers(systemPrompt) + "<|im_end|>\n<|im_start|>user\n" +
           user + "<|im_end|>\n<|im_start|>assistant";
}

std::string buildSinglePassOverviewPrompt(const SummarySourceChunk& chunk, std::string_view summaryPrompt,
                                          std::string_view outputLanguage, std::string_view model,
                                          InterfaceLanguage language, platform::SettingsStore& settings) {
    const std::string system = buildOutputLanguageInstruction(outputLanguage) + "\n\n" +
                               compactSummaryDirective(summaryPrompt, model, language);
    const std::string title = L10n::localized("L10n.Summarization.input", "Input");
    std::string user;
    if (language == InterfaceLanguage::japanese) {
        user = "以下の文字起こしだけを情報源として、システムプロンプトの形式通りに Markdown "
               "形式の最終概要を作成して"
               "ください。\n- 会議の流れ・主要な決定・アクションアイテム・未完了事項をすべて含める\n- "
               "テーブルは "
               "`| 項目 | 内容 |` 形式で出力する\n- 入力にない情報は追加しない\n\n【" +
               title + ": " + chunk.label + "】\n" + chunk.text;
    } else {
        user =
            "Using only the following transcript as your source, create the final summary in "
            "Markdown\nfollowing "
            "the format in the system prompt.\n- Include the meeting flow, key decisions, action items, and "
            "unresolved issues.\n- Output tables in `| Item | Details |` format.\n- Do not add information "
            "not "
            "present in the input.\n\n[" +
            title + ": " + chunk.label + "]\n" + chunk.text;
    }
    return buildLlamaPrompt(withDictionaryHint(std::move(user), settings), system, model);
}

std::string buildChunkCompressionPrompt(const SummarySourceChunk& chunk, std::string_view intermediatePrompt,
                                        std::string_view outputLanguage, std::string_view model,
                                        InterfaceLanguage language, platform::SettingsStore& settings) {
    // Always without a model: the configured note rules, never a shortened variant.
    const std::string directive = compactIntermediateDirective(intermediatePrompt, "", language);
    std::string user = noteGuidelinesAndFragment(directive, chunk);
    return buildLlamaPrompt(withDictionaryHint(std::move(user), settings),
                            noteSystemText(outputLanguage, language), model);
}

} // namespace velnote::SummaryPromptBuilder
