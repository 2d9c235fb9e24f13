#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velnote {

// The text of the Markdown preview page and of the script that replaces its content. Qt-free, so
// the page can be checked without a web engine.
//
// The page is served from the preview's own URL scheme: the diagram library and the channel
// script come from the same origin ("/mermaid.min.js", "/qwebchannel.js"), so no page needs the
// network. The container element is "markdown-container"; elements of class "mermaid" are drawn
// once the page has loaded, with the dark theme when the page opened in the dark appearance.
struct MarkdownPreviewPage {
    struct Options {
        // How the diagram library is loaded: the whole script element.
        std::string mermaidScriptElement;
        // Adds the script that reports document.body.scrollHeight to the channel object
        // "heightReport" after the load and after every change of the body.
        bool reportsHeight = false;
    };

    // The script element of the library served beside the page.
    static std::string bundledMermaidScriptElement();
    // The public copy of major version 11, for a build whose resources lack the library.
    static std::string fallbackMermaidScriptElement();

    // The whole page around `fragment` (rendered HTML).
    static std::string page(std::string_view fragment, const Options& options);

    // The script that puts `fragment` into the container (when it exists) and draws its diagrams.
    // std::nullopt, logged, when the fragment cannot be encoded as a JSON string (invalid UTF-8).
    static std::optional<std::string> updateScript(std::string_view fragment);

    static std::string_view styleSheet();
};

} // namespace velnote
