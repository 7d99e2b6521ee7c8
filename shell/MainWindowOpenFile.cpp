// Opening files and the post-load dialog of the main window.
#include "MainWindow.h"

void MainWindow::openFile()
{
    // Filled by the file opening work: file dialog, new registry, loading, post-load dialog.
}

void MainWindow::asinhCheckBoxClicked(bool)
{
    // Filled by the file opening work: opens and closes the post-load dialog's marker list.
}
