#ifndef MAINWINDOWFORM_H
#define MAINWINDOWFORM_H

#include <QCoreApplication>
#include <QString>

// The form's captions are looked up under the window's class name, "MainWindow", so that a
// translation made for the window finds them (uic would use the form's own class name).
inline QString formText(const char *sourceText, const char *disambiguation)
{
    return QCoreApplication::translate("MainWindow", sourceText, disambiguation);
}

#include "ui_mainwindowform.h"

// The window's fixed widget tree, built from mainwindowform.ui: one pointer per widget, layout
// and spacer, named as in the form.
class MainWindowForm : public Ui::MainWindowForm
{
public:
    void setupForm(QMainWindow *window) { setupUi(window); }
    void translateForm(QMainWindow *window) { retranslateUi(window); }
};

#endif // MAINWINDOWFORM_H
