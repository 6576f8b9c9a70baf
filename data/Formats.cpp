#include "data/Formats.h"

QLocale ProgramLocale()
{
    return QLocale(QLocale::Chinese, QLocale::China);
}

QString DayText(const QDate& day)
{
    return ProgramLocale().toString(day, "yyyy-MM-dd ddd");
}

QString SizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QString("%1 字节").arg(bytes);
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = bytes / 1024.0;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    QString number = QString::number(value, 'f', 1);
    if (number.endsWith(".0"))
        number.chop(2);
    return number + ' ' + units[unit];
}
