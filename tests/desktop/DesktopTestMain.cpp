// The window tests that need a real X server: one private Xvfb for the run,
// real input through XTEST.
#include "tests/desktop/XDisplay.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no display.
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    const auto server = std::make_unique<qorn::test::PrivateXServer>();
    if (!server->Running()) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int code = 0;
    {
        QApplication app(argc, argv);
        code = RUN_ALL_TESTS();
    }
    return code;
}
