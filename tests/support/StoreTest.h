#pragma once

#include "data/UException.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

// What a test of the store needs, without a widget: such a test links only
// the store library, so storage that reaches for the screen does not link.

// One test's world: a fresh temporary AppPath with a new, connected
// database, and the clock released.
class TStoreEnv
{
public:
    TStoreEnv();
    ~TStoreEnv();
    QString Path(const QString& name) const { return Dir.filePath(name); }

    QTemporaryDir Dir;
};

// Runs the test object under a core application, in the program's locale.
int RunStoreTestObject(QObject* test, int argc, char** argv);

#define JOTTEREL_STORE_TEST_MAIN(TestClass)                                                                            \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        TestClass test;                                                                                                \
        return RunStoreTestObject(&test, argc, argv);                                                                  \
    }

// Runs an operation that must fail; returns what it raised: "DB:" and the
// user message for a database error, the message of a plain error, "abort"
// for a silent stop, empty when nothing was raised.
template <typename F> QString ErrorOf(F operation)
{
    try {
        operation();
    } catch (const EDBException& e) {
        return "DB:" + e.UserMessage;
    } catch (const EError& e) {
        return e.Message();
    } catch (const EAbort&) {
        return "abort";
    }
    return QString();
}
