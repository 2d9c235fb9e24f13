#include "ui/preview/markdown/core/MarkdownPreviewPage.h"

#include "platform/json/Json.h"
#include "session/VelnoteLogger.h"

namespace velnote {
namespace {

constexpr std::string_view kStyleSheet = R"css(
:root {
  color-scheme: light dark;
  --bg: #ffffff;
  --fg: #1e293b;
  --title: #0f172a;
  --muted: #64748b;
  --border: #e2e8f0;
  --bg-soft: #f8fafc;
  --code-bg: #f1f5f9;
  --accent: #2563eb;
}
@media (prefers-color-scheme: dark) {
  :root {
    --bg: #0b1120;
    --fg: #cbd5e1;
    --title: #f8fafc;
    --muted: #94a3b8;
    --border: #1e293b;
    --bg-soft: #0f172a;
    --code-bg: #1e293b;
    --accent: #3b82f6;
  }
}
html, body {
  margin: 0;
  padding: 0;
  background: var(--bg);
  color: var(--fg);
  font-family: -apple-system, BlinkMacSystemFont, "Segoe UI", Roboto, Helvetica, Arial, sans-serif;
  font-size: 13px;
  line-height: 1.6;
}
body { padding: 20px 24px; word-wrap: break-word; overflow-wrap: anywhere; }
h1, h2, h3, h4, h5, h6 { margin: 1.4em 0 0.6em; line-height: 1.3; font-weight: 700; color: var(--title); }
h1 { font-size: 1.8em; border-bottom: 2px solid var(--accent); padding-bottom: 0.3em; margin-top: 0.5em; }
h2 { font-size: 1.45em; border-bottom: 1px solid var(--border); padding-bottom: 0.25em; }
h3 { font-size: 1.25em; }
p { margin: 0.6em 0; }
ul, ol { margin: 0.6em 0 0.6em 1.5em; padding: 0; }
li { margin: 0.25em 0; }
blockquote {
  margin: 0.8em 0;
  padding: 0.3em 0 0.3em 1em;
  border-left: 4px solid var(--accent);
  background: var(--bg-soft);
  color: var(--muted);
  border-radius: 0 6px 6px 0;
}
code {
  background: var(--code-bg);
  padding: 0.2em 0.4em;
  border-radius: 4px;
  font-family: ui-monospace, SFMono-Regular, SF Pro Text, monospace;
  font-size: 0.9em;
}
pre {
  background: var(--code-bg);
  padding: 1em 1.2em;
  border-radius: 8px;
  overflow-x: auto;
  border: 1px solid var(--border);
}
pre code { background: transparent; padding: 0; }
table {
  width: 100%;
  border-collapse: collapse;
  margin: 1em 0;
  font-size: 0.95em;
  border-radius: 8px;
  overflow: hidden;
  border: 1px solid var(--border);
}
th, td { border: 1px solid var(--border); padding: 0.6em 0.8em; vertical-align: top; text-align: left; }
th { background: var(--bg-soft); font-weight: 600; color: var(--title); }
hr { border: none; border-top: 1px solid var(--border); margin: 1.2em 0; }
a { color: var(--accent); text-decoration: none; }
a:hover { text-decoration: underline; }
)css";

constexpr std::string_view kThemeScript = R"js(
<script>
(function () {
  var dark = window.matchMedia('(prefers-color-scheme: dark)').matches;
  mermaid.initialize({ startOnLoad: true, theme: dark ? 'dark' : 'default' });
})();
</script>
)js";

// The body does not exist yet while the head runs, so the observer starts once it does.
constexpr std::string_view kHeightScript = R"js(<script src="/qwebchannel.js"></script>
<script>
(function () {
  var bridge = null;
  function reportHeight() {
    if (bridge && document.body) {
      bridge.reportHeight(document.body.scrollHeight);
    }
  }
  new QWebChannel(qt.webChannelTransport, function (channel) {
    bridge = channel.objects.heightReport;
    reportHeight();
  });
  window.addEventListener('load', reportHeight);
  document.addEventListener('DOMContentLoaded', function () {
    new MutationObserver(reportHeight).observe(document.body, { childList: true, subtree: true, characterData: true });
  });
})();
</script>
)js";

} // namespace

std::string MarkdownPreviewPage::bundledMermaidScriptElement() {
    return "<script src=\"/mermaid.min.js\"></script>";
}

std::string MarkdownPreviewPage::fallbackMermaidScriptElement() {
    return "<script src=\"https://cdn.jsdelivr.net/npm/mermaid@11/dist/mermaid.min.js\"></script>";
}

std::string_view MarkdownPreviewPage::styleSheet() {
    return kStyleSheet;
}

std::string MarkdownPreviewPage::page(std::string_view fragment, const Options& options) {
    std::string html = "<!doctype html>\n<html>\n<head>\n<meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
    html += "<style>";
    html += kStyleSheet;
    html += "</style>\n  ";
    html += options.mermaidScriptElement;
    html += kThemeScript;
    if (options.reportsHeight)
        html += kHeightScript;
    html += "\n</head>\n<body>\n<div id=\"markdown-container\">\n";
    html += fragment;
    html += "\n</div>\n</body>\n</html>";
    return html;
}

std::optional<std::string> MarkdownPreviewPage::updateScript(std::string_view fragment) {
    std::string encoded;
    try {
        encoded = platform::Json(std::string(fragment)).dump();
    } catch (const platform::Json::exception& e) {
        VelnoteLogger::app().error("Failed to encode markdown: {}", e.what());
        return std::nullopt;
    }
    return "if (document.getElementById('markdown-container')) {\n"
           "    document.getElementById('markdown-container').innerHTML = " +
           encoded +
           ";\n"
           "    if (typeof mermaid !== 'undefined') {\n"
           "        mermaid.run({ querySelector: '.mermaid' });\n"
           "    }\n"
           "}";
}

} // namespace velnote
