// The list a script with several segments opens, on real widgets: the first
// segment chosen at first, Return and a double click play the one chosen,
// Escape cancels.
#include "ui/SegmentChooser.h"

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>

#include <gtest/gtest.h>

namespace {

using qorn::ui::SegmentChooser;

void Key(QWidget* to, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(to, &press);
}

void DoubleClick(QListWidget* list, int row) {
    const QPointF at = list->visualItemRect(list->item(row)).center();
    const QPointF global = list->viewport()->mapToGlobal(at);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                    QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, global, Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &event);
    }
}

TEST(SegmentChooser, ReturnAndDoubleClickPlayTheChosenSegmentAndEscapeCancels) {
    const std::vector<std::string> names = {"AudCheer", "Ambience", "ボーナス"};
    struct Case {
        const char* what;
        void (*act)(SegmentChooser&);
        QDialog::DialogCode result;
        int chosen;
    };
    const Case cases[] = {
        {"Return at once: the first", [](SegmentChooser& c) { Key(c.List, Qt::Key_Return); }, QDialog::Accepted, 0},
        {"Down, Return: the second",
         [](SegmentChooser& c) {
             Key(c.List, Qt::Key_Down);
             Key(c.List, Qt::Key_Return);
         },
         QDialog::Accepted, 1},
        {"double click on the third", [](SegmentChooser& c) { DoubleClick(c.List, 2); }, QDialog::Accepted, 2},
        {"Escape", [](SegmentChooser& c) { Key(c.List, Qt::Key_Escape); }, QDialog::Rejected, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SegmentChooser chooser("game.spt", names, nullptr);
        chooser.setResult(-1);
        chooser.show();
        QApplication::processEvents();
        ASSERT_EQ(chooser.List->count(), 3);
        EXPECT_EQ(chooser.List->item(2)->text().toStdString(), names[2]);
        c.act(chooser);
        EXPECT_EQ(chooser.result(), c.result);
        EXPECT_EQ(chooser.Chosen(), c.chosen);
        EXPECT_FALSE(chooser.isVisible());
    }
}

} // namespace
