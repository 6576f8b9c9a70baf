#include "data/Formats.h"
#include "history/NoteHistory.h"
#include "history/NoteHistoryDlg.h"
#include "support/TestMain.h"

namespace {
const QDateTime kMorning(QDate(2026, 3, 1), QTime(9, 0, 0));
}

// 历史版本 lists the versions worth bringing back.
class TestNoteHistoryDlg : public QObject
{
    Q_OBJECT

private slots:
    // The tests run under C.UTF-8: the application object makes the
    // program's Chinese the default all the same.
    void initTestCase() { QCOMPARE(QLocale(), ProgramLocale()); }

    // Versions as "seconds after nine:text", newest first; the current text
    // is "now".
    void listsVersionsThatDifferOnePerSecond_data()
    {
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("the newest is the current text")
            << QStringList{"20:now", "10:earlier"} << QStringList{"10:earlier"};
        QTest::newRow("two in one second: the newer")
            << QStringList{"10:b", "10:a", "5:c"} << QStringList{"10:b", "5:c"};
        QTest::newRow("the newer of a second is the current text")
            << QStringList{"10:now", "10:a"} << QStringList{"10:a"};
        QTest::newRow("same size, other text") << QStringList{"10:won"} << QStringList{"10:won"};
        QTest::newRow("an older copy of the current text")
            << QStringList{"30:x", "20:now", "10:y"} << QStringList{"30:x", "10:y"};
    }

    void listsVersionsThatDifferOnePerSecond()
    {
        QFETCH(QStringList, kept);
        QFETCH(QStringList, listed);
        QList<TNoteVersion> versions;
        QHash<qint64, QString> texts;
        for (const QString& entry : kept) {
            const QString text = entry.section(':', 1);
            const qint64 id = versions.size() + 1;
            versions.append({id, kMorning.addSecs(entry.section(':', 0, 0).toInt()), text.toUtf8().size()});
            texts[id] = entry;
        }
        QStringList shown;
        for (const TNoteVersion& version :
             ListedVersions(versions, "now", [&](qint64 id) { return texts[id].section(':', 1); }))
            shown << texts[version.Id];
        QCOMPARE(shown, listed);
    }
};

JOTTEREL_TEST_MAIN(TestNoteHistoryDlg)
#include "test_notehistorydlg.moc"
