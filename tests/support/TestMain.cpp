#include "support/TestMain.h"

#include "app/CardApplication.h"

int RunTestObject(QObject* test, int argc, char** argv)
{
    TCardApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    return QTest::qExec(test, argc, argv);
}
