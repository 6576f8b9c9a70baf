#include "support/TestMain.h"

int RunTestObject(QObject* test, int argc, char** argv)
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    return QTest::qExec(test, argc, argv);
}
