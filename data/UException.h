#pragma once

#include <QByteArray>
#include <QString>
#include <QObject>
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

// Stops the current user action without any message (a question answered No).
class EAbort : public std::exception
{
public:
    const char* what() const noexcept override { return "abort"; }
};

[[noreturn]] void RaiseError(const QString& message);
[[noreturn]] void Abort();

// The one application-wide handler: shows every exception that escapes an
// event, database errors with their details (logged when they carry a statement).
class TCardException
{
public:
    QString ExceptionText;
    QString UserMessage;
    QString SQLText;

    void HandleException(QObject* sender, const std::exception& error);
    void ShowException(const std::exception& error);
};

TCardException& CardException();

// Runs an event handler: whatever escapes it is shown by the one handler, so
// no exception ever unwinds through the toolkit's frames.
template <typename Handler> void RunHandler(Handler&& handler)
{
    try {
        handler();
    } catch (const EAbort&) {
    } catch (const std::exception& error) {
        CardException().HandleException(nullptr, error);
    }
}

// Connects a signal to a member handler that takes no arguments, run
// through RunHandler.
template <typename Sender, typename Signal, typename Receiver>
auto ConnectHandler(Sender* sender, Signal signal, Receiver* receiver, void (Receiver::*handler)())
{
    return QObject::connect(sender, signal, receiver, [receiver, handler] { RunHandler([&] { (receiver->*handler)(); }); });
}
