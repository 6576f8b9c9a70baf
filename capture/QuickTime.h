#pragma once

#include "reminders/AlamRepeat.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

class TAlam;

// A reminder read from plain Chinese words ("明天下午3点 交报告",
// "每周一三五 9:30 晨会"): either the fields the reminder store takes, or the
// reason the words were refused, naming the part that was not understood.
// The words the program reads are the table in QuickTime.cpp.
struct TQuickReminder
{
    QString Refusal; // empty when the words were understood

    QTime AlamTime; // time of day, whole seconds
    QDate AlamDate; // day of a one-off reminder
    bool ReDay = false;
    int WeekDays = 0;   // of a repeating reminder, as TAlam keeps them
    TAlamRepeat Repeat; // 法定工作日, 每月, 每年, 农历
    QString ReMark;     // the words that remain after the time

    bool Understood() const { return Refusal.isEmpty(); }
    // "将于 2026-12-10 15:00 提醒：交报告", "每周一、三、五 9:30 提醒：晨会".
    QString Description() const;
    // The moment or the repetition alone: "2026-12-10 15:00", "每天 8:00".
    QString WhenText() const;
    // Puts the fields into the store, ready for its InsertAlam.
    void FillInto(TAlam& store) const;
};

// Reads the words against the given moment. The time comes first, the
// reminder's text after it ("10分钟后 喝水"), or the other way round with a
// blank between ("喝水 10分钟后"); repetitions count wherever they stand. A
// time of day alone that has passed today means tomorrow, a day that comes
// again ("周五", "12月24日") its next turn still ahead; a day that cannot
// move ("今天", "2025-01-05") whose time has passed is refused. A day
// without a time of day is at 9:00. An hour said without a part of the day
// that could be the night's or the evening's is asked about, never
// guessed, and so is anything left in the text that looks like a time.
TQuickReminder ParseReminder(const QString& words, const QDateTime& now);

// Reads the words against the program's clock and stores the reminder
// through the same store call as the dialog 新建提醒. Returns the
// description of what was added, and its ID in `id` when asked; words that
// are refused raise the reason (RaiseError) and store nothing.
QString AddReminderFromWords(const QString& words, int* id = nullptr);
