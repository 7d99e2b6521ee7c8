// Update checker for platforms without the updater library: there is no
// feed to ask, so the interactive check says so and names the running version.
#include "UpdateChecker.h"

#include <QApplication>
#include <QMessageBox>

void win_sparkle_init()
{
}

void win_sparkle_check_update_with_ui()
{
    QMessageBox::information(QApplication::activeWindow(), "Check for Updates",
                             "Vessarine " VESSARINE_VERSION "\n\n"
                             "Update checks are not available in this build.");
}

void win_sparkle_cleanup()
{
}
