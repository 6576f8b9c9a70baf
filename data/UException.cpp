#include "data/UException.h"

#include "data/UntPublic.h"

EError::EError(const QString& message) : m_message(message), m_utf8(message.toUtf8()) {}

EDBException::EDBException(const QString& message, const QString& userMessage, const QString& sqlText)
    : EError(message), UserMessage(userMessage), SQLText(sqlText)
{
}

void RaiseError(const QString& message)
{
    throw EError(message);
}

void Abort()
{
    throw EAbort();
}

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
