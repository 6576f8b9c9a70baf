#include "controls/UiException.h"

#include "controls/UiPublic.h"
#include "data/MD.h"

#include <QCoreApplication>

void TCardException::HandleException(QObject* /*sender*/, const std::exception& error)
{
    ShowException(error);
}

void TCardException::ShowException(const std::exception& error)
{
    if (dynamic_cast<const EAbort*>(&error))
        return;
    const auto* plain = dynamic_cast<const EError*>(&error);
    ExceptionText = plain ? plain->Message() : QString::fromLocal8Bit(error.what());
    if (const auto* db = dynamic_cast<const EDBException*>(&error)) {
        UserMessage = db->UserMessage;
        SQLText = db->SQLText;
        ShowDbError(UserMessage, ExceptionText, SQLText);
    } else {
        ShowError(ExceptionText);
    }
}

TCardException& CardException()
{
    static TCardException handler;
    return handler;
}

bool ConnectDatabase()
{
    try {
        DbAccess->Connect();
        return true;
    } catch (const EDBException& e) {
        CardException().ShowException(e);
        QCoreApplication::exit(1);
        return false;
    }
}

bool VerifyDatabase()
{
    try {
        DbAccess->VerifyIntact();
        return true;
    } catch (const EDBException& e) {
        CardException().ShowException(e);
        return false;
    }
}
