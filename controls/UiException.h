#pragma once

// The widget half of the error handling: exceptions that escape an event are
// shown in a box (the exceptions themselves, data/UException.h, are storage).
#include "data/UException.h"

#include <QObject>

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
    return QObject::connect(sender, signal, receiver,
                            [receiver, handler] { RunHandler([&] { (receiver->*handler)(); }); });
}

// Connects the database (DbAccess). A failure shows "数据库连接失败！" with
// the reason, asks the event loop to end with status 1 and returns false.
bool ConnectDatabase();

// Checks the database's pages (TDbAccess::VerifyIntact); damage shows
// "数据库连接失败！" with the reason and returns false.
bool VerifyDatabase();
