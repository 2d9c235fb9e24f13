#include "ui/recording/RecordingHeaderViews.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace velnote {
namespace {

QFont sized(const QWidget& widget, double points, QFont::Weight weight = QFont::Normal, bool mono = false) {
    QFont font = mono ? QFont(QStringLiteral("monospace")) : widget.font();
    font.setStyleHint(mono ? QFont::Monospace : QFont::AnyStyle);
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    return line;
}

const QColor kOrange(255, 149, 0);

constexpr double kGainStep = 0.05;
constexpr double kMinGain = 0.5;

int sliderPosition(double gain) {
    return static_cast<int>(std::lround((gain - kMinGain) / kGainStep));
}

} // namespace

// --- Header ---

RecordingHeader::RecordingHeader(RecordingViewContext& context, QWidget* parent)
    : QWidget(parent), context_(context), dot_(new RecordingDot(this)), elapsed_(new QLabel(this)),
      layoutButton_(new QToolButton(this)), status_(new QLabel(this)), timer_(new QTimer(this)),
      now_(context.clock->wallNow()) {
    auto* title = new QLabel(localizedText("L10n.Recording.recording", "Recording"), this);
    title->setFont(sized(*this, 13, QFont::Bold));
    elapsed_->setFont(sized(*this, 12, QFont::DemiBold, true));
    elapsed_->setObjectName(QStringLiteral("elapsedTime"));
    layoutButton_->setAutoRaise(true);
    layoutButton_->setFont(sized(*this, 14, QFont::DemiBold));
    status_->setWordWrap(true);
    status_->setFont(sized(*this, 11));
    setTextColor(*status_, secondaryColor(palette()));

    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(dot_);
    row->addWidget(title);
    row->addStretch(1);
    row->addWidget(elapsed_);
    row->addWidget(layoutButton_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 0);
    column->addLayout(row);
    column->addWidget(status_);

    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, [this] {
        now_ = context_.clock->wallNow();
        elapsed_->setText(elapsedText());
    });
    connect(layoutButton_, &QToolButton::clicked, this,
            [this] { context_.settings->set("recordingFloatingCompactModeEnabled", !context_.compact()); });
}

QString RecordingHeader::elapsedText() const {
    return toQString(recording_view::elapsedText(context_.state->recordingStartedAt(), now_));
}

bool RecordingHeader::elapsedTimerRunning() const {
    return timer_->isActive();
}

void RecordingHeader::followRecordingState() {
    // The time advances only while recording and on screen; otherwise it stays at its last value.
    if (context_.recording() && isVisible()) {
        if (!timer_->isActive()) {
            now_ = context_.clock->wallNow();
            timer_->start();
        }
    } else {
        timer_->stop();
    }
}

void RecordingHeader::refresh() {
    const bool compact = context_.compact();
    followRecordingState();
    elapsed_->setText(elapsedText());
    dot_->setVisible(context_.state->isRecordingFloatingWindowVisible() && context_.recording());
    layoutButton_->setText(
        symbolGlyph(compact ? "rectangle.expand.vertical" : "rectangle.compress.vertical"));
    layoutButton_->setObjectName(compact ? QStringLiteral("rectangle.expand.vertical")
                                         : QStringLiteral("rectangle.compress.vertical"));
    layoutButton_->setToolTip(
        compact ? localizedText("L10n.Recording.switchToDetail", "Switch to detail view")
                : localizedText("L10n.Recording.switchToCompact", "Switch to compact view"));
    status_->setText(toQString(context_.state->statusMessage()));
    status_->setMaximumHeight(status_->fontMetrics().lineSpacing() * 2 + 2); // at most two lines
    status_->setVisible(!compact);
    static_cast<QVBoxLayout*>(layout())->setSpacing(compact ? 2 : 4);
}

void RecordingHeader::hideEvent(QHideEvent* event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

// --- Gain row ---

GainSliderRow::GainSliderRow(QString title, double maxGain, Binding binding, QWidget* parent)
    : QWidget(parent), binding_(std::move(binding)), mute_(new QToolButton(this)),
      title_(new QLabel(title, this)), slider_(new QSlider(Qt::Horizontal, this)), value_(new QLabel(this)) {
    mute_->setAutoRaise(true);
    mute_->setFixedWidth(18);
    title_->setFixedWidth(36);
    title_->setFont(sized(*this, 11));
    value_->setFixedWidth(44);
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value_->setFont(sized(*this, 11, QFont::Normal, true));
    slider_->setRange(0, sliderPosition(maxGain));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(mute_);
    row->addWidget(title_);
    row->addWidget(slider_, 1);
    row->addWidget(value_);
    connect(mute_, &QToolButton::clicked, this, [this] { binding_.toggleMute(); });
    connect(slider_, &QSlider::valueChanged, this, [this](int position) {
        if (!refreshing_) {
            binding_.setGain(kMinGain + position * kGainStep);
        }
    });
}

void GainSliderRow::refresh() {
    const bool muted = binding_.muted();
    const double gain = binding_.gain();
    refreshing_ = true; // a gain changed elsewhere moves the slider without writing it back
    slider_->setValue(sliderPosition(gain));
    refreshing_ = false;
    slider_->setEnabled(!muted);
    mute_->setText(symbolGlyph(muted ? "speaker.slash.fill" : "speaker.wave.2.fill"));
    mute_->setObjectName(muted ? QStringLiteral("speaker.slash.fill")
                               : QStringLiteral("speaker.wave.2.fill"));
    mute_->setToolTip(muted ? localizedText("L10n.Recording.muted", "Muted (click to unmute)")
                            : localizedText("L10n.Recording.clickToMute", "Click to mute"));
    setTextColor(*mute_, muted ? kOrange : secondaryColor(palette()));
    setTextColor(*title_, muted ? tertiaryColor(palette()) : secondaryColor(palette()));
    value_->setText(muted ? QStringLiteral("MUTE") : toQString(recording_view::gainText(gain)));
    setTextColor(*value_, muted ? kOrange : secondaryColor(palette()));
}

// --- Level row ---

InputLevelRow::InputLevelRow(QString title, bool isMic, AppState& state, QWidget* parent)
    : QWidget(parent), isMic_(isMic), state_(state), title_(new QLabel(title, this)),
      bar_(new LevelBar(this)), text_(new QLabel(this)) {
    title_->setFixedWidth(28);
    title_->setFont(sized(*this, 12, QFont::Medium, true));
    text_->setFixedWidth(44);
    text_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    text_->setFont(sized(*this, 11, QFont::Normal, true));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(title_);
    row->addWidget(bar_, 1);
    row->addWidget(text_);
}

void InputLevelRow::refresh() {
    const double level = isMic_ ? state_.micInputLevel() : state_.sysInputLevel();
    const bool muted = isMic_ ? state_.micMuted() : state_.sysMuted();
    bar_->setLevel(level, muted);
    text_->setText(muted ? QStringLiteral("MUTE") : toQString(recording_view::levelPercent(level)));
    setTextColor(*text_, muted ? kOrange : secondaryColor(palette()));
    setTextColor(*title_, muted ? tertiaryColor(palette()) : palette().color(QPalette::WindowText));
}

// --- Audio section ---

AudioControlsSection::AudioControlsSection(RecordingViewContext& context, QWidget* parent)
    : QWidget(parent), context_(context),
      voiceProcessing_(new QCheckBox(
          localizedText("L10n.Preferences.voiceProcessing", "Voice Processing (Echo/Noise Cancellation)"),
          this)),
      micLevel_(new InputLevelRow(QStringLiteral("Mic"), true, *context.state, this)),
      micGain_(
          new GainSliderRow(localizedText("L10n.Recording.micGain", "Mic Gain"), 20,
                            {.gain = [&context] { return context.state->micInputGain(); },
                             .setGain = [&context](double gain) { context.state->setMicInputGain(gain); },
                             .muted = [&context] { return context.state->micMuted(); },
                             .toggleMute = [&context] { context.state->toggleMicMuted(); }},
                            this)),
      sysLevel_(new InputLevelRow(QStringLiteral("Sys"), false, *context.state, this)),
      restart_(new QToolButton(this)),
      sysGain_(
          new GainSliderRow(localizedText("L10n.Recording.sysGain", "Sys Gain"), 3,
                            {.gain = [&context] { return context.state->sysInputGain(); },
                             .setGain = [&context](double gain) { context.state->setSysInputGain(gain); },
                             .muted = [&context] { return context.state->sysMuted(); },
                             .toggleMute = [&context] { context.state->toggleSysMuted(); }},
                            this)) {
    voiceProcessing_->setFont(sized(*this, 11, QFont::Medium));
    voiceProcessing_->setToolTip(localizedText("L10n.Preferences.voiceProcessingNote",
                                               "Applies hardware AEC and noise suppression to the "
                                               "microphone. Recommended when recording both mic and "
                                               "system audio without headphones."));
    restart_->setAutoRaise(true);
    restart_->setText(symbolGlyph("arrow.clockwise"));
    restart_->setToolTip(localizedText("L10n.Recording.restartSysAudio", "Restart system audio stream"));

    auto* sysRow = new QHBoxLayout;
    sysRow->setSpacing(6);
    sysRow->addWidget(sysLevel_, 1);
    sysRow->addWidget(restart_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 1, 0, 1);
    column->setSpacing(6);
    column->addWidget(voiceProcessing_);
    column->addWidget(divider(this));
    column->addWidget(micLevel_);
    column->addWidget(micGain_);
    column->addWidget(divider(this));
    column->addLayout(sysRow);
    column->addWidget(sysGain_);

    // The view restarts the microphone when the setting changes, from here or from elsewhere.
    connect(voiceProcessing_, &QCheckBox::clicked, this,
            [this](bool on) { context_.settings->set("enableVoiceProcessing", on); });
    connect(restart_, &QToolButton::clicked, this, [this] { context_.actions.restartSystemAudioCapture(); });
}

void AudioControlsSection::refresh() {
    voiceProcessing_->setChecked(context_.voiceProcessing());
    micLevel_->refresh();
    micGain_->refresh();
    sysLevel_->refresh();
    sysGain_->refresh();
}

} // namespace velnote
