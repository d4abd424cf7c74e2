// Construction and destruction of the main window, its window events and
// what the open-file workflow may do to it.
#include "ui/TFormQorn.h"

#include "ui/AppTitle.h"
#include "ui/ExceptionBox.h"
#include "ui/SegmentChooser.h"
#include "ui/TRadioGroup.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QTimer>

#include <exception>
#include <utility>

TFormQorn* FormQorn = nullptr;

namespace {

// What the application does with an exception from the window's own
// creation or destruction handler: show it and go on.
template <typename Handler> void RunGuarded(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        qorn::ui::ShowExceptionBox(e.what());
    }
}

// Runs `then` once, right after the window's first paint has reached the
// screen, or after a second if it is never painted; then goes.
class AfterFirstPaint : public QObject {
  public:
    AfterFirstPaint(QWidget* window, std::function<void()> then) : QObject(window), then_(std::move(then)) {
        window->installEventFilter(this);
        QTimer::singleShot(1000, this, [this] { Run(); });
    }
    bool eventFilter(QObject*, QEvent* event) override {
        // Queued: the paint is flushed to the screen before it runs.
        if (event->type() == QEvent::Paint) QTimer::singleShot(0, this, [this] { Run(); });
        return false;
    }

  private:
    void Run() {
        if (!then_) return;
        parent()->removeEventFilter(this);
        const std::function<void()> then = std::move(then_);
        then_ = nullptr;
        deleteLater();
        then();
    }
    std::function<void()> then_;
};

} // namespace

std::unique_ptr<TFormQorn> TFormQorn::Create() {
    auto form = std::make_unique<TFormQorn>();
    RunGuarded([&] { form->FormLoad(); });
    return form;
}

std::unique_ptr<TFormQorn> TFormQorn::CreateShown(std::function<void()> painted) {
    auto form = std::make_unique<TFormQorn>(false);
    form->ComOpen->setEnabled(false);
    new AfterFirstPaint(form.get(), std::move(painted));
    form->show();
    return form;
}

void TFormQorn::LoadDeferred() {
    if (OpenD != nullptr) return;
    BuildOpenDialog();
    RunGuarded([this] { FormLoad(); });
    ComOpen->setEnabled(engineReady_);
}

TFormQorn::TFormQorn(bool withOpenDialog) {
    FormQorn = this;
    try {
        BuildLayout();
        if (withOpenDialog) BuildOpenDialog();
        BindEvents();
    } catch (...) {
        // No destructor runs for a half-built window: leave no dangling pointer.
        FormQorn = nullptr;
        throw;
    }
    infoText1_.clear();
    infoText2_.clear();
    infoText3_.clear();
    setAcceptDrops(true);
    lastFileName_.clear();
    lastFileSize_ = 0;
    engineReady_ = false;
    OpenDialogRunner = [](QFileDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    SegmentChooserRunner = [](qorn::ui::SegmentChooser& chooser) { return chooser.exec() == QDialog::Accepted; };
}

TFormQorn::~TFormQorn() {
    hide();
    RunGuarded([this] { FormUnload(); });
    setAcceptDrops(false);
    infoText3_.clear();
    infoText2_.clear();
    infoText1_.clear();
    if (FormQorn == this) FormQorn = nullptr;
}

void TFormQorn::BindEvents() {
    connect(TBVolume, &QSlider::valueChanged, this, [this] { TBChange(); });
    RGTempo->OnClick = [this] { ChangeTempo(); };
    connect(ComOpen, &QPushButton::clicked, this, [this] { ComOpenClick(); });
    connect(ComPlay, &QPushButton::clicked, this, [this] { ComPlayClick(); });
    connect(TimCheck, &QTimer::timeout, this, [this] { CheckTimer(); });
    connect(TimTime, &QTimer::timeout, this, [this] { TimeTimer(); });
    connect(ComInfo, &QPushButton::clicked, this, [this] { ComInfoClick(); });
    connect(ComDefault, &QPushButton::clicked, this, [this] { ComDefaultClick(); });
    // Keys that change nothing but which control acts.
    auto* open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    connect(open, &QShortcut::activated, this, [this] {
        if (ComOpen->isEnabled()) ComOpen->click();
    });
    auto* info = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_I), this);
    connect(info, &QShortcut::activated, this, [this] {
        if (ComInfo->isEnabled()) ComInfo->click();
    });
}

void TFormQorn::keyPressEvent(QKeyEvent* event) {
    // A push button takes Space itself; Return and Enter reach the window
    // and press the button that has the focus.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (enter && event->modifiers() == Qt::NoModifier && button != nullptr && button->isEnabled()) {
        button->animateClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFormQorn::dragEnterEvent(QDragEnterEvent* event) {
    // Not before the window can open files.
    if (event->mimeData()->hasUrls() && OpenD != nullptr) event->acceptProposedAction();
}

void TFormQorn::dropEvent(QDropEvent* event) {
    event->acceptProposedAction();
    WMDropFiles(*event->mimeData());
}

void TFormQorn::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (const QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TFormQorn::SetTitles(const std::string& text) {
    const QString title = QString::fromStdString(text);
    setWindowTitle(title);
    qorn::ui::SetApplicationTitle(title);
    if (StateChanged) StateChanged();
}

void TFormQorn::SetLabelFN(const std::string& text) {
    // A message longer than the panel ends in an ellipsis and is shown whole
    // as the panel's tool tip.
    const QString whole = QString::fromStdString(text);
    const QString shown = LabelFN->fontMetrics().elidedText(whole, Qt::ElideRight, LabelFN->contentsRect().width());
    LabelFN->setText(shown);
    LabelFN->setToolTip(shown == whole ? QString() : whole);
}

void TFormQorn::SetLabelTime(const std::string& text) {
    LabelTime->setText(QString::fromStdString(text));
}

void TFormQorn::RepaintNow() {
    repaint();
}

void TFormQorn::StopTimers() {
    TimTime->stop();
    TimCheck->stop();
}

void TFormQorn::EnableComPlay() {
    ComPlay->setEnabled(true);
}

void TFormQorn::EnableComInfo() {
    ComInfo->setEnabled(true);
}

void TFormQorn::EnableComOpen() {
    ComOpen->setEnabled(true);
}

int TFormQorn::ChooseSegment(const std::string& file, const std::vector<std::string>& names) {
    qorn::ui::SegmentChooser chooser(file, names, this);
    if (!SegmentChooserRunner || !SegmentChooserRunner(chooser)) return -1;
    return chooser.Chosen();
}
