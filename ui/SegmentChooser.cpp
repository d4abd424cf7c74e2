#include "ui/SegmentChooser.h"

#include "ui/AppTitle.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace qorn::ui {

SegmentChooser::SegmentChooser(const std::string& file, const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("SegmentChooser"));
    setWindowTitle(ApplicationTitle());
    auto* layout = new QVBoxLayout(this);
    // Shown as it is: never markup.
    auto* label =
        new QLabel(QString::fromStdString(file) + QStringLiteral(" の演奏するセグメントを選んでください"), this);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    List = new QListWidget(this);
    List->setObjectName(QStringLiteral("SegmentList"));
    for (const std::string& name : names)
        List->addItem(QString::fromStdString(name));
    if (List->count() > 0) List->setCurrentRow(0);
    layout->addWidget(List);
    auto* buttons = new QDialogButtonBox(this);
    PlayButton = buttons->addButton(QStringLiteral("Play"), QDialogButtonBox::AcceptRole);
    CancelButton = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    PlayButton->setDefault(true);
    PlayButton->setToolTip(QStringLiteral("選んだセグメントを演奏します"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(List, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    // Return in the list plays (the list would otherwise take the key for itself).
    connect(List, &QListWidget::itemActivated, this, &QDialog::accept);
    List->setFocus();
}

int SegmentChooser::Chosen() const {
    return List->currentRow();
}

} // namespace qorn::ui
