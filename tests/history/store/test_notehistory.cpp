#include "data/MD.h"
#include "history/NoteHistory.h"
#include "support/StoreTest.h"

#include <QRandomGenerator>
#include <memory>

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

    // A year of an hour's editing a day of a 10 KB note, thinned each day,
    // stays well under 5 MB.
    void aYearOfEditingStaysSmall()
    {
        TNoteHistory history;
        QString text;
        QRandomGenerator random(7);
        for (int i = 0; i < 10 * 1024 / 3; ++i)
            text += QChar(0x4e00 + random.bounded(3000));
        for (int day = 0; day < 365; ++day) {
            for (int minute = 0; minute < 60; minute += 10) {
                text[random.bounded(text.size())] = QChar(0x4e00 + random.bounded(3000));
                history.Keep(1, text.toUtf8(), start.addDays(day).addSecs(minute * 60));
            }
            history.Thin(start.addDays(day));
        }
        const int bytes = DbGetIntValue("select sum(length(Text)) from NoteVersion");
        qInfo() << "a year of versions:" << bytes / 1024 << "KB";
        QVERIFY(bytes < 5 * 1024 * 1024);
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
