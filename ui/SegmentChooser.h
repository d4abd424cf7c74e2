// The small list a script or container that holds several segments opens:
// which one to play, the first chosen at first. Return or a double click
// plays the chosen one, Escape cancels.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QListWidget;
class QPushButton;

namespace qorn::ui {

class SegmentChooser : public QDialog {
  public:
    // `file`: the script's name as shown; `names`: its segments (UTF-8).
    SegmentChooser(const std::string& file, const std::vector<std::string>& names, QWidget* parent);

    // The row chosen, or -1 when none is.
    int Chosen() const;

    QListWidget* List = nullptr;
    QPushButton* PlayButton = nullptr;
    QPushButton* CancelButton = nullptr;
};

} // namespace qorn::ui
