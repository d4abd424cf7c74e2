// An exception from an event handler is shown and the loop goes on.
#include "app/QornApplication.h"
#include "ui/AppTitle.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class Thrower : public QObject {
  public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("handler failed");
        return QObject::event(e);
    }
};

TEST(QornApplicationTest, HandlerExceptionIsShownUnderTheApplicationTitle) {
    ASSERT_NE(dynamic_cast<qorn::app::QornApplication*>(QApplication::instance()), nullptr);
    qorn::ui::SetApplicationTitle(QStringLiteral("Qor_n Rev.010"));
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            text = box->text();
            caption = box->windowTitle();
            icon = box->icon();
            box->close();
        }
    });
    poll.start();

    Thrower thrower;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QApplication::sendEvent(&thrower, &event));
    EXPECT_EQ(text, QStringLiteral("handler failed"));
    EXPECT_EQ(caption, QStringLiteral("Qor_n Rev.010"));
    EXPECT_EQ(icon, QMessageBox::Critical);

    // The application goes on handling events.
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QApplication::processEvents();
    EXPECT_TRUE(ran);
}

} // namespace
