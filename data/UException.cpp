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

QString ErrorText(const std::exception& error)
{
    if (const auto* db = dynamic_cast<const EDBException*>(&error))
        return db->UserMessage + "\n" + db->Message();
    if (const auto* plain = dynamic_cast<const EError*>(&error))
        return plain->Message();
    return QString::fromUtf8(error.what());
}
