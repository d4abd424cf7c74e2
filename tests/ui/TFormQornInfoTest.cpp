// The file information box: its text and caption, shown as they are.
#include "FormFixture.h"

#include "ui/AppTitle.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

struct Shown {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::Critical;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::StandardButtons buttons;
};

class InfoTest : public FormFixture {
  protected:
    void SetUp() override { StartForm(); }

    Shown Open() {
        Shown shown;
        const bool seen = WithModalBox(
            [&] { form->ComInfoClick(); },
            [&](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                ASSERT_NE(box, nullptr);
                shown = {box->text(), box->windowTitle(), box->icon(), box->textFormat(), box->standardButtons()};
            });
        EXPECT_TRUE(seen);
        return shown;
    }
};

TEST_F(InfoTest, SegmentFileLinesUnderTheProgramCaption) {
    Drop({WriteFile("groove.sgt")});
    ASSERT_TRUE(form->ComInfo->isEnabled());
    const Shown shown = Open();
    EXPECT_EQ(shown.text, QStringLiteral("groove.sgt\n（Copyright情報なし）\n（DirectMusicセグメントファイル）"));
    EXPECT_EQ(shown.caption, QStringLiteral("Qor_n : groove.sgt"));
    EXPECT_EQ(shown.icon, QMessageBox::NoIcon);
    EXPECT_EQ(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // A second look shows the same.
    const Shown again = Open();
    EXPECT_EQ(again.text, shown.text);
    EXPECT_EQ(again.caption, shown.caption);
}

TEST_F(InfoTest, TextsAreShownLiterally) {
    const struct {
        const char* one;
        const char* two;
        const char* three;
        const char* shown;
    } cases[] = {
        {"", "", "", "\n\n"},
        {"100% %s %d", "<b>bold</b>", "a&b", "100% %s %d\n<b>bold</b>\na&b"},
        {"two\nlines", "曲名", "", "two\nlines\n曲名\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        form->InfoText1() = c.one;
        form->InfoText2() = c.two;
        form->InfoText3() = c.three;
        const Shown shown = Open();
        EXPECT_EQ(shown.text, QString::fromUtf8(c.shown));
        EXPECT_EQ(shown.format, Qt::PlainText);
    }
}

TEST_F(InfoTest, EmptyApplicationTitleGivesAnEmptyCaption) {
    qorn::ui::SetApplicationTitle(QString());
    EXPECT_EQ(Open().caption, QString());
    qorn::ui::SetApplicationTitle(QStringLiteral("Qor_n 100%"));
    EXPECT_EQ(Open().caption, QStringLiteral("Qor_n 100%"));
}

} // namespace
