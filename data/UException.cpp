#include "data/UException.h"

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
