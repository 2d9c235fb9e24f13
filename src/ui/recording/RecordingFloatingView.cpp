#include "ui/recording/RecordingFloatingView.h"

#include "platform/concurrency/SystemClock.h"
#include "session/l10n/L10n.h"
#include "ui/theme/AppTheme.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace velnote {
namespace {

constexpr const char* kOpenSectionsKey = "recordingFloatingOpenSections";
constexpr const char* kCompactKey = "recordingFloatingCompactModeEnabled";
constexpr const char* kDisplayTranslationKey = "liveTranscriptDisplayInOutputLanguage";
constexpr const char* kVoiceProcessingKey = "enableVoiceProcessing";

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    return line;
}

// The worker reads the state the view was given, not necessarily the process's.
LiveTranslationWorkerDependencies translationDependencies(LiveTranslationWorkerDependencies dependencies,
                                                          AppState& state) {
    if (!dependencies.snapshot) {
        dependencies.snapshot = [&state] { return translationWorkerState(state); };
    }
    if (!dependencies.pendingText) {
        dependencies.pendingText = [&state] { return state.transcriptPendingTextBuffer().latest; };
    }
    if (!dependencies.activeSessionDir) {
        dependencies.activeSessionDir = [&state] { return state.activeSessionDir(); };
    }
    return dependencies;
}

const std::vector<AppStateField> kShownFields{
    AppStateField::recordingState,
    AppStateField::recordingStartedAt,
    AppStateField::statusMessage,
    AppStateField::isRecordingFloatingWindowVisible,
    AppStateField::micInputLevel,
    AppStateField::sysInputLevel,
    AppStateField::micInputGain,
    AppStateField::sysInputGain,
    AppStateField::micMuted,
    AppStateField::sysMuted,
    AppStateField::liveTranscriptLines,
    AppStateField::liveTranscriptPendingText,
    AppStateField::liveTranscriptPending,
    AppStateField::liveTranscriptError,
    AppStateField::liveSummary,
    AppStateField::liveSummaryPending,
    AppStateField::liveSummaryError,
    AppStateField::liveSummaryEnabled,
    AppStateField::liveSummaryIntervalMinutes,
    AppStateField::captureRegion,
    AppStateField::liveActivity,
    AppStateField::activeSessionDir,
    AppStateField::activeSessionConfig,
    AppStateField::transcriptLinesBuffer,
    AppStateField::transcriptPendingTextBuffer,
};

} // namespace

// --- Accordion ---

AccordionSection::AccordionSection(std::string id, const QString& title, std::string_view symbol,
                                   QWidget* content, QWidget* parent)
    : QWidget(parent), id_(std::move(id)), header_(new QPushButton(this)),
      chevron_(new SymbolLabel("chevron.right", header_)), title_(new QLabel(title, header_)),
      content_(content) {
    header_->setFlat(true);
    header_->setObjectName(QString::fromStdString(id_));
    header_->setAccessibleName(title);
    auto* row = new QHBoxLayout(header_);
    row->setContentsMargins(10, 6, 10, 6);
    row->setSpacing(8);
    QFont font = title_->font();
    font.setPointSizeF(13);
    font.setWeight(QFont::DemiBold);
    title_->setFont(font);
    chevron_->setFont(font);
    row->addWidget(chevron_);
    row->addWidget(title_);
    row->addStretch(1);
    row->addWidget(new SymbolLabel(symbol, header_));
    header_->setMinimumHeight(title_->sizeHint().height() + 12);

    content_->setParent(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header_);
    auto* padded = new QVBoxLayout;
    padded->setContentsMargins(10, 8, 10, 8);
    padded->addWidget(content_);
    column->addLayout(padded, 1);
    const QPalette palette = this->palette();
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("velnote--AccordionSection { background-color: %1; border: 0.8px solid %2; "
                                 "border-radius: 10px; }")
                      .arg(AppTheme::hudCardBackground().resolve(palette).name(QColor::HexArgb),
                           AppTheme::hudCardBorder().resolve(palette).name(QColor::HexArgb)));
    setObjectName(QString::fromStdString(id_));
}

void AccordionSection::setOpen(bool open, bool panelVisible) {
    chevron_->setSymbol(open ? "chevron.down" : "chevron.right");
    setTextColor(*title_, open ? palette().color(QPalette::WindowText) : secondaryColor(palette()));
    header_->setStyleSheet(
        open ? QStringLiteral("QPushButton { background-color: %1; border: none; }")
                   .arg(AppTheme::sectionHeaderBackground().resolve(palette()).name(QColor::HexArgb))
             : QStringLiteral("QPushButton { background-color: transparent; border: none; }"));
    content_->setVisible(open && panelVisible);
}

// --- View ---

RecordingFloatingView::RecordingFloatingView(Dependencies dependencies, QWidget* parent) : QWidget(parent) {
    AppState& state = dependencies.state != nullptr ? *dependencies.state : AppState::shared();
    dependencies.translation.onChange = [this, next = std::move(dependencies.translation.onChange)] {
        if (actionRow_ != nullptr) { // the worker may report before the widgets exist
            refresh();
        }
        if (next) {
            next();
        }
    };
    translation_ = std::make_unique<LiveTranslationWorker>(
        translationDependencies(std::move(dependencies.translation), state));
    context_ = RecordingViewContext{
        .state = &state,
        .settings =
            dependencies.settings != nullptr ? dependencies.settings : &platform::SettingsStore::standard(),
        .actions =
            dependencies.actions ? std::move(*dependencies.actions) : RecordingWindowActions::defaults(),
        .translation = translation_.get(),
        .clock = dependencies.clock != nullptr ? dependencies.clock : &platform::SystemClock::shared(),
    };

    header_ = new RecordingHeader(context_, this);
    audio_ = new AudioControlsSection(context_);
    activity_ = new ActivitySection(context_);
    transcript_ = new TranscriptSection(context_);
    summary_ = new SummarySection(context_);

    sectionArea_ = new QWidget(this);
    auto* sectionStack = new QVBoxLayout(sectionArea_);
    sectionStack->setContentsMargins(6, 4, 6, 2);
    sectionStack->setSpacing(10);
    struct SectionSpec {
        std::string_view id;
        const char* key;
        const char* english;
        const char* symbol;
        QWidget* content;
        int stretch;
    };
    for (const SectionSpec& spec :
         {SectionSpec{recording_view::kVolume, "L10n.Recording.audioControls", "Audio Controls",
                      "speaker.wave.2", audio_, 0},
          SectionSpec{recording_view::kActivity, "L10n.Recording.currentActivity", "Current Activity",
                      "person.crop.rectangle.stack", activity_, 0},
          SectionSpec{recording_view::kTranscription, "L10n.Recording.liveTranscript", "Live Transcript",
                      "text.bubble", transcript_, 1},
          SectionSpec{recording_view::kSummary, "L10n.Recording.liveSummary", "Live Summary", "sparkles",
                      summary_, 1}}) {
        auto* section = new AccordionSection(std::string(spec.id), localizedText(spec.key, spec.english),
                                             spec.symbol, spec.content, sectionArea_);
        sections_.push_back(section);
        sectionStack->addWidget(section, spec.stretch);
        connect(section->headerButton(), &QPushButton::clicked, this,
                [this, id = std::string(spec.id)] { toggleSection(id); });
    }
    sectionStack->addStretch(0);

    compactArea_ = new QWidget(this);
    waveform_ = new CompactWaveform(compactArea_);
    latestLine_ = new CompactLatestLine(compactArea_);
    auto* compactStack = new QVBoxLayout(compactArea_);
    compactStack->setContentsMargins(6, 6 + 4, 6, 6);
    compactStack->setSpacing(8);
    compactStack->addWidget(waveform_);
    compactStack->addWidget(latestLine_);

    actionArea_ = new QWidget(this);
    actionRow_ = new ActionRow(context_, actionArea_);
    auto* actionPadding = new QVBoxLayout(actionArea_);
    actionPadding->setContentsMargins(10, 10, 10, 10);
    actionPadding->addWidget(actionRow_);
    actionArea_->setAttribute(Qt::WA_StyledBackground);
    actionArea_->setStyleSheet(
        QStringLiteral("background-color: %1; border-top: 0.5px solid %2;")
            .arg(AppTheme::hudCardBackground().resolve(palette()).name(QColor::HexArgb),
                 AppTheme::separator().resolve(palette()).name(QColor::HexArgb)));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header_);
    column->addWidget(divider(this));
    column->addWidget(sectionArea_, 1);
    column->addWidget(compactArea_, 1, Qt::AlignTop);
    column->addWidget(divider(this));
    column->addWidget(actionArea_);
    setMinimumWidth(260);

    header_->installEventFilter(this);
    actionArea_->installEventFilter(this);

    stateObservation_ = state.observe(kShownFields, [this](AppStateField field) {
        if (field == AppStateField::recordingState) {
            translation_->recordingStateChanged(context_.recording());
            syncSectionActivity();
        }
        refresh();
    });
    // Settings can change on any thread; the view follows on its own.
    settingsObservation_ = context_.settings->observe([this](const std::string& key) {
        QMetaObject::invokeMethod(this, [this, key] { settingChanged(key); });
    });
    voiceProcessing_ = context_.voiceProcessing();
    restoreOpenSectionState();
    refresh();
}

RecordingFloatingView::~RecordingFloatingView() {
    stateObservation_.reset();
    settingsObservation_.reset();
}

AccordionSection* RecordingFloatingView::section(std::string_view id) const {
    for (AccordionSection* section : sections_) {
        if (section->id() == id) {
            return section;
        }
    }
    return nullptr;
}

void RecordingFloatingView::restoreOpenSectionState() {
    const std::optional<std::string> raw = context_.settings->string(kOpenSectionsKey);
    openSectionIds_ = recording_view::parseOpenSections(raw.value_or(std::string(recording_view::kVolume)));
}

void RecordingFloatingView::toggleSection(const std::string& id) {
    if (!openSectionIds_.erase(id)) {
        openSectionIds_.insert(id);
    }
    context_.settings->set(kOpenSectionsKey, recording_view::joinOpenSections(openSectionIds_));
    syncSectionActivity();
    refresh();
}

void RecordingFloatingView::syncSectionActivity() {
    AppState& state = *context_.state;
    const auto flags = recording_view::sectionActivity(
        state.recordingState(), context_.compact() ? PanelLayout::compact : PanelLayout::regular,
        openSectionIds_);
    state.setAudioMeterEnabled(flags.meter);
    state.setActivitySectionVisible(flags.activity);
    state.setTranscriptSectionVisible(flags.transcript);
    state.setSummarySectionVisible(flags.summary);
}

void RecordingFloatingView::refresh() {
    const AppState& state = *context_.state;
    const bool panelVisible = state.isRecordingFloatingWindowVisible();
    const bool compact = context_.compact();
    header_->refresh();
    sectionArea_->setVisible(!compact);
    compactArea_->setVisible(compact);
    for (AccordionSection* section : sections_) {
        section->setOpen(openSectionIds_.contains(section->id()), panelVisible);
    }
    // What is not on screen is not redrawn.
    if (!compact && panelVisible) {
        if (audio_->isVisibleTo(this)) {
            audio_->refresh();
        }
        if (activity_->isVisibleTo(this)) {
            activity_->refresh();
        }
        if (transcript_->isVisibleTo(this)) {
            transcript_->refresh();
        }
        if (summary_->isVisibleTo(this)) {
            summary_->refresh();
        }
    }
    const bool compactItems = compact && context_.recording() && panelVisible;
    waveform_->setVisible(compactItems);
    const std::string line = recording_view::latestLiveTranscriptLine(context_.sourceText());
    latestLine_->setVisible(compactItems && !line.empty());
    if (compactItems) {
        waveform_->setLevels(state.micInputLevel(), state.sysInputLevel());
        latestLine_->setLine(line);
    }
    actionRow_->refresh();
}

void RecordingFloatingView::settingChanged(const std::string& key) {
    if (key == kCompactKey) {
        layoutChanged();
    } else if (key == kDisplayTranslationKey) {
        syncSectionActivity();
        translation_->setDisplayInOutputLanguage(context_.displayInOutputLanguage());
    } else if (key == kOpenSectionsKey) {
        return; // written by this view; read back at the next appearance
    } else if (key == kVoiceProcessingKey) {
        // A changed filter takes effect only in a new microphone capture, whoever changed it;
        // showing the panel or writing the same value restarts nothing.
        if (const bool on = context_.voiceProcessing(); on != voiceProcessing_) {
            voiceProcessing_ = on;
            context_.actions.restartMicCapture();
        }
    }
    refresh();
}

void RecordingFloatingView::layoutChanged() {
    if (context_.compact()) {
        requestResize(recording_view::compactMeasuredContentSize(compactHeaderHeight_, compactActionHeight_,
                                                                 PanelLayout::compact, context_.recording(),
                                                                 context_.sourceText()));
    } else {
        requestResize(regularContentSize_.isZero() ? std::nullopt : std::optional(regularContentSize_));
    }
    syncSectionActivity();
}

void RecordingFloatingView::requestResize(std::optional<PanelSize> size) {
    if (onResizeRequested) {
        onResizeRequested(size);
    }
}

void RecordingFloatingView::measuredHeightChanged(double& stored, double height, double other) {
    const double old = stored;
    stored = height;
    // One request when both heights first become known in the compact layout.
    if (context_.compact() && old == 0 && height > 0 && other > 0) {
        requestResize(PanelSize{260, height + other + 22});
    }
}

bool RecordingFloatingView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == header_) {
            measuredHeightChanged(compactHeaderHeight_, header_->height(), compactActionHeight_);
        } else if (watched == actionArea_) {
            measuredHeightChanged(compactActionHeight_, actionArea_->height(), compactHeaderHeight_);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RecordingFloatingView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!context_.compact()) {
        regularContentSize_ = PanelSize{static_cast<double>(width()), static_cast<double>(height())};
    }
}

void RecordingFloatingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    restoreOpenSectionState();
    syncSectionActivity();
    QTimer::singleShot(0, this, [this] { syncSectionActivity(); });
    if (context_.displayInOutputLanguage()) {
        translation_->setDisplayInOutputLanguage(true);
    }
    refresh();
}

void RecordingFloatingView::hideEvent(QHideEvent* event) {
    translation_->viewDisappeared();
    AppState& state = *context_.state;
    state.setAudioMeterEnabled(false);
    state.setActivitySectionVisible(false);
    state.setTranscriptSectionVisible(false);
    state.setSummarySectionVisible(false);
    QWidget::hideEvent(event);
}

} // namespace velnote
