#include "summary/service/SummaryPromptAssembly.h"

#include "platform/text/Whitespace.h"

#include <array>
#include <string_view>

namespace velnote::SummaryPromptAssembly {

namespace {

// The skeleton lines of the summary JSON with their indentation.
constexpr std::array<std::string_view, 10> kEnglishSkeleton = {
    "{",
    "  \"title\": \"Summary Title\",",
    "  \"sections\": [",
    "    {",
    "      \"heading\": \"Section Heading (e.g., Overview, Decisions, TODO, ER Diagram)\",",
    "      \"format\": \"Content format (e.g., markdown, list, mermaid, table)\",",
    "      \"content\": \"The actual content (Markdown or Mermaid text)\"",
    "    }",
    "  ]",
    "}"};

constexpr std::array<std::string_view, 10> kJapaneseSkeleton = {
    "{",
    "  \"title\": \"要約のタイトル\",",
    "  \"sections\": [",
    "    {",
    "      \"heading\": \"セクションの見出し（例：概要、決定事項、TODO、ER図など）\",",
    "      \"format\": \"出力フォーマット（例：markdown, list, mermaid, table）\",",
    "      \"content\": \"実際のコンテンツ（MarkdownやMermaidのテキスト）\"",
    "    }",
    "  ]",
    "}"};

std::string block(std::string_view heading, std::string_view must, std::string_view noFence,
                  const std::array<std::string_view, 10>& skeleton, std::string_view sections) {
    std::string text =
        "\n" + std::string(heading) + "\n" + std::string(must) + "\n" + std::string(noFence) + "\n\n";
    for (const std::string_view line : skeleton)
        text += std::string(line) + "\n";
    return text + "\n" + std::string(sections);
}

} // namespace

std::string outputFormatBlock(InterfaceLanguage language) {
    if (language == InterfaceLanguage::japanese)
        return block(
            "【重要：出力フォーマットの指定】",
            "最終的な出力は、必ず以下の JSON 構造（StructuredSummaryResponse）に従う単一の JSON "
            "オブジェクトにしてください。",
            "Markdown のコードブロック (```json ... ```) は含めず、純粋な JSON "
            "文字列のみを出力してください。",
            kJapaneseSkeleton,
            "各セクションは、要求されたトピックに合わせて適切に分割し、出力指示（Markdownや表など）に忠実に "
            "content を構築してください。");
    return block(
        "[IMPORTANT: Output Format]",
        "You MUST output your final response as a single JSON object strictly matching the structure below.",
        "Do NOT wrap the JSON in markdown code blocks (```json ... ```), output the raw JSON string "
        "directly.",
        kEnglishSkeleton,
        "Divide your response into appropriate sections according to the requested topics, and faithfully "
        "construct the content in the specified format (markdown, table, etc.).");
}

std::string resolvedSummaryPrompt(const SessionConfig& config, InterfaceLanguage language) {
    std::string prompt = config.summary.resolvedPrompt;
    if (const std::string note = platform::trimWhitespace(config.summary.userNote); !note.empty())
        prompt += "\n\n## 追加指示\n" + note;
    return prompt + outputFormatBlock(language);
}

} // namespace velnote::SummaryPromptAssembly
