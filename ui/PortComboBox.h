// The port choice: an editable drop-down whose names are long and differ at
// their ends (the sample rate, the effects marker). The closed box shows the
// chosen name elided in the middle with the whole name as tool tip; the
// opened list is as wide as its longest name.
#pragma once

#include <QComboBox>

namespace qorn::ui {

class PortComboBox : public QComboBox {
  public:
    // `hint` is the box's own tool tip, shown under the chosen port's name.
    PortComboBox(const QString& hint, QWidget* parent);

    // The row the box names: the chosen item (also while its name is shown
    // elided), else the item whose name was typed whole, else -1.
    int PortIndex() const;
    // Width the opened list needs to show every name whole.
    int ListWidthNeeded() const;

    void showPopup() override;

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Shows the chosen name elided (when the field is not being edited).
    void ShowChosen();

    QString hint_;
    QString shown_;
};

} // namespace qorn::ui
