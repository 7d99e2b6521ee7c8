// Entry point of the GUI test executables: one QApplication for all tests,
// on the display the test runner provides (Xvfb).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Vessarine Project");
    QApplication::setOrganizationDomain("vessarine.example.org");
    QApplication::setApplicationName("Vessarine");
    return RUN_ALL_TESTS();
}
