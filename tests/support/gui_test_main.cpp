// Entry point of the GUI test executables: one QApplication for all tests,
// on the display the test runner provides (Xvfb), with the program's default
// OpenGL format.
#include "render/applicationSurfaceFormat.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <link.h>

namespace {

/// Keeps the OpenGL drivers loaded until the process ends. The display
/// connection closes with the application and unloads them; the memory their
/// globals still point to would then look leaked to the leak checker.
void keepGlDriversLoaded()
{
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "_dri.so") != nullptr)
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

} // namespace

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
    const int result = RUN_ALL_TESTS();
    keepGlDriversLoaded();
    return result;
}
