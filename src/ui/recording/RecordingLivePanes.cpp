#include "ui/recording/RecordingLivePanes.h"

#include "session/l10n/L10n.h"
#include "ui/preview/markdown/MarkdownPreviewWebView.h"
#include "ui/theme/AppTheme.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace velnote {
namespace {

const QColor kOrange(255, 149, 0);
const QColor kBlue(0, 122, 255);
const QColor kGreen(52, 199, 89);

QFont smallFont(const QWidget& widget, double points, QFont::Weight weight = QFont::Normal,
                bool mono = false) {
    QFont font = mono ? QFont(QStringLiteral("monospace")) : widget.font();
    font.setStyleHint(mono ? QFont::Monospace : QFont::AnyStyle);
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

QLabel* label(const QString& text, QWidget* parent, double points, QFont::Weight weight = QFont::Normal) {
    auto* created = new QLabel(text, parent);
    created->setFont(smallFont(*created, points, weight));
    setTextColor(*created, secondaryColor(created->palette()));
    return created;
}

// The rounded area behind a pane's text, in the control colours. With a selector the style stays on
// that widget and does not reach into its children.
void styleArea(QWidget& area, const QString& selector = {}) {
    const QPalette palette = area.palette();
    const QString rules = QStringLiteral("background-color: %1; border: 0.8px solid %2; border-radius: 6px;")
                              .arg(AppTheme::controlBackground().resolve(palette).name(QColor::HexArgb),
                                   AppTheme::controlBorder().resolve(palette).name(QColor::HexArgb));
    area.setStyleSheet(selector.isEmpty() ? rules : QStringLiteral("%1 { %2 }").arg(selector, rules));
}

// The display name of a language code, or the code itself when the system knows none.
QString languageDisplayName(const std::string& code) {
    const QLocale locale(toQString(code));
    if (code.empty() || locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage) {
        return toQString(code);
    }
    return QLocale::languageToString(locale.language());
}

QString onOffText(bool on) {
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

} // namespace

void NarrowAwareRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (onWidthChanged) {
        onWidthChanged();
    }
}

CopyButton::CopyButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setObjectName(QStringLiteral("doc.on.doc"));
    showCopied(false);
}

void CopyButton::showCopied(bool copied) {
    copied_ = copied;
    setText(copied ? localizedText("L10n.Recording.copied", "Copied") : symbolGlyph("doc.on.doc"));
}

void CopyButton::confirmCopy() {
    showCopied(true);
    QTimer::singleShot(1500, this, [this] { showCopied(false); });
}

// --- Transcript ---

TranscriptSection::TranscriptSection(RecordingViewContext& context, QWidget* parent)
    : QWidget(parent), context_(context), row_(new NarrowAwareRow(this)),
      globe_(new SymbolLabel("globe", row_)),
      switchLabel_(
          label(localizedText("L10n.Recording.displayInOutputLanguage", "Display in Output Language"), row_,
                11, QFont::Medium)),
      switch_(new QCheckBox(row_)), onOff_(label({}, row_, 11, QFont::Medium)),
      language_(label({}, row_, 11)), status_(label({}, this, 10)), copy_(new CopyButton(this)),
      text_(new QPlainTextEdit(this)) {
    row_->setFixedHeight(24);
    onOff_->setFixedWidth(28);
    onOff_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    language_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* row = new QHBoxLayout(row_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    for (QWidget* item : std::initializer_list<QWidget*>{globe_, switchLabel_, switch_, onOff_}) {
        row->addWidget(item);
    }
    row->addStretch(1);
    row->addWidget(language_);
    row_->onWidthChanged = [this] { refreshControlRow(); };

    auto* title = new QHBoxLayout;
    title->setSpacing(4);
    title->addWidget(new SymbolLabel("text.bubble", this));
    title->addWidget(
        label(localizedText("L10n.Recording.liveTranscript", "Live Transcript"), this, 11, QFont::Medium));
    title->addStretch(1);
    title->addWidget(status_);
    title->addWidget(copy_);

    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setFont(smallFont(*text_, 11));
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    styleArea(*text_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 1, 0, 1);
    column->setSpacing(4);
    column->addWidget(row_);
    column->addLayout(title);
    column->addWidget(text_, 1);

    connect(switch_, &QCheckBox::clicked, this,
            [this](bool on) { context_.settings->set("liveTranscriptDisplayInOutputLanguage", on); });
    connect(copy_, &QToolButton::clicked, this, [this] {
        // The whole source, not only the shown window.
        QApplication::clipboard()->setText(toQString(context_.sourceText()));
        copy_->confirmCopy();
    });
}

void TranscriptSection::refreshControlRow() {
    const std::optional<SessionConfig>& config = context_.state->activeSessionConfig();
    const std::string output = config ? config->outputLanguage : L10n::defaultLanguageCode();
    const std::string input = config && config->transcription.language ? *config->transcription.language
                                                                       : L10n::defaultLanguageCode();
    const bool on = context_.displayInOutputLanguage();
    const bool narrow = row_->narrow();
    setTextColor(*globe_, on ? kBlue : secondaryColor(palette()));
    switchLabel_->setVisible(!narrow);
    switch_->setChecked(on);
    switch_->setEnabled(output != input); // disabling leaves the stored value as it is
    onOff_->setText(onOffText(on));
    setTextColor(*onOff_, on ? kBlue : secondaryColor(palette()));
    language_->setText(languageDisplayName(output));
    language_->setFixedWidth(narrow ? 42 : 56);
}

void TranscriptSection::refreshPane() {
    using recording_view::TranscriptTitleAccessory;
    const bool translated = context_.displayInOutputLanguage();
    const std::string source = context_.sourceText();
    const std::optional<std::string>& error = context_.state->liveTranscriptError();
    const std::optional<std::string>& translationError =
        context_.translation->liveTranscriptTranslationError();
    const auto accessory = recording_view::transcriptTitleAccessory(
        {.hasTranscriptionError = error.has_value(),
         .sourceTextEmpty = source.empty(),
         .displayTranslation = translated,
         .translationPending = context_.translation->liveTranscriptTranslationPending(),
         .transcriptionPending = context_.state->liveTranscriptPending()});
    copy_->setVisible(accessory == TranscriptTitleAccessory::copyButton);
    copy_->setToolTip(translated ? localizedText("L10n.Recording.copyDisplayedText", "Copy displayed text")
                                 : localizedText("L10n.Recording.copyFullText", "Copy full text"));
    status_->setVisible(accessory != TranscriptTitleAccessory::copyButton &&
                        accessory != TranscriptTitleAccessory::nothing);
    status_->setText(accessory == TranscriptTitleAccessory::translating
                         ? localizedText("L10n.Recording.translating", "Translating...")
                     : accessory == TranscriptTitleAccessory::preparing
                         ? localizedText("L10n.Recording.preparing", "Preparing...")
                         : localizedText("L10n.Recording.waiting", "Waiting..."));

    QString shown;
    bool isError = true;
    if (error) {
        shown = toQString(*error);
    } else if (translated && translationError) {
        shown = toQString(L10n::localized("L10n.Recording.liveTranscriptTranslationError",
                                          "Translation error: %@", {*translationError}));
    } else {
        shown = toQString(context_.translation->displayedLiveTranscriptWindow());
        isError = false;
    }
    setTextColor(*text_, isError ? kOrange : palette().color(QPalette::WindowText));
    // An unchanged text is not set again, so it is not laid out again either.
    if (text_->toPlainText() != shown) {
        text_->setPlainText(shown);
    }
    // A new source text brings its end into view; the first display does not scroll.
    if (lastSource_ && *lastSource_ != source) {
        text_->verticalScrollBar()->setValue(text_->verticalScrollBar()->maximum());
    }
    lastSource_ = source;
}

void TranscriptSection::refresh() {
    refreshControlRow();
    refreshPane();
}

// --- Summary ---

SummarySection::SummarySection(RecordingViewContext& context, QWidget* parent)
    : QWidget(parent), context_(context), row_(new NarrowAwareRow(this)),
      sparkles_(new SymbolLabel("sparkles", row_)),
      rowLabel_(label(localizedText("L10n.Recording.liveSummary", "Live Summary"), row_, 11, QFont::Medium)),
      switch_(new QCheckBox(row_)), onOff_(label({}, row_, 11, QFont::Medium)),
      intervalLabel_(label(localizedText("L10n.Recording.liveSummaryInterval", "Interval"), row_, 11)),
      interval_(new QSlider(Qt::Horizontal, row_)), intervalText_(label({}, row_, 11)),
      pending_(label(localizedText("L10n.Recording.updating", "Updating..."), this, 10)),
      copy_(new CopyButton(this)), summaryArea_(new QWidget(this)),
      placeholder_(label(localizedText("L10n.Recording.noSummaryYet", "No summary yet"), this, 11)),
      error_(label({}, this, 10)) {
    row_->setFixedHeight(24);
    onOff_->setFixedWidth(28);
    onOff_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    intervalText_->setFixedWidth(42);
    intervalText_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    interval_->setRange(1, 30);
    interval_->setSingleStep(1);
    auto* row = new QHBoxLayout(row_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    for (QWidget* item : std::initializer_list<QWidget*>{sparkles_, rowLabel_, switch_, onOff_}) {
        row->addWidget(item);
    }
    row->addStretch(1);
    for (QWidget* item : std::initializer_list<QWidget*>{intervalLabel_, interval_, intervalText_}) {
        row->addWidget(item);
    }
    row_->onWidthChanged = [this] { refresh(); };

    auto* title = new QHBoxLayout;
    title->setSpacing(3);
    title->addWidget(new SymbolLabel("sparkles.rectangle.stack", this));
    title->addWidget(
        label(localizedText("L10n.Recording.liveSummary", "Live Summary"), this, 11, QFont::Medium));
    title->addStretch(1);
    title->addWidget(pending_);
    title->addWidget(copy_);
    copy_->setToolTip(localizedText("L10n.Recording.copySummary", "Copy summary"));

    summaryArea_->setObjectName(QStringLiteral("liveSummaryArea"));
    summaryArea_->setAttribute(Qt::WA_StyledBackground);
    styleArea(*summaryArea_, QStringLiteral("QWidget#liveSummaryArea"));
    auto* areaLayout = new QVBoxLayout(summaryArea_);
    areaLayout->setContentsMargins(1, 1, 1, 1);
    summaryArea_->setVisible(false);
    placeholder_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    placeholder_->setContentsMargins(4, 4, 4, 4);
    setTextColor(*placeholder_, tertiaryColor(palette()));
    styleArea(*placeholder_);
    error_->setWordWrap(true);
    error_->setMaximumHeight(error_->fontMetrics().lineSpacing() * 2 + 2);
    setTextColor(*error_, kOrange);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 1, 0, 1);
    column->setSpacing(3);
    column->addWidget(row_);
    column->addLayout(title);
    column->addWidget(summaryArea_, 1);
    column->addWidget(placeholder_, 1);
    column->addWidget(error_);

    connect(switch_, &QCheckBox::clicked, this,
            [this](bool on) { context_.state->setLiveSummaryEnabled(on); });
    connect(interval_, &QSlider::valueChanged, this, [this](int minutes) {
        if (!refreshing_) {
            context_.state->setLiveSummaryIntervalMinutes(recording_view::intervalMinutesFromSlider(minutes));
        }
    });
    connect(copy_, &QToolButton::clicked, this, [this] {
        QApplication::clipboard()->setText(toQString(context_.state->liveSummary()));
        copy_->confirmCopy();
    });
}

void SummarySection::refresh() {
    const AppState& state = *context_.state;
    const bool on = state.liveSummaryEnabled();
    const bool narrow = row_->narrow();
    setTextColor(*sparkles_, on ? kGreen : secondaryColor(palette()));
    rowLabel_->setVisible(!narrow);
    intervalLabel_->setVisible(!narrow);
    switch_->setChecked(on);
    onOff_->setText(onOffText(on));
    setTextColor(*onOff_, on ? kGreen : secondaryColor(palette()));
    interval_->setFixedWidth(narrow ? 80 : 90);
    refreshing_ = true; // an interval beyond 30 set elsewhere puts the slider at its end, unwritten
    interval_->setValue(
        static_cast<int>(std::clamp<std::int64_t>(state.liveSummaryIntervalMinutes(), 1, 30)));
    refreshing_ = false;
    interval_->setEnabled(on);
    intervalText_->setText(toQString(
        L10n::localized("L10n.Recording.liveSummaryMinutes", "%dm", {state.liveSummaryIntervalMinutes()})));

    const std::string& markdown = state.liveSummary();
    pending_->setVisible(state.liveSummaryPending());
    copy_->setVisible(!markdown.empty());
    summaryArea_->setVisible(!markdown.empty());
    placeholder_->setVisible(markdown.empty());
    if (!markdown.empty()) {
        // The web page starts with the first summary somebody looks at; later ones update it in place.
        if (summary_ == nullptr) {
            summary_ =
                new MarkdownPreviewWebView(markdown, MarkdownPreviewWebView::Feature::none, summaryArea_);
            summaryArea_->layout()->addWidget(summary_);
            summary_->show(); // a child made after its parent was shown stays hidden until asked
        }
        summary_->setMarkdown(markdown);
    }
    const std::optional<std::string>& error = state.liveSummaryError();
    error_->setVisible(error && !error->empty());
    if (error) {
        error_->setText(
            toQString(L10n::localized("L10n.Recording.liveSummaryError", "Summary error: %@", {*error})));
    }
}

// --- Compact latest line ---

CompactLatestLine::CompactLatestLine(QWidget* parent) : QLabel(parent) {
    setContentsMargins(8, 4, 8, 4);
    QFont font = this->font();
    font.setPointSizeF(11);
    setFont(font);
    setTextColor(*this, secondaryColor(palette()));
    setStyleSheet(QStringLiteral("border-radius: 6px; background-color: %1;")
                      .arg(AppTheme::sectionHeaderBackground().resolve(palette()).name(QColor::HexArgb)));
    setVisible(false);
}

void CompactLatestLine::setLine(const std::string& line) {
    line_ = toQString(line);
    elide();
}

void CompactLatestLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void CompactLatestLine::elide() {
    const int room = std::max(0, width() - 16);
    setText(fontMetrics().elidedText(line_, Qt::ElideRight, room > 0 ? room : 1000));
}

} // namespace velnote
