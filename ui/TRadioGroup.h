// A captioned group of radio buttons in one column, addressed by item index
// like the radio groups of a classic form designer.
#pragma once

#include <QGroupBox>

#include <functional>

class QButtonGroup;
class QRadioButton;

namespace qorn::ui {

class TRadioGroup : public QGroupBox {
  public:
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent);

    // Index of the selected item, -1 when none is.
    int ItemIndex() const;
    void SetItemIndex(int index);
    int Count() const;
    QRadioButton* Item(int index) const;

    // Called when the user clicks an item (not when SetItemIndex selects).
    std::function<void()> OnClick;

  private:
    QButtonGroup* buttons_;
};

} // namespace qorn::ui
