#include "ui/settings/FormBindings.h"

#include "ui/theme/AppTheme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace velnote {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString rgba(const QColor& color) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'f', 3);
}

int clampToInt(std::int64_t value) {
    return static_cast<int>(
        std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

} // namespace

void FormBindings::sync() const {
    for (const auto& step : steps_) {
        step();
    }
}

void FormBindings::visibleWhen(QWidget* widget, std::function<bool()> condition) {
    onSync([widget, condition = std::move(condition)] { widget->setVisible(condition()); });
}

QCheckBox* FormBindings::toggle(const std::string& title, Binding<bool> value) {
    auto* box = new QCheckBox(qs(title));
    QObject::connect(box, &QCheckBox::toggled, box, [value](bool checked) { value.set(checked); });
    onSync([box, value] {
        const QSignalBlocker blocker(box);
        box->setChecked(value.get());
    });
    return box;
}

QLineEdit* FormBindings::textField(const std::string& placeholder, Binding<std::string> value) {
    auto* field = new QLineEdit;
    field->setPlaceholderText(qs(placeholder));
    QObject::connect(field, &QLineEdit::textEdited, field,
                     [value](const QString& text) { value.set(text.toStdString()); });
    onSync([field, value] {
        const QString shown = qs(value.get());
        if (field->text() != shown) {
            const QSignalBlocker blocker(field);
            field->setText(shown);
        }
    });
    return field;
}

namespace {

// Fills `box` with `items` (title, stored value) unless it holds exactly these already, and
// selects the first item whose value is `selected` (none when no item has it).
template <class Value>
void showItems(QComboBox& box, const std::vector<std::pair<QString, Value>>& items, const Value& selected,
               const std::function<QVariant(const Value&)>& toData) {
    const QSignalBlocker blocker(&box);
    bool same = box.count() == static_cast<int>(items.size());
    for (int i = 0; same && i < box.count(); ++i) {
        same = box.itemText(i) == items[static_cast<std::size_t>(i)].first &&
               box.itemData(i) == toData(items[static_cast<std::size_t>(i)].second);
    }
    if (!same) {
        box.clear();
        for (const auto& [title, value] : items) {
            box.addItem(title, toData(value));
        }
    }
    int current = -1;
    for (std::size_t i = 0; i < items.size() && current < 0; ++i) {
        if (items[i].second == selected) {
            current = static_cast<int>(i);
        }
    }
    box.setCurrentIndex(current);
}

} // namespace

QComboBox* FormBindings::picker(std::function<Options()> options, Binding<std::string> value) {
    auto* box = new QComboBox;
    QObject::connect(box, &QComboBox::activated, box, [box, value](int index) {
        if (index >= 0) {
            value.set(box->itemData(index).toString().toStdString());
        }
    });
    onSync([box, options = std::move(options), value] {
        showItems<std::string>(*box, options(), value.get(),
                               [](const std::string& v) { return QVariant(QString::fromStdString(v)); });
    });
    return box;
}

QComboBox* FormBindings::intPicker(std::function<std::vector<std::pair<QString, std::int64_t>>()> options,
                                   Binding<std::int64_t> value) {
    auto* box = new QComboBox;
    QObject::connect(box, &QComboBox::activated, box, [box, value](int index) {
        if (index >= 0) {
            value.set(box->itemData(index).toLongLong());
        }
    });
    onSync([box, options = std::move(options), value] {
        showItems<std::int64_t>(*box, options(), value.get(),
                                [](const std::int64_t& v) { return QVariant::fromValue<qlonglong>(v); });
    });
    return box;
}

QWidget* FormBindings::stepper(std::function<std::string(std::int64_t)> title, Binding<std::int64_t> value,
                               std::int64_t minimum, std::int64_t maximum) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel;
    auto* spin = new QSpinBox;
    spin->setRange(clampToInt(minimum), clampToInt(maximum));
    layout->addWidget(label, 1);
    layout->addWidget(spin);
    QObject::connect(spin, &QSpinBox::valueChanged, spin, [value](int chosen) { value.set(chosen); });
    onSync([label, spin, title = std::move(title), value] {
        label->setText(qs(title(value.get())));
        const QSignalBlocker blocker(spin);
        spin->setValue(clampToInt(value.get())); // shown within the range; stored as it is
    });
    return row;
}

QWidget* FormBindings::slider(std::function<std::string(double)> title, Binding<double> value, double minimum,
                              double maximum, double step) {
    auto* row = new QWidget;
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* caption = new QLabel;
    auto* bar = new QSlider(Qt::Horizontal);
    const int positions = static_cast<int>(std::lround((maximum - minimum) / step));
    bar->setRange(0, positions);
    layout->addWidget(caption);
    layout->addWidget(bar);
    QObject::connect(bar, &QSlider::valueChanged, bar,
                     [value, minimum, step](int position) { value.set(minimum + position * step); });
    onSync([caption, bar, title = std::move(title), value, minimum, step, positions] {
        caption->setText(qs(title(value.get())));
        const double position = std::isfinite(value.get()) ? (value.get() - minimum) / step : 0.0;
        const QSignalBlocker blocker(bar);
        bar->setValue(
            static_cast<int>(std::lround(std::clamp(position, 0.0, static_cast<double>(positions)))));
    });
    return row;
}

QPlainTextEdit* FormBindings::promptEditor(Binding<std::string> value, int minimumHeight,
                                           bool withBackground) {
    auto* editor = new QPlainTextEdit;
    editor->setMinimumHeight(minimumHeight);
    applyPromptEditorStyle(*editor, withBackground);
    QObject::connect(editor, &QPlainTextEdit::textChanged, editor,
                     [editor, value] { value.set(editor->toPlainText().toStdString()); });
    onSync([editor, value] {
        const QString shown = qs(value.get());
        if (editor->toPlainText() != shown) {
            const QSignalBlocker blocker(editor);
            editor->setPlainText(shown);
        }
    });
    return editor;
}

QLabel* FormBindings::dynamicLabel(std::function<std::string()> text) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    onSync([label, text = std::move(text)] { label->setText(qs(text())); });
    return label;
}

void applyPromptEditorStyle(QPlainTextEdit& editor, bool withBackground) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(editor.font().pointSizeF() > 0 ? editor.font().pointSizeF() : font.pointSizeF());
    editor.setFont(font);
    const QPalette palette = editor.palette();
    const QString background = withBackground ? rgba(AppTheme::solidControlBackground().resolve(palette))
                                              : QStringLiteral("transparent");
    editor.setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: %1; border: 1px solid %2; border-radius: 6px; }")
            .arg(background, rgba(AppTheme::controlBorder().resolve(palette))));
}

} // namespace velnote
