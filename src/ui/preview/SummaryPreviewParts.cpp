#include "ui/preview/SummaryPreviewParts.h"

#include "ui/preview/core/SummaryPreviewTexts.h"
#include "ui/theme/AppTheme.h"

#include <QHBoxLayout>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

namespace velnote {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString cssColor(const QColor& color) {
    return color.name(QColor::HexArgb);
}

// Texts read from the session's files are shown as typed: a label or tip left to guess would
// render one that looks like markup ("<img src=...>") as rich text.
QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString plainToolTip(const QString& text) {
    return Qt::convertFromPlainText(text);
}

} // namespace

QLabel* makeChip(const QString& text, QWidget* parent) {
    auto* chip = plainLabel(text, parent);
    chip->setObjectName(QStringLiteral("chip"));
    chip->setStyleSheet(QStringLiteral("QLabel#chip { font-size: 10px; padding: 2px 6px; border-radius: 8px;"
                                       " background: rgba(128, 128, 128, 26); color: palette(mid); }"));
    return chip;
}

QFrame* makeDivider(Qt::Orientation orientation, QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(
        QStringLiteral("color: %1;").arg(cssColor(AppTheme::separator().resolve(line->palette()))));
    return line;
}

RunConfigBar::RunConfigBar(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 5, 14, 5);
    row->setSpacing(12);
    setStyleSheet(QStringLiteral("RunConfigBar { background: rgba(128, 128, 128, 15); }"));
}

void RunConfigBar::clear() {
    QLayoutItem* item = nullptr;
    while ((item = layout()->takeAt(0)) != nullptr) {
        delete item->widget();
        delete item;
    }
}

void RunConfigBar::show(const SummaryRunConfig& config) {
    clear();
    auto* row = static_cast<QHBoxLayout*>(layout());
    const SummaryPreviewTexts::RunConfigBar bar = SummaryPreviewTexts::runConfigBar(config);
    auto* icon = new QLabel(QStringLiteral("ⓘ"), this);
    icon->setObjectName(QStringLiteral("icon"));
    row->addWidget(icon);
    auto* provider = plainLabel(qs(bar.provider), this);
    provider->setObjectName(QStringLiteral("provider"));
    QFont font = provider->font();
    font.setPointSizeF(11 * 0.75);
    font.setWeight(QFont::Medium);
    provider->setFont(font);
    row->addWidget(provider);
    for (const std::string& chip : bar.chips)
        row->addWidget(makeChip(qs(chip), this));
    if (bar.noteTip) {
        auto* note = new QLabel(QStringLiteral("💬"), this);
        note->setObjectName(QStringLiteral("note"));
        note->setToolTip(plainToolTip(qs(*bar.noteTip)));
        row->addWidget(note);
    }
    row->addStretch(1);
}

QStringList RunConfigBar::texts() const {
    QStringList out;
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->objectName() == QLatin1String("provider") || label->objectName() == QLatin1String("chip"))
            out << label->text();
    }
    return out;
}

QString RunConfigBar::noteTip() const {
    for (QLabel* label : findChildren<QLabel*>())
        if (label->objectName() == QLatin1String("note"))
            return QTextDocumentFragment::fromHtml(label->toolTip()).toPlainText();
    return {};
}

SummaryMetadataSidebar::SummaryMetadataSidebar(const SessionStatusSnapshot& snapshot, QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(14);

    std::vector<std::pair<QString, QString>> session{
        {QStringLiteral("SESSION SUMMARY"), qs(snapshot.dirName)},
        {QStringLiteral("作成日時"), qs(SummaryPreviewTexts::formattedDate(snapshot.createdAt))}};
    if (snapshot.recordingDuration)
        session.emplace_back(QStringLiteral("録音時間"),
                             qs(SummaryPreviewTexts::durationText(*snapshot.recordingDuration)));
    column->addWidget(card({}, session, 1));

    std::vector<std::pair<QString, QString>> pipeline{
        {QStringLiteral("プロバイダ"), qs(snapshot.config.summary.provider)}};
    if (const std::string model = SummaryPreviewTexts::sidebarModel(snapshot.config); !model.empty())
        pipeline.emplace_back(QStringLiteral("モデル"), qs(model));
    pipeline.emplace_back(QStringLiteral("出力言語"),
                          qs(SummaryPreviewTexts::outputLanguage(snapshot.config)));
    column->addWidget(card(QStringLiteral("AI PIPELINE"), pipeline, 2));
    column->addStretch(1);
}

QWidget* SummaryMetadataSidebar::card(const QString& heading,
                                      const std::vector<std::pair<QString, QString>>& rows, int maxLines) {
    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("card"));
    card->setStyleSheet(
        QStringLiteral("QFrame#card { background: %1; border: 1px solid %2; border-radius: 8px; }")
            .arg(cssColor(AppTheme::cardBackground().resolve(palette())),
                 cssColor(AppTheme::cardBorder().resolve(palette()))));
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(10);
    if (!heading.isEmpty()) {
        auto* title = new QLabel(heading, card);
        title->setStyleSheet(QStringLiteral("font-size: 9px; font-weight: bold; color: palette(mid);"));
        column->addWidget(title);
        rows_ << heading;
    }
    for (const auto& [first, second] : rows) {
        auto* label = new QLabel(first, card);
        label->setStyleSheet(QStringLiteral("font-size: 10px; color: palette(mid);"));
        auto* value = plainLabel(second, card);
        value->setWordWrap(maxLines > 1);
        // A long folder or model name is cut at the column's edge (the tooltip holds it whole)
        // instead of widening the 230-point column into a sideways scroll.
        value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setToolTip(plainToolTip(second));
        if (maxLines > 1)
            value->setMaximumHeight(value->fontMetrics().lineSpacing() * maxLines + 2);
        column->addWidget(label);
        column->addWidget(value);
        rows_ << first + QStringLiteral(": ") + second;
    }
    return card;
}

} // namespace velnote
