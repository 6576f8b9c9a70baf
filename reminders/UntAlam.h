#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

// The six filters of the reminder list, in the order of their radio buttons.
enum AlamFilter : int { afToday = 0, afTomorrow, afMissed, afSeen, afDaily, afAll };

// The only code that reads or writes the table Alam. Its fields carry one
// reminder between the dialogs and the statements.
class TAlam
{
public:
    QTime AlamTime; // time of day, whole seconds
    QDate AlamDate; // day of a one-off reminder
    bool ReDay = false;
    QString ReMark;
    QString LastSQL;

    // An ID is the decimal text of the row's key, as the list shows it.
    void InsertAlam();
    // The rows of the list under the filter (ID, time, text, status), past
    // one-off rows marked "错过的" (only in the rows, not in the table).
    QList<QStringList> LoadAlamList(AlamFilter filter);
    void DeleteAlam(const QString& id);
    // A missing row leaves the fields empty and reports nothing.
    void LoadAlam(const QString& id);
    // Writes the fields into the row; a changed reminder is unseen again.
    void UpdateAlam(const QString& id);
    void MarkAlamSeen(const QString& id);

    // The select of the list, with the WHERE clause of the filter.
    static QString ListSQL(AlamFilter filter);
};

// Status texts of the list's last column.
inline const QString kAlamSeenText = QStringLiteral("看过的");
inline const QString kAlamMissedText = QStringLiteral("错过的");
