#include "ui/PortComboBox.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>

namespace qorn::ui {

namespace {
// Room the line edit keeps free beside its text.
constexpr int EditMargin = 6;
} // namespace

PortComboBox::PortComboBox(const QString& hint, QWidget* parent) : QComboBox(parent), hint_(hint) {
    setEditable(true);
    // Typing selects nothing and adds nothing: the list is the port table.
    setInsertPolicy(QComboBox::NoInsert);
    setToolTip(hint_);
    connect(this, &QComboBox::currentIndexChanged, this, [this] { ShowChosen(); });
}

int PortComboBox::PortIndex() const {
    const int current = currentIndex();
    const QString text = currentText();
    if (current >= 0 && (itemText(current) == text || (!shown_.isEmpty() && text == shown_))) return current;
    return findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void PortComboBox::ShowChosen() {
    const int current = currentIndex();
    if (current < 0) {
        shown_.clear();
        setToolTip(hint_);
        return;
    }
    const QString full = itemText(current);
    setToolTip(full + QLatin1Char('\n') + hint_);
    QLineEdit* edit = lineEdit();
    if (edit == nullptr || edit->hasFocus()) return;
    const int room = edit->width() - EditMargin;
    shown_ = QFontMetrics(edit->font()).elidedText(full, Qt::ElideMiddle, std::max(room, 0));
    edit->setText(shown_);
    edit->setCursorPosition(0);
}

void PortComboBox::focusInEvent(QFocusEvent* event) {
    // The whole name while the user may edit or select it.
    const int current = currentIndex();
    if (current >= 0 && lineEdit() != nullptr && lineEdit()->text() == shown_) lineEdit()->setText(itemText(current));
    QComboBox::focusInEvent(event);
}

void PortComboBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    const int current = currentIndex();
    if (current >= 0 && lineEdit() != nullptr && lineEdit()->text() == itemText(current)) ShowChosen();
}

void PortComboBox::resizeEvent(QResizeEvent* event) {
    QComboBox::resizeEvent(event);
    const int current = currentIndex();
    if (current >= 0 && lineEdit() != nullptr && lineEdit()->text() == shown_) ShowChosen();
}

int PortComboBox::ListWidthNeeded() const {
    const QFontMetrics metrics(view()->font());
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    const int frame = 2 * view()->frameWidth();
    const int scroll =
        count() > maxVisibleItems() ? style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) : 0;
    // The item's own padding on both sides, as the style draws it.
    const int padding = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 8;
    return widest + frame + scroll + padding;
}

void PortComboBox::showPopup() {
    view()->setMinimumWidth(std::max(width(), ListWidthNeeded()));
    QComboBox::showPopup();
}

} // namespace qorn::ui
