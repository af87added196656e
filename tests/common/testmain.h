#ifndef TESTMAIN_H
#define TESTMAIN_H

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// Like QTEST_MAIN, but the program runs in a fresh temporary working directory, so the window's
// relative tallyconf.ini never leaks between test programs or into the build tree, and it runs
// without a display unless one is asked for.
#define TALLY_TEST_MAIN(TestObject)                                        \
    int main(int argc, char *argv[])                                       \
    {                                                                      \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                \
            qputenv("QT_QPA_PLATFORM", "offscreen");                       \
        QApplication app(argc, argv);                                      \
        const QString startDir = QDir::currentPath();                      \
        QTemporaryDir workDir;                                             \
        if (!workDir.isValid() || !QDir::setCurrent(workDir.path()))       \
            return 2;                                                      \
        int result = 0;                                                    \
        {                                                                  \
            TestObject testObject;                                         \
            QTEST_SET_MAIN_SOURCE_PATH                                     \
            result = QTest::qExec(&testObject, argc, argv);                \
        }                                                                  \
        /* Windows removes no folder a process works in. */                \
        QDir::setCurrent(startDir);                                        \
        return result;                                                     \
    }

#endif // TESTMAIN_H
