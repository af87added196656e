#ifndef MAINWINDOWFORM_H
#define MAINWINDOWFORM_H
class QMainWindow;
// Placeholder: the form lands here.
class MainWindowForm
{
public:
    void setupForm(QMainWindow *) {}
    void translateForm(QMainWindow *) {}
};
#endif
