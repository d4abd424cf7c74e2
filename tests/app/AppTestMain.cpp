// The application tests run under the program's own application object.
#include "app/QornApplication.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // Test discovery runs this program without the tests' environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    qorn::app::QornApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
