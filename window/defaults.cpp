#include "mainwindow.h"
// Placeholder: the defaults file lands here.
void MainWindow::loadDefault() {}
void MainWindow::saveDefault() {}
