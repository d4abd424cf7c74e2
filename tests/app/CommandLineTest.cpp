// The player's command line: help and version print and end, a wrong option
// is refused with status 2 before any window opens, Qt's options pass.
#include "app/CommandLine.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

namespace {

using qorn::app::CommandLine;
using qorn::app::ReadCommandLine;

TEST(CommandLineTest, OptionsFilesAndQtOptions) {
    const CommandLine help = ReadCommandLine({"qorn", "--help"});
    EXPECT_EQ(help.action, CommandLine::Action::Help);
    EXPECT_NE(help.text.find("Usage: qorn [options] [FILE]"), std::string::npos);
    EXPECT_NE(help.text.find("--soundfont <PATH>"), std::string::npos);
    EXPECT_EQ(ReadCommandLine({"qorn", "--version"}).text, "qorn " QORN_TEST_VERSION "\n");

    const CommandLine wrong = ReadCommandLine({"qorn", "--loop", "a.mid"});
    EXPECT_EQ(wrong.action, CommandLine::Action::Refuse);
    EXPECT_NE(wrong.text.find("Unknown option 'loop'"), std::string::npos);
    EXPECT_EQ(ReadCommandLine({"qorn", "a.mid", "b.mid"}).action, CommandLine::Action::Refuse);
    EXPECT_EQ(ReadCommandLine({"qorn", "--soundfont"}).action, CommandLine::Action::Refuse);

    const CommandLine run =
        ReadCommandLine({"qorn", "-platform", "offscreen", "--soundfont=gm.dls", "-reverse", "song.sgt"});
    EXPECT_EQ(run.action, CommandLine::Action::Run);
    EXPECT_EQ(run.soundFont, "gm.dls");
    EXPECT_EQ(run.file, "song.sgt");
    EXPECT_EQ(ReadCommandLine({"qorn", "--", "-odd name.mid"}).file, "-odd name.mid");
}

TEST(CommandLineTest, TheProgramEndsWithoutAWindow) {
    for (const auto& [option, status] : {std::pair{"--version", 0}, std::pair{"--help", 0}, std::pair{"--bogus", 2}}) {
        qorn::testing::ChildProcess qorn;
        ASSERT_TRUE(qorn.start({QORN_EXECUTABLE, option}));
        ASSERT_TRUE(qorn.waitForFinished(10000)) << option;
        EXPECT_EQ(qorn.exitCode(), status) << option;
    }
}

} // namespace
