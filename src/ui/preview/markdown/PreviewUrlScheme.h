#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace velnote {

// The preview pages' own URL scheme, "velnote-preview://local/...": each page, the diagram
// library from the resources and the web channel script are served from memory, so a page of any
// size loads without the network and without temporary files.
//
// Main thread only. The scheme must be known to Qt WebEngine before the QApplication exists; this
// library does that while the program starts, so callers need do nothing.
class PreviewUrlScheme {
  public:
    static constexpr const char* kName = "velnote-preview";

    // Registers the scheme (once) and gets Qt WebEngine ready to start: as root, Chromium runs only
    // without its sandbox; with a dark palette, pages see prefers-color-scheme dark. Safe to call
    // again.
    static void registerScheme();
    // Installs the handler on the default profile; call once the QApplication exists, before the
    // first page loads. Safe to call again.
    static void installHandler();

    // Serves `html` at the returned address until removePage().
    static QUrl addPage(QByteArray html);
    static void removePage(const QUrl& page);

    // Whether the resources hold the diagram library.
    static bool hasBundledMermaid();
};

} // namespace velnote
