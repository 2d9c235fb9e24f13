#include "session/config/PromptCatalog.h"

#include "session/l10n/L10n.h"

#include <span>

namespace velnote {
namespace {

constexpr std::string_view kMinutesEnglish[] = {
    "Create meeting minutes in Markdown format from the transcript (Whisper + live).",
    "- Output Markdown only. No ASCII box-drawing characters (┌┐└┘, etc.) or decorative symbols.",
    "- Tables must use `| ... |` format only.",
    "- When sources conflict, prioritize Whisper. Mark unclear sections with (※).",
    "",
    "# [Meeting Title]",
    "",
    "| Item | Details |",
    "|------|---------|",
    "| Date/Time | (Infer from timestamps or context; use \"Unknown\" if unavailable) |",
    "| Participants | (Map SPEAKER_XX to names if correspondence is given) |",
    "| Duration | (Calculate from timestamps) |",
    "",
    "## Overview",
    "(2–3 sentences summarizing the entire meeting)",
    "",
    "## [Topic Heading]",
    "(List content as bullet points)",
    "",
    "If a screenshot list is present: insert `![description](PLACEHOLDER:filename)` within the relevant "
    "topic section (max 2–3 images per topic). Do not create a standalone section at the end.",
};

constexpr std::string_view kMinutesJapanese[] = {
    "会議の文字起こし（Whisper + ライブ）から Markdown 形式の議事録を作成してください。",
    "- Markdown のみ出力。ASCII 罫線（┌┐└┘など）・装飾文字は不可",
    "- テーブルは `| ... |` 形式のみ",
    "- 矛盾時は Whisper を優先。不明瞭な箇所は（※）で示す",
    "",
    "# [会議タイトル]",
    "",
    "| 項目 | 内容 |",
    "|------|------|",
    "| 日時 | （タイムスタンプ・文脈から推測。不明なら「不明」） |",
    "| 参加者 | （SPEAKER_XX と名前の対応があれば反映） |",
    "| 所要時間 | （タイムスタンプから算出） |",
    "",
    "## 概要",
    "（2〜3文で会議全体の要旨）",
    "",
    "## [トピック見出し]",
    "（内容を箇条書きで記述）",
    "",
    "スクリーンショット一覧がある場合: 関連トピック内に `![説明](PLACEHOLDER:ファイル名)` "
    "で挿入（同一トピック最大2〜3枚）。末尾に独立セクションは作らない。",
};

constexpr std::string_view kWorklogEnglish[] = {
    "Create a chronological Markdown work log from the transcript (Whisper + live) and OCR.",
    "- Output Markdown only. No ASCII box-drawing characters or decorative symbols. Tables must use `| ... "
    "|` format only.",
    "- When sources conflict, prioritize Whisper. Mark unclear parts with (※) and inferences with "
    "(inferred).",
    "- If conversation is sparse, prioritize OCR and screen transitions.",
    "",
    "# [Work Title]",
    "",
    "| Item | Details |",
    "|------|---------|",
    "| Date/Time | (Use \"Unknown\" if unavailable) |",
    "| Assignee | (Include SPEAKER mapping if available) |",
    "| Duration | (Use \"Unknown\" if not calculable) |",
    "",
    "## Progress Summary",
    "(2–4 sentences)",
    "",
    "## Work Timeline",
    "- HH:MM — Action taken (include screen evidence and key OCR)",
    "",
    "## Next Actions",
    "(Assignee, content, deadline)",
    "",
    "If a screenshot list is present: place `![description](PLACEHOLDER:filename)` within the relevant "
    "timeline item. Do not create a standalone section at the end.",
};

constexpr std::string_view kWorklogJapanese[] = {
    "文字起こし（Whisper + ライブ）と OCR から時系列の Markdown 作業記録を作成してください。",
    "- Markdown のみ出力。ASCII 罫線・装飾文字は不可。テーブルは `| ... |` 形式のみ",
    "- 矛盾時は Whisper を優先。不明瞭は（※）、推測は（推測）で明示",
    "- 会話が少ない場合は OCR・画面遷移を優先して記述する",
    "",
    "# [作業タイトル]",
    "",
    "| 項目 | 内容 |",
    "|------|------|",
    "| 日時 | （不明なら「不明」） |",
    "| 担当者 | （SPEAKER 対応があれば記載） |",
    "| 所要時間 | （算出できなければ「不明」） |",
    "",
    "## 進捗サマリ",
    "（2〜4文）",
    "",
    "## 実作業のタイムライン",
    "- HH:MM — 実施内容（画面根拠・重要 OCR を添えて記述）",
    "",
    "## 次のアクション",
    "（担当者・内容・期日）",
    "",
    "スクリーンショット一覧がある場合: 関連タイムライン項目内に `![説明](PLACEHOLDER:ファイル名)` "
    "で配置。末尾に独立セクションは作らない。",
};

constexpr std::string_view kSeminarEnglish[] = {
    "Create Markdown seminar notes from the seminar/lecture transcript (Whisper + live).",
    "- Output Markdown only. No ASCII box-drawing characters or decorative symbols. Tables must use `| ... "
    "|` format only.",
    "- When sources conflict, prioritize Whisper. Mark unclear parts with (※) and inferences with "
    "(inferred).",
    "- Organize the speaker's arguments, evidence, and examples in a structured way.",
    "",
    "# [Seminar Title]",
    "",
    "| Item | Details |",
    "|------|---------|",
    "| Date/Time | (Infer from timestamps or context; use \"Unknown\" if unavailable) |",
    "| Speaker | (Map SPEAKER_XX to names if correspondence is given) |",
    "| Duration | (Calculate from timestamps) |",
    "",
    "## Overview",
    "(2–3 sentences summarizing the seminar's theme and purpose)",
    "",
    "## [Chapter / Topic Heading]",
    "### Key Arguments",
    "(Bullet points)",
    "",
    "### Evidence & Examples",
    "(Specific numbers, examples, and quotes)",
    "",
    "### Keywords",
    "(Key terminology and concepts as bullet points)",
    "",
    "## Summary & Takeaways",
    "(Speaker's conclusions and key learnings for participants)",
    "",
    "## Action Items",
    "(List if any)",
    "",
    "If a screenshot list is present: insert `![description](PLACEHOLDER:filename)` within the relevant "
    "topic. Do not create a standalone section at the end.",
};

constexpr std::string_view kSeminarJapanese[] = {
    "セミナー・講演の文字起こし（Whisper + ライブ）から Markdown 形式のセミナーノートを作成してください。",
    "- Markdown のみ出力。ASCII 罫線・装飾文字は不可。テーブルは `| ... |` 形式のみ",
    "- 矛盾時は Whisper を優先。不明瞭は（※）、推測は（推測）で明示",
    "- 講演者の主張・根拠・事例を構造的に整理する",
    "",
    "# [セミナータイトル]",
    "",
    "| 項目 | 内容 |",
    "|------|------|",
    "| 日時 | （タイムスタンプ・文脈から推測。不明なら「不明」） |",
    "| 講演者 | （SPEAKER_XX と名前の対応があれば反映） |",
    "| 所要時間 | （タイムスタンプから算出） |",
    "",
    "## 概要",
    "（2〜3文でセミナー全体の要旨・目的）",
    "",
    "## [章・トピック見出し]",
    "### 主要な主張",
    "（箇条書き）",
    "",
    "### 根拠・事例",
    "（具体的な数字・事例・引用）",
    "",
    "### キーワード",
    "（重要な専門用語・概念を箇条書き）",
    "",
    "## まとめ・学び",
    "（講演者の結論と参加者が持ち帰るべき学び）",
    "",
    "## アクションアイテム",
    "（あれば記載）",
    "",
    "スクリーンショット一覧がある場合: 関連トピック内に `![説明](PLACEHOLDER:ファイル名)` "
    "で挿入。末尾に独立セクションは作らない。",
};
std::string joinLines(std::span<const std::string_view> lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += lines[i];
    }
    return text;
}

struct Preset {
    std::string_view id;
    std::string_view labelKey;
    std::string_view englishLabel;
    std::span<const std::string_view> english;
    std::span<const std::string_view> japanese;
};

constexpr Preset kPresets[] = {
    {"minutes", "L10n.Prompts.minutesWriterLabel", "Meeting Minutes Writer", kMinutesEnglish,
     kMinutesJapanese},
    {"worklog", "L10n.Prompts.worklogWriterLabel", "Work Log Writer", kWorklogEnglish, kWorklogJapanese},
    {"seminar", "L10n.Prompts.seminarWriterLabel", "Seminar Notes Writer", kSeminarEnglish, kSeminarJapanese},
};

std::string label(const Preset& preset) {
    return L10n::localized(preset.labelKey, preset.englishLabel);
}

} // namespace

std::vector<SummaryPromptPresetDefinition> PromptCatalog::catalog() {
    return catalog(L10n::isJapanese());
}

std::vector<SummaryPromptPresetDefinition> PromptCatalog::catalog(bool japanese) {
    std::vector<SummaryPromptPresetDefinition> presets;
    for (const auto& preset : kPresets) {
        presets.push_back(
            {std::string(preset.id), label(preset), joinLines(japanese ? preset.japanese : preset.english)});
    }
    return presets;
}

std::vector<PromptOption> PromptCatalog::options() {
    std::vector<PromptOption> options;
    for (const auto& preset : kPresets)
        options.push_back({std::string(preset.id), label(preset)});
    return options;
}

std::string PromptCatalog::prompt(std::string_view id) {
    return prompt(id, L10n::isJapanese());
}

std::string PromptCatalog::prompt(std::string_view id, bool japanese) {
    const Preset* chosen = &kPresets[0];
    for (const auto& preset : kPresets) {
        if (preset.id == id) {
            chosen = &preset;
            break;
        }
    }
    return joinLines(japanese ? chosen->japanese : chosen->english);
}

std::string PromptCatalog::intermediateNotePrompt() {
    return intermediateNotePrompt(L10n::isJapanese());
}

std::string PromptCatalog::intermediateNotePrompt(bool japanese) {
    if (japanese) {
        return "箇条書きのみ。1 項目 = 1 事実または 1 アクションアイテム。\n"
               "- 決定事項・TODO・固有名詞・数値・未解決事項を優先して保持する\n"
               "- 【スクリーンショットOCRコンテキスト】が含まれる場合は、画面上の重要テキスト・UI操作・"
               "表示内容も箇条書きに含める\n"
               "- 断片内に存在しない情報・推測は書かない";
    }
    return "Bullet points only. 1 item = 1 fact or 1 action item.\n"
           "- Prioritize decisions, TODOs, proper nouns, numbers, and unresolved issues.\n"
           "- If [Screenshot OCR Context] is included, also add key on-screen text, UI operations, and "
           "displayed "
           "content as bullet points.\n"
           "- Do not add information or inferences not present in the fragment.";
}

std::string PromptCatalog::liveSummaryPrompt() {
    return liveSummaryPrompt(L10n::isJapanese());
}

std::string PromptCatalog::liveSummaryPrompt(bool japanese) {
    if (japanese) {
        return "文字起こしと OCR から日本語 Markdown のライブ要約を更新してください。\n"
               "- トピックごとに `## 見出し` でセクションを分け、箇条書き 5 行以内\n"
               "- 直近の新情報・決定事項・アクションアイテムを優先し、既出内容は重複させない\n"
               "- 推測は書かず、不明点は「未確定」と明記する";
    }
    return "Update a live summary in Markdown from the transcript and OCR context.\n"
           "- Organize by topic using `## Heading` sections, up to 5 bullet lines per section\n"
           "- Prioritize latest updates, decisions, and action items; avoid repeating existing points\n"
           "- Do not speculate; mark unknown items as \"Unconfirmed\"";
}

std::string PromptCatalog::LiveSummaryCLI::system(std::string_view outputLanguage) {
    return system(outputLanguage, L10n::isJapanese());
}

std::string PromptCatalog::LiveSummaryCLI::system(std::string_view outputLanguage, bool japanese) {
    std::string text = japanese
                           ? "あなたは会議・作業セッションのAIアシスタントです。以下のトランスクリプトを簡潔"
                             "に要約してください。"
                           : "You are an AI assistant for meeting and work sessions. Summarize the following "
                             "transcript concisely.";
    text += '\n';
    text += outputLanguage == "ja" ? std::string("出力言語: 日本語")
                                   : "Output language: " + std::string(outputLanguage);
    return text;
}

} // namespace velnote
