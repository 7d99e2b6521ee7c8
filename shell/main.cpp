#include "MainWindow.h"
#include "UpdateChecker.h"
#include "applicationIcon.h"
#include "render/applicationSurfaceFormat.h"

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // These three decide where the settings store keeps its keys: set them
    // before anything touches it.
    QApplication::setOrganizationName("Vessarine Project");
    QApplication::setOrganizationDomain("vessarine.example.org");
    QApplication::setApplicationName("Vessarine");

    QSurfaceFormat::setDefaultFormat(applicationSurfaceFormat());

    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    const QIcon icon = applicationIcon();
    QApplication::setWindowIcon(icon);

    MainWindow window;
    window.show();
    win_sparkle_init();
    return QApplication::exec();
}
