#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// A plain error: a message for the user, shown in a box captioned "错误".
class EError : public std::exception
{
public:
    explicit EError(const QString& message);
    const QString& Message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A database error: the underlying message, the sentence for the user, and
// the statement that failed (empty for connection, backup and restore).
class EDBException : public EError
{
public:
    EDBException(const QString& message, const QString& userMessage, const QString& sqlText);
    QString UserMessage;
    QString SQLText;
};

// An error's text for the user: the reason a raised error carries (for a
// database error, the sentence for the user and the underlying message).
QString ErrorText(const std::exception& error);

// Stops the current user action without any message (a question answered No).
class EAbort : public std::exception
{
public:
    const char* what() const noexcept override { return "abort"; }
};

[[noreturn]] void RaiseError(const QString& message);
[[noreturn]] void Abort();
