// Entry point of the GUI test executables: one QApplication for all tests,
// on the display the test runner provides (Xvfb), with the program's default
// OpenGL format.
#include "rendering/applicationSurfaceFormat.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (CTest does it for every suite) needs no window system.
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Vessarine Project");
    QApplication::setOrganizationDomain("vessarine.example.org");
    QApplication::setApplicationName("Vessarine");
    QSurfaceFormat::setDefaultFormat(applicationSurfaceFormat());
    return RUN_ALL_TESTS();
}
