#pragma once

#include <QApplication>
#include <QString>
#include <QtTest>

namespace testenv {

// Points HOME and the XDG folders at a fresh temporary folder, so that no test reads or writes
// the real user's settings. Must run before any QSettings exists (TAPTEMPEST_TEST_MAIN does it).
void isolateSettings();

// The identity the program sets at start-up; every QSettings of the program is scoped by it.
void setAppIdentity();

// Removes every key from the isolated settings store.
void clearSettings();

// The temporary home folder made by isolateSettings().
QString homeDir();

// Source and build folders of the project, as CTest passes them in TAPTEMPEST_SOURCE_DIR and
// TAPTEMPEST_BINARY_DIR, else those the tests were built from.
QString sourceDir();
QString binaryDir();

} // namespace testenv

// Like QTEST_MAIN, with a QApplication on an isolated settings store.
#define TAPTEMPEST_TEST_MAIN(TestObject)                                                           \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        testenv::isolateSettings();                                                                \
        QApplication app(argc, argv);                                                              \
        testenv::setAppIdentity();                                                                 \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
