#include "mainwindow.h"
#include "mainwindowform.h"

#include <QSettings>

// Placeholder: the window's behaviour lands here.
MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), form(new MainWindowForm), settings(nullptr)
{
    form->setupForm(this);
}
MainWindow::~MainWindow() { delete form; delete settings; }
void MainWindow::ReadData() {}
void MainWindow::reset() {}
void MainWindow::onDataChannelChanged(int) {}
void MainWindow::testBMKS() {}
void MainWindow::testModem() {}
void MainWindow::testServerConnection() {}
void MainWindow::testSignalLevel() {}
void MainWindow::showError(const QString &) {}
void MainWindow::showMessage(const QString &) {}
void MainWindow::beginExchange() {}
void MainWindow::endExchange() {}
