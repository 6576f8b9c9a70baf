#include "app/Backup.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "groups/GroupTableStore.h"
#include "history/NoteHistory.h"
#include "history/TextDelta.h"
#include "history/Trash.h"
#include "reminders/UntAlam.h"
#include "support/StoreTest.h"

#include <QRandomGenerator>
#include <memory>

namespace {
QByteArray RandomText(QRandomGenerator& random, int characters)
{
    QString text;
    for (int i = 0; i < characters; ++i)
        text += random.bounded(20) == 0 ? QChar('\n') : QChar(0x4e00 + random.bounded(3000));
    return text.toUtf8();
}

// The texts of a note's versions, the newest first.
QList<QByteArray> VersionTexts(const TNoteHistory& history, int typeId)
{
    QList<QByteArray> texts;
    for (const TNoteVersion& version : history.Versions(typeId))
        texts << history.Text(version.Id).toUtf8();
    return texts;
}
} // namespace

class TestNoteHistory : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;
    const QDateTime start{QDate(2026, 1, 1), QTime(9, 0)};

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    // An empty text, or the newest version's text again, is not kept.
    void keptOnceEach()
    {
        TNoteHistory history;
        QVERIFY(history.Keep(1, "a", start));
        QVERIFY(!history.Keep(1, "a", start.addSecs(60)));
        QVERIFY(history.Keep(1, "ab", start.addSecs(120)));
        QVERIFY(!history.Keep(2, "", start));
        const QList<TNoteVersion> versions = history.Versions(1);
        QCOMPARE(versions.size(), 2);
        QCOMPARE(history.Text(versions.first().Id), QString("ab"));
        QCOMPARE(versions.first().Size, 2);
        QCOMPARE(versions.first().SavedAt, start.addSecs(120));
    }

    void thinning_data()
    {
        QTest::addColumn<QList<int>>("agesInHours");
        QTest::addColumn<QList<int>>("kept");
        const int day = 24;
        QTest::newRow("the last 30 days whole") << QList<int>{1, 2, 29 * day} << QList<int>{1, 2, 29 * day};
        QTest::newRow("then one a day") << QList<int>{40 * day + 1, 40 * day + 5, 41 * day + 1}
                                        << QList<int>{40 * day + 1, 41 * day + 1};
        QTest::newRow("then one a week, none past a year")
            << QList<int>{100 * day, 101 * day, 108 * day, 366 * day} << QList<int>{100 * day, 108 * day};
    }
    void thinning()
    {
        QFETCH(QList<int>, agesInHours);
        QFETCH(QList<int>, kept);
        const qint64 now = start.toSecsSinceEpoch();
        QList<qint64> moments, expected;
        for (int age : agesInHours)
            moments << now - age * 3600;
        for (int age : kept)
            expected << now - age * 3600;
        QCOMPARE(KeptVersionMoments(moments, now), expected);
    }

    // A year of an hour's editing a day of a 10 KB note, thinned each day:
    // each version kept reads back as it was (the deltas composed where
    // versions between went), in a few times the note's size.
    void aYearOfEditingStaysSmallAndWhole()
    {
        // Durable commits are not what is tested here.
        ExecNative(DbAccess->Handle(), "PRAGMA synchronous=OFF");
        TNoteHistory history;
        QRandomGenerator random(7);
        QString text = QString::fromUtf8(RandomText(random, 10 * 1024 / 3));
        QHash<qint64, QByteArray> kept;
        for (int day = 0; day < 365; ++day) {
            for (int minute = 0; minute < 60; minute += 10) {
                text[random.bounded(text.size())] = QChar(0x4e00 + random.bounded(3000));
                if (minute == 30) // a paragraph moved
                    text = text.mid(text.size() / 2) + text.left(text.size() / 2);
                const QDateTime at = start.addDays(day).addSecs(minute * 60);
                history.Keep(1, text.toUtf8(), at);
                kept.insert(at.toSecsSinceEpoch(), text.toUtf8());
            }
            history.Thin(start.addDays(day));
        }
        const QList<TNoteVersion> versions = history.Versions(1);
        QVERIFY(versions.size() > 200);
        for (const TNoteVersion& version : versions)
            QCOMPARE(history.Text(version.Id).toUtf8(), kept.value(version.SavedAt.toSecsSinceEpoch()));
        const int bytes = DbGetIntValue("select sum(length(Text)) from NoteVersion");
        qInfo() << "a year of versions:" << bytes / 1024 << "KB";
        QVERIFY(bytes < 10 * text.toUtf8().size());
    }

    // A delta makes its text from its base, and two composed make the text
    // from the first base; bytes that are no delta, or one that does not
    // fit its base, are refused, never read past.
    void deltas_data()
    {
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<QByteArray>("middle");
        QTest::addColumn<QByteArray>("text");
        QRandomGenerator random(3);
        const QByteArray a = RandomText(random, 4000), b = RandomText(random, 4000), c = RandomText(random, 300);
        QTest::newRow("from nothing") << QByteArray() << QByteArray("x") << a;
        QTest::newRow("to the same") << a << a << a;
        QTest::newRow("a line added and one changed") << a + b << a + c + b << a + c + b.left(100) + "改" + b.mid(103);
        QTest::newRow("paragraphs moved") << a + b + c << c + a + b << b + c + a;
        QTest::newRow("all new") << a << b << c;
        QTest::newRow("one block again and again") << a.left(64).repeated(50) << a.left(64).repeated(49) + "x"
                                                   << "y" + a.left(64).repeated(51);
    }
    void deltas()
    {
        QFETCH(QByteArray, base);
        QFETCH(QByteArray, middle);
        QFETCH(QByteArray, text);
        const TDelta second = UnpackDelta(PackDelta(MakeDelta(base, middle)));
        const TDelta first = UnpackDelta(PackDelta(MakeDelta(middle, text)));
        QCOMPARE(ApplyDelta(second, base), middle);
        QCOMPARE(ApplyDelta(first, middle), text);
        QCOMPARE(ApplyDelta(ComposeDeltas(first, second), base), text);
        QCOMPARE(DeltaLength(first), text.size());
        if (std::any_of(second.begin(), second.end(), [](const TDeltaOp& op) { return op.From >= 0; }))
            QVERIFY(ErrorOf([&] { ApplyDelta(second, QByteArray()); }).startsWith("历史版本已损坏"));
        QByteArray cut = qUncompress(PackDelta(first));
        cut.chop(1);
        QVERIFY(ErrorOf([&] { UnpackDelta(qCompress(cut)); }).startsWith("历史版本已损坏"));
        QVERIFY(ErrorOf([&] { UnpackDelta("no delta"); }).startsWith("历史版本已损坏"));
    }

    // Past a note's budget its oldest versions go, the newest stays; the
    // budget follows the largest text kept, so a note cut short by mistake
    // keeps its long text among the versions.
    void budget_data()
    {
        QTest::addColumn<QList<int>>("sizes"); // of texts kept in turn, in KB, random each
        QTest::addColumn<bool>("allKept");
        QTest::newRow("eight of 2 MB that share nothing") << QList<int>(8, 2048) << false;
        QTest::newRow("a long text, then a short one") << QList<int>{3072, 1} << true;
    }
    void budget()
    {
        QFETCH(QList<int>, sizes);
        QFETCH(bool, allKept);
        TNoteHistory history;
        QRandomGenerator random(11);
        QByteArray last;
        for (int i = 0; i < sizes.size(); ++i) {
            last.resize(sizes[i] * 1024);
            for (char& byte : last)
                byte = char('a' + random.bounded(26)); // compresses to about 60 %
            history.Keep(1, last, start.addSecs(i));
        }
        QCOMPARE(history.Versions(1).size() == sizes.size(), allKept);
        QCOMPARE(VersionTexts(history, 1).first(), last);
        const qint64 largest = *std::max_element(sizes.begin(), sizes.end()) * 1024;
        QVERIFY(DbGetIntValue("select sum(length(Text)) from NoteVersion") <=
                std::max(TNoteHistory::kBudgetFloor, TNoteHistory::kBudgetFactor * largest));
    }

    // A restore keeps the way back: the trash and the notes' versions of the
    // data it replaces join the backup's, and a note's text from before is
    // one more version of it.
    void restoreKeepsTrashAndVersions()
    {
        InstallDeleteKeeper(std::make_unique<TTrash>());
        TClock::Set(start.addDays(2));
        TNoteHistory history;
        TGroupTable notes("NoteType", "根目录");
        notes.Load();
        const int group = notes.Add(0, "工作");
        DbExecSQL(QString("insert into NoteBook values (%1, '备份时')").arg(group));
        const auto deleteReminder = [](const QString& text) {
            DbExecSQL(QString("insert into Alam(ReMark) values ('%1')").arg(text));
            TAlam().DeleteAlams({QString::number(DbGetIntValue("select max(ID) from Alam"))});
        };
        history.Keep(group, "旧", start);
        deleteReminder("甲");
        DbBackup(env->Path("backup.bat"));
        history.Keep(group, "新", start.addDays(1));
        DbExecSQL("update NoteBook set ReMark='恢复前'");
        deleteReminder("乙");

        RestoreWithSafetyCopy(env->Path("backup.bat"));
        QCOMPARE(DbGetIntValue(QString("select count(*) from NoteBook where ReMark='备份时'")), 1);
        QCOMPARE(VersionTexts(history, group), (QList<QByteArray>{"恢复前", "新", "旧"}));
        QStringList trash;
        for (const TTrashEntry& entry : TTrash().Entries())
            trash << entry.Name;
        QCOMPARE(trash, (QStringList{"乙", "甲"}));
        TClock::Release();
    }

    void diffMarks_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("marks");
        QTest::newRow("same") << "a\nb"
                              << "a\nb"
                              << " a| b";
        QTest::newRow("line changed") << "a\nb\nc"
                                      << "a\nB\nc"
                                      << " a|-b|+B| c";
        QTest::newRow("added at end, CRLF") << "a\r\nb"
                                            << "a\nb\nc"
                                            << " a| b|+c";
        QTest::newRow("removed in the middle") << "a\nx\nb\ny\nc"
                                               << "a\nb\nc"
                                               << " a|-x| b|-y| c";
    }
    void diffMarks()
    {
        QFETCH(QString, version);
        QFETCH(QString, current);
        QFETCH(QString, marks);
        QStringList shown;
        for (const TDiffLine& line : DiffLines(version, current))
            shown << QString(" -+"[line.kind]) + line.Text;
        QCOMPARE(shown.join('|'), marks);
    }
};

JOTTEREL_STORE_TEST_MAIN(TestNoteHistory)
#include "test_notehistory.moc"
