#include "data/Formats.h"
#include "history/NoteHistory.h"
#include "history/NoteHistoryDlg.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QPushButton>
#include <QScopeGuard>
#include <QTextEdit>
#include <QTreeWidget>
#include <memory>

namespace {
const QDateTime kMorning(QDate(2026, 3, 1), QTime(9, 0, 0));
}

// 历史版本 lists the versions worth bringing back, each with its time and size.
class TestNoteHistoryDlg : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

private slots:
    // The tests run under C.UTF-8: the application object makes the
    // program's Chinese the default all the same.
    void initTestCase() { QCOMPARE(QLocale(), ProgramLocale()); }
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

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

    // Each version's moment and size, in the program's Chinese also on a
    // system without a Chinese locale.
    void showsMomentAndSizeInChinese()
    {
        QLocale::setDefault(QLocale::c());
        const auto chinese = qScopeGuard([] { QLocale::setDefault(ProgramLocale()); });
        TNoteHistory history;
        QVERIFY(history.Keep(1, QByteArray(1536, 'x'), kMorning));
        QVERIFY(history.Keep(1, "旧的", kMorning.addSecs(60)));
        TFormNoteHistory dialog(history, 1, "现在");
        const auto* list = Find<QTreeWidget>(&dialog, "lvVersions");
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("2026-03-01 09:01:00"));
        QCOMPARE(list->topLevelItem(0)->text(1), QString("6 字节"));
        QCOMPARE(list->topLevelItem(1)->text(1), QString("1.5 KB"));
    }

    // With nothing to list, it says why and nothing can be brought back.
    void saysWhenNothingDiffers()
    {
        TNoteHistory history;
        {
            TFormNoteHistory none(history, 1, "现在");
            QVERIFY(!none.OkButton()->isEnabled());
            QCOMPARE(Find<QTextEdit>(&none, "mmoVersion")->toPlainText(), QString("这篇记事还没有历史版本。"));
        }
        QVERIFY(history.Keep(1, "现在", kMorning));
        TFormNoteHistory same(history, 1, "现在");
        QVERIFY(!same.OkButton()->isEnabled());
        QCOMPARE(Find<QTextEdit>(&same, "mmoVersion")->toPlainText(), QString("这篇记事没有和现在不同的历史版本。"));
    }
};

JOTTEREL_TEST_MAIN(TestNoteHistoryDlg)
#include "test_notehistorydlg.moc"
