#include "app/CardApplication.h"
#include "app/Main.h"
#include "data/MD.h"

int main(int argc, char** argv)
{
    TCardApplication app(argc, argv);
    app.setApplicationName("Jotterel");
    app.LoadTranslations();
    if (!DbAccess)
        DbAccess = new TDbAccess;
    DbAccess->Connect();
    int status = 1;
    if (DbAccess->Connected()) {
        TFormMain formMain;
        formMain.show();
        status = formMain.TerminateRequested() ? formMain.ExitCode() : app.exec();
    }
    try {
        delete DbAccess;
    } catch (...) {
    }
    DbAccess = nullptr;
    return status;
}
