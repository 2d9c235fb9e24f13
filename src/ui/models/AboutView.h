#pragma once

#include "ui/models/core/AboutContent.h"

#include <QWidget>
#include <functional>

class QPushButton;
class QUrl;

namespace velnote {

// The About window's content: eight titled sections in a scroll area (the application, the
// licence notices, the libraries, the script library of the preview, the transitive dependencies,
// and the transcription, summary and diarization models). Holds no state: everything is read when
// the content is built. Main thread.
class AboutView final : public QWidget {
  public:
    // What the view reads; tests give their own.
    struct Sources {
        std::function<std::optional<std::filesystem::path>()> resources;  // AboutContent::resourcesDirectory
        std::function<std::optional<std::filesystem::path>()> executable; // AboutContent::executablePath
        std::function<void(const QUrl&)> open; // QDesktopServices::openUrl; the answer is ignored
    };

    AboutView();
    explicit AboutView(Sources sources, QWidget* parent = nullptr);

    // Builds the content anew (the window does so each time it is shown).
    void rebuild();

    // The buttons of the licence section, in order (absent notices have none).
    QList<QPushButton*> noticeButtons() const;

  private:
    Sources sources_;
    QWidget* content_ = nullptr;
};

} // namespace velnote
