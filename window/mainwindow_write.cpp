#include "mainwindow.h"
// Placeholder: the write slots land here.
void MainWindow::WriteData() {}
void MainWindow::WriteTimeouts() {}
void MainWindow::WriteToken() {}
void MainWindow::WriteServerAddr() {}
void MainWindow::WriteEthernetSettingsSet() {}
void MainWindow::WriteGPRSSettings() {}
void MainWindow::WriteMAC() {}
void MainWindow::WriteChannelPriority() {}
void MainWindow::WriteCashDeskId() {}
