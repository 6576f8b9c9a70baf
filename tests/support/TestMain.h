#pragma once

#include <QApplication>
#include <QLocale>
#include <QTest>

// Test executables start the program's own application object, so that
// exceptions escaping an event reach the program's handler as in the real
// program, which fixes the default locale (the program's Chinese); tests
// that need another set it.
int RunTestObject(QObject* test, int argc, char** argv);

#define JOTTEREL_TEST_MAIN(TestClass)                                                                                  \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        TestClass test;                                                                                                \
        return RunTestObject(&test, argc, argv);                                                                       \
    }
