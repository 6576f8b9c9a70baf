#include "capture/QuickTime.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "reminders/UntAlam.h"
#include "support/StoreTest.h"

#include <memory>

// Reminders read from plain words, against fixed moments.

namespace {
// Wednesday.
const QDateTime kNow(QDate(2026, 12, 9), QTime(14, 0));

// What a reminder is, in one line: "2026-12-10 15:00:00" for a one-off one,
// "每周一、三、五 09:30:00" for a repeating one, "!" and the reason when refused.
QString Outcome(const TQuickReminder& reminder)
{
    if (!reminder.Understood())
        return "!" + reminder.Refusal;
    const QString clock = reminder.AlamTime.toString("HH:mm:ss");
    if (reminder.ReDay)
        return TAlam::RepeatText(reminder.WeekDays, reminder.Repeat) + " " + clock;
    return reminder.AlamDate.toString(Qt::ISODate) + " " + clock;
}

void Row(const char* phrase, const QString& expected, const QString& text = QString(), const QDateTime& now = kNow)
{
    QTest::newRow(phrase) << now << QString(phrase) << expected << text;
}

QDateTime At(int y, int m, int d, int h, int min)
{
    return QDateTime(QDate(y, m, d), QTime(h, min));
}

// kNow's day at another hour.
QDateTime Today(int h, int min = 0)
{
    return At(2026, 12, 9, h, min);
}
} // namespace

class TestQuickTime : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

private slots:
    void cleanup()
    {
        env.reset();
        TClock::Release();
    }

    // Expected: the outcome as Outcome() writes it; a refusal ("!...") need
    // only contain the fragment given.
    void parse_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("text");

        // Counted from now.
        Row("10分钟后 喝水", "2026-12-09 14:10:00", "喝水");
        Row("半小时后 休息", "2026-12-09 14:30:00", "休息");
        Row("2小时后 开会", "2026-12-09 16:00:00", "开会");
        Row("两小时后 开会", "2026-12-09 16:00:00", "开会");
        Row("1个半小时后 出发", "2026-12-09 15:30:00", "出发");
        Row("30秒后 关火", "2026-12-09 14:00:30", "关火");
        Row("一刻钟后 出门", "2026-12-09 14:15:00", "出门");
        Row("3天后 9:00 复查", "2026-12-12 09:00:00", "复查");
        Row("3天后 体检", "2026-12-12 09:00:00", "体检");
        Row("2周后 复诊", "2026-12-23 09:00:00", "复诊");
        Row("2个月后 续费", "2027-02-09 09:00:00", "续费");
        Row("喝水 10分钟后", "2026-12-09 14:10:00", "喝水");
        Row("交报告 明天 下午3点", "2026-12-10 15:00:00", "交报告");
        Row("半小时后 a", "2026-12-09 14:30:07", "a", QDateTime(QDate(2026, 12, 9), QTime(14, 0, 7, 600)));

        // Days.
        Row("今天 18:00 下班", "2026-12-09 18:00:00", "下班");
        Row("今天 9点 晨会", "!“9点”是上午还是晚上");
        Row("今天 9点 a", "!已经过去", "", Today(22));
        Row("明天 交报告", "2026-12-10 09:00:00", "交报告");
        Row("明天下午3点交报告", "2026-12-10 15:00:00", "交报告");
        Row("后天 上午10点 面试", "2026-12-11 10:00:00", "面试");
        Row("大后天 8:00 出差", "2026-12-12 08:00:00", "出差");
        Row("今晚 看书", "2026-12-09 20:00:00", "看书");
        Row("明早 晨跑", "2026-12-10 08:00:00", "晨跑");
        Row("明晚9点 a", "2026-12-10 21:00:00", "a");
        Row("周五 9点 周报", "2026-12-11 09:00:00", "周报");
        Row("周三 15:00 例会", "2026-12-09 15:00:00", "例会");
        Row("周三 10:00 例会", "2026-12-16 10:00:00", "例会");
        Row("周五 9点 a", "2026-12-11 09:00:00", "a", At(2026, 12, 11, 8, 0));
        Row("周五 9点 b", "2026-12-18 09:00:00", "b", At(2026, 12, 11, 9, 0));
        Row("星期六 聚餐", "2026-12-12 09:00:00", "聚餐");
        Row("下周一 9:30 例会", "2026-12-14 09:30:00", "例会");
        Row("下周三 a", "2026-12-16 09:00:00", "a");
        Row("下下周一 a", "2026-12-21 09:00:00", "a");
        Row("本周日 10点 爬山", "2026-12-13 10:00:00", "爬山");
        Row("这周一 10点 复盘", "!已经过去");
        Row("12月24日 晚上8点 平安夜", "2026-12-24 20:00:00", "平安夜");
        Row("12月9日 10点 纪念日", "2027-12-09 10:00:00", "纪念日");
        Row("2027-01-05 体检", "2027-01-05 09:00:00", "体检");
        Row("2027年1月5日 8:30 体检", "2027-01-05 08:30:00", "体检");
        Row("1/5 还信用卡", "2027-01-05 09:00:00", "还信用卡");
        Row("2025-01-05 9:00 旧事", "!已经过去");
        Row("2027-02-29 9:00 a", "!没有这一天");
        Row("2月30日 a", "!没有这一天");
        Row("2月29日 生日", "2028-02-29 09:00:00", "生日");
        Row("31号 交房租", "2026-12-31 09:00:00", "交房租");
        Row("15号 发工资", "2026-12-15 09:00:00", "发工资");

        // Times of day; one that has passed today is tomorrow's. A clock
        // with a colon is read as a 24-hour clock; an hour said ("9点")
        // without a part of the day is the morning's while that is ahead,
        // and asked about while only the evening's is.
        Row("9点 晨会", "!“9点”是上午还是晚上？请写上“上午”或“晚上”。");
        Row("9点 开会", "!“9点”是上午还是晚上", "", Today(16, 30));
        Row("9点 开会", "2026-12-09 09:00:00", "开会", Today(8, 0));
        Row("9点 开会", "2026-12-10 09:00:00", "开会", Today(22, 0));
        Row("12点 吃饭", "2026-12-09 12:00:00", "吃饭", Today(10, 0));
        Row("12点 吃饭", "!“12点”是中午还是晚上", "", Today(12, 35));
        Row("9:30 开会", "2026-12-10 09:30:00", "开会");
        Row("9点半 开会", "2026-12-09 09:30:00", "开会", Today(7, 0));
        Row("14:00 开会", "2026-12-10 14:00:00", "开会");
        Row("下午3点 开会", "2026-12-09 15:00:00", "开会");
        Row("晚上8点一刻 看球", "2026-12-09 20:15:00", "看球");
        Row("下午5点三刻 a", "2026-12-09 17:45:00", "a");
        Row("中午 吃药", "2026-12-10 12:00:00", "吃药");
        Row("中午1点 午休", "2026-12-10 13:00:00", "午休");
        Row("早上7点 跑步", "2026-12-10 07:00:00", "跑步");
        Row("21:00 吃药", "2026-12-09 21:00:00", "吃药");
        Row("十点半 开会", "2026-12-09 10:30:00", "开会", Today(7, 0));
        Row("二十三点 睡觉", "2026-12-09 23:00:00", "睡觉");
        Row("八点零五 起床", "2026-12-10 08:05:00", "起床", Today(22, 0));
        Row("9点05分 a", "2026-12-09 09:05:00", "a", Today(7, 0));
        Row("凌晨2点 发布", "2026-12-10 02:00:00", "发布");
        Row("下午 喝茶", "2026-12-09 15:00:00", "喝茶");
        Row("晚上12点 睡觉", "2026-12-10 00:00:00", "睡觉");
        Row("晚上1点 收衣服", "2026-12-10 01:00:00", "收衣服");
        Row("24:00 关灯", "2026-12-10 00:00:00", "关灯");
        Row("0:00 关灯", "2026-12-10 00:00:00", "关灯");
        Row("明天 24:00 a", "2026-12-11 00:00:00", "a");
        Row("明天 ９：３０　开会", "2026-12-10 09:30:00", "开会");
        Row("提醒我明天9点交报告", "2026-12-10 09:00:00", "交报告");
        Row("明天中午吃饭", "2026-12-10 12:00:00", "吃饭");
        Row("明天9点 晚上的会", "2026-12-10 09:00:00", "晚上的会");
        Row("9点 3号楼 开会", "2026-12-09 09:00:00", "3号楼 开会", Today(7, 0));
        // A bare hour of 1 to 6 typed in the daytime is the afternoon's,
        // and asked about at night; 凌晨, 半夜, am and pm settle it, also
        // after the clock.
        Row("3点开会", "2026-12-09 15:00:00", "开会", Today(12, 35));
        Row("5点半下班打卡", "2026-12-09 17:30:00", "下班打卡", Today(12, 35));
        Row("两点 和客户电话", "2026-12-09 14:00:00", "和客户电话", Today(12, 35));
        Row("明天3点 开会", "2026-12-10 15:00:00", "开会", Today(12, 35));
        Row("3点 起床", "!“3点”是凌晨还是下午？", "", Today(23, 0));
        Row("凌晨3点 起床", "2026-12-10 03:00:00", "起床", Today(23, 0));
        Row("半夜12点 关灯", "2026-12-10 00:00:00", "关灯");
        Row("3pm 开会", "2026-12-09 15:00:00", "开会");
        Row("开会 9am", "2026-12-10 09:00:00", "开会");
        Row("8点 下午 a", "2026-12-09 20:00:00", "a");
        Row("9点 下午茶", "!“9点”是上午还是晚上");
        Row("明天9点 下午茶", "2026-12-10 09:00:00", "下午茶");

        // Repetitions.
        Row("每天 8:00 吃药", "每天 08:00:00", "吃药");
        Row("每天 喝水", "每天 09:00:00", "喝水");
        Row("每天早上 跑步", "每天 08:00:00", "跑步");
        Row("每周一 9:30 例会", "每周一 09:30:00", "例会");
        Row("每周一三五 9:30 晨会", "每周一、三、五 09:30:00", "晨会");
        Row("每星期二、四 19:00 健身", "每周二、四 19:00:00", "健身");
        Row("工作日 18:00 下班", "法定工作日 18:00:00", "下班");
        Row("周一至周五 18:00 下班", "周一至周五 18:00:00", "下班");
        Row("每周一至周五 7点 起床", "周一至周五 07:00:00", "起床");
        Row("每周五至周一 a", "每周一、五、六、日 09:00:00", "a");
        Row("周末 10:00 爬山", "2026-12-12 10:00:00", "爬山");
        Row("周末 去爬山", "2026-12-12 09:00:00", "去爬山", Today(12, 35));
        Row("周末 9点 a", "2026-12-13 09:00:00", "a", At(2026, 12, 12, 20, 0));
        Row("每周末 10点 爬山", "每周六、日 10:00:00", "爬山");
        Row("9点 开会 每天", "每天 09:00:00", "开会");
        Row("9:30 每周一 例会", "每周一 09:30:00", "例会");
        Row("18:00 下班 打卡 每个工作日", "法定工作日 18:00:00", "下班 打卡");
        Row("法定休息日 10点 睡懒觉", "法定休息日 10:00:00", "睡懒觉");
        // Monthly, yearly and lunar dates, festivals, days early.
        Row("每月1号 还款", "每月1号 09:00:00", "还款");
        Row("每月最后一天 交房租", "每月最后一天 09:00:00", "交房租");
        Row("每年3月8日 妇女节", "每年3月8日 09:00:00", "妇女节");
        Row("农历八月十五 给爸妈打电话", "每年农历八月十五 09:00:00", "给爸妈打电话");
        Row("每年农历正月初一 拜年", "每年农历正月初一 09:00:00", "拜年");
        Row("农历腊月廿三 小年", "每年农历腊月廿三 09:00:00", "小年");
        Row("春节 回家", "每年农历正月初一 09:00:00", "回家");
        Row("除夕 晚上8点 年夜饭", "每年农历腊月三十 20:00:00", "年夜饭");
        Row("国庆节 9:00 升旗", "每年10月1日 09:00:00", "升旗");
        Row("农历八月十五 妈妈生日 提前1天", "每年农历八月十五，提前1天 09:00:00", "妈妈生日");
        Row("每月1号 a 提前1天", "!只有每年的提醒可以提前几天");
        Row("明天 提前1天 a", "!只有每年的提醒可以提前几天");
        Row("每年2月30日 a", "!没有这一天：“每年2月30日”");
        Row("每年 a", "!“每年”是哪一天");
        Row("每月最后一天 24:00 a", "!请写“0:00”");
        // Deadlines: the time they are before; "下班前" needs an hour.
        Row("周五前交报告", "2026-12-11 09:00:00", "交报告", Today(12, 35));
        Row("今晚12点前 提交材料", "2026-12-10 00:00:00", "提交材料", Today(12, 35));
        Row("明天下午3点之前 交表", "2026-12-10 15:00:00", "交表");
        Row("周五下班前 交周报", "!“下班前”是几点", "", Today(12, 35));
        Row("3点 前台 取快递", "2026-12-09 15:00:00", "前台 取快递", Today(12, 35));
        // What is left that looks like a time refuses the words, unless quoted.
        Row("明天9点 交报告 18:00", "!看不懂“18:00”");
        Row("明天9点 准备周五的会", "!看不懂“周五”");
        Row("9:00 开会 至周五", "!看不懂“至周五”");
        Row("明天9点 开会 下午", "!看不懂“下午”");
        Row("明天9点 准备“周五”的会", "2026-12-10 09:00:00", "准备“周五”的会");
        Row("每周日 24:00 备份", "每周一 00:00:00", "备份");
        Row("每天 24:00 a", "每天 00:00:00", "a");

        // Refused, naming what was not understood.
        Row("每隔3天 浇花", "!“每隔3天”");
        Row("从下周一起 每天 8点 跑步", "!“从下周一起”");
        Row("每周 开会", "!“每周”是哪几天");
        Row("周一三五 9:30 晨会", "!看不懂“周一三五”：一个提醒只能定一天");
        Row("每天 明天 9点 a", "!“每天”和“明天”不能一起用");
        Row("明天 后天 9点 a", "!“明天”和“后天”重复了");
        Row("9点 10点 a", "!“9点”和“10点”重复了");
        Row("10分钟后 9点 a", "!“10分钟后”和“9点”不能一起用");
        Row("上午15点 a", "!“上午”和“15点”对不上");
        Row("25点 a", "!没有这个钟点：“25点”");
        Row("9:75 a", "!没有这个钟点：“9:75”");
        Row("凌晨 发布", "!“凌晨”几点");
        Row("明天 3天 开会", "!看不懂“3天”");
        Row("明天 9.30 开会", "!看不懂“9.30”");
        Row("100000天后 a", "!看不懂“100000天后”");
        Row("交报告", "!没有看到提醒的时间");
        Row("明天下午3点", "!已看懂时间（2026-12-10 周四 15:00）");
        Row("0分钟后 a", "!已经过去");

        // Month ends, year ends, leap days.
        Row("明天 a", "2027-02-01 09:00:00", "a", At(2027, 1, 31, 10, 0));
        Row("1个月后 a", "2027-02-28 09:00:00", "a", At(2027, 1, 31, 10, 0));
        Row("31号 a", "2027-03-31 09:00:00", "a", At(2027, 2, 10, 10, 0));
        Row("半小时后 跨年", "2027-01-01 00:00:00", "跨年", At(2026, 12, 31, 23, 30));
        Row("24:00 跨年", "2027-01-01 00:00:00", "跨年", At(2026, 12, 31, 23, 30));
        Row("12月31日 24:00 跨年", "2027-01-01 00:00:00", "跨年", At(2026, 12, 31, 23, 30));
        Row("1/1 元旦", "2027-01-01 09:00:00", "元旦", At(2026, 12, 31, 23, 30));
        Row("下周一 a", "2027-01-04 09:00:00", "a", At(2026, 12, 31, 23, 30));
        Row("明天 闰日", "2028-02-29 09:00:00", "闰日", At(2028, 2, 28, 10, 0));
        Row("后天 a", "2028-03-01 09:00:00", "a", At(2028, 2, 28, 10, 0));
        Row("2月29日 9点 a", "2032-02-29 09:00:00", "a", At(2028, 2, 29, 10, 0));
    }

    void parse()
    {
        QFETCH(QDateTime, now);
        QFETCH(QString, phrase);
        QFETCH(QString, expected);
        QFETCH(QString, text);
        const TQuickReminder reminder = ParseReminder(phrase, now);
        const QString outcome = Outcome(reminder);
        if (expected.startsWith('!')) {
            QVERIFY2(outcome.startsWith('!') && outcome.contains(expected.mid(1)), qPrintable(outcome));
            return;
        }
        QCOMPARE(outcome, expected);
        QCOMPARE(reminder.ReMark, text);
    }

    // Words end in the same row as the dialog's fields would, and a refusal
    // stores nothing.
    void addFromWords_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("result"); // the description, or the refusal
        QTest::addColumn<QString>("row");    // AlamTime, AlamDate, ReDay, WeekDays, ReMark[, the repeat]
        QTest::newRow("one-off") << "明天下午3点 交报告"
                                 << "将于 2026-12-10 周四 15:00 提醒：交报告"
                                 << "15:00:00|2026-12-10|false|0|交报告|0,0,0,0";
        QTest::newRow("weekly") << "每周一三五 9:30 晨会"
                                << "每周一、三、五 9:30 提醒：晨会"
                                << "09:30:00||true|21|晨会|0,0,0,0";
        QTest::newRow("lunar") << "农历八月十五 提前1天 团圆"
                               << "每年农历八月十五，提前1天 9:00 提醒：团圆"
                               << "09:00:00||true|0|团圆|5,8,15,1";
        QTest::newRow("refused") << "每隔3天 浇花"
                                 << "看不懂“每隔3天”：提醒只能不重复，或每天、每周的某几天、每月、每年重复。"
                                 << "";
    }

    void addFromWords()
    {
        QFETCH(QString, words);
        QFETCH(QString, result);
        QFETCH(QString, row);
        env = std::make_unique<TStoreEnv>();
        TClock::Set(kNow);
        QString added;
        const QString error = ErrorOf([&] { added = AddReminderFromWords(words); });
        QCOMPARE(row.isEmpty() ? error : added, result);
        const int count = DbGetIntValue("select count(*) from Alam");
        QCOMPARE(count, row.isEmpty() ? 0 : 1);
        if (row.isEmpty())
            return;
        TAlam stored;
        stored.LoadAlam(QString::number(DbGetIntValue("select max(ID) from Alam")));
        QCOMPARE(QStringList({stored.AlamTime.toString("HH:mm:ss"),
                              stored.ReDay ? QString() : stored.AlamDate.toString(Qt::ISODate),
                              stored.ReDay ? "true" : "false", QString::number(stored.WeekDays), stored.ReMark,
                              QString("%1,%2,%3,%4")
                                  .arg(stored.Repeat.Kind)
                                  .arg(stored.Repeat.Month)
                                  .arg(stored.Repeat.Day)
                                  .arg(stored.Repeat.Advance)})
                     .join('|'),
                 row);
    }
};

JOTTEREL_STORE_TEST_MAIN(TestQuickTime)
#include "test_quicktime.moc"
