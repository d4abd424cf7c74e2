#include "ui/TRadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qorn::ui {

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 2, 2, 2);
    column->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* item = new QRadioButton(items[i], this);
        buttons_->addButton(item, i);
        column->addWidget(item);
    }
    QObject::connect(buttons_, &QButtonGroup::idClicked, this, [this](int) {
        if (OnClick) OnClick();
    });
}

int TRadioGroup::ItemIndex() const {
    return buttons_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* item = buttons_->button(index)) item->setChecked(true);
}

int TRadioGroup::Count() const {
    return static_cast<int>(buttons_->buttons().size());
}

QRadioButton* TRadioGroup::Item(int index) const {
    return qobject_cast<QRadioButton*>(buttons_->button(index));
}

} // namespace qorn::ui
