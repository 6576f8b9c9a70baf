#include "support/TestMain.h"

#include "app/CardApplication.h"

int RunTestObject(QObject* test, int argc, char** argv)
{
    TCardApplication app(argc, argv); // makes the program's Chinese the default locale
    return QTest::qExec(test, argc, argv);
}
