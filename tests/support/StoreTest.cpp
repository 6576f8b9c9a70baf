#include "support/StoreTest.h"

#include "data/Clock.h"
#include "data/MD.h"
#include "data/UntPublic.h"

TStoreEnv::TStoreEnv()
{
    TClock::Release();
    SetAppPath(Dir.path());
    delete DbAccess;
    DbAccess = new TDbAccess;
    DbAccess->Connect();
}

TStoreEnv::~TStoreEnv()
{
    delete DbAccess;
    DbAccess = nullptr;
    TClock::Release();
}

int RunStoreTestObject(QObject* test, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    return QTest::qExec(test, argc, argv);
}
