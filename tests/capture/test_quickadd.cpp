#include "app/SingleInstance.h"
#include "capture/CaptureWiring.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "support/CaptureParts.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QInputMethodEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

// The field 快速添加 on the reminder page, and a reminder handed to the
// running program shown there.

namespace {
// Types as a keyboard would, one key a character.
void Type(QWidget* field, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}
} // namespace

class TestQuickAdd : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    // Typing shows the reading, Enter adds and lists it; refused words stay
    // with the reason beside them and add nothing.
    void typedWordsAreShownThenAdded()
    {
        TClock::Set(QDateTime(QDate(2026, 12, 9), QTime(14, 0)));
        TPageFixture form;
        TCaptureWiring capture(CaptureParts(form));
        TRegisteredCommands registered(capture.Commands());
        form.show();
        auto* field = OnShownPage<QLineEdit>(&form, "edtQuickAdd");
        auto* reading = Find<QLabel>(&form, "labQuickAdd");
        auto* list = Find<QTreeWidget>(&form, "lv1");
        QCOMPARE(field->parentWidget()->parentWidget()->layout()->itemAt(0)->widget(), field->parentWidget());
        QCOMPARE(field->accessibleName(), QString("快速添加"));

        Type(field, "每隔3天 浇花");
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(field->text(), QString("每隔3天 浇花"));
        QVERIFY2(reading->text().startsWith("看不懂“每隔3天”"), qPrintable(reading->text()));
        QCOMPARE(DbGetIntValue("select count(*) from Alam"), 0);

        field->clear();
        Type(field, "明天下午3点 交报告");
        QCOMPARE(reading->text(), QString("将于 2026-12-10 周四 15:00 提醒：交报告"));
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(field->text(), QString());
        QCOMPARE(reading->text(), QString("已添加：将于 2026-12-10 周四 15:00 提醒：交报告"));
        QVERIFY(Find<QRadioButton>(&form, "rbAll")->isChecked());
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(1), QString("2026-12-10 15:00:00"));
        QCOMPARE(list->topLevelItem(0)->text(2), QString("交报告"));

        // Pinyin half typed when --toggle hides the window never becomes text.
        QApplication::setActiveWindow(&form);
        QInputMethodEvent composing("ming tian", {});
        QApplication::sendEvent(field, &composing);
        QVERIFY(RunningCommands().value("toggle")({}).Done);
        QVERIFY(form.isMinimized()); // hidden into the tray where there is one
        QInputMethodEvent givenUp;
        givenUp.setCommitString("ming tian");
        QApplication::sendEvent(field, &givenUp);
        QCOMPARE(field->text(), QString());
        QCOMPARE(reading->text(), QString("已添加：将于 2026-12-10 周四 15:00 提醒：交报告"));
    }

    // A `--remind` handed to the running program shows the reminder it
    // stored, selected under 全部提醒, whatever filter the page had.
    void handedOverReminderIsShownSelected()
    {
        TClock::Set(QDateTime(QDate(2026, 12, 9), QTime(14, 0)));
        TPageFixture form;
        TCaptureWiring capture(CaptureParts(form));
        TRegisteredCommands registered(capture.Commands());
        form.show();
        auto* list = OnShownPage<QTreeWidget>(&form, "lv1");
        QVERIFY(Find<QRadioButton>(&form, "rbToDay")->isChecked());
        const TRunningAnswer answer = RunningCommands().value("remind")({"明天 9:00 开会"});
        QVERIFY2(answer.Done, qPrintable(answer.Text));
        QCOMPARE(answer.Text, QString("将于 2026-12-10 周四 9:00 提醒：开会"));
        QVERIFY(Find<QRadioButton>(&form, "rbAll")->isChecked());
        QVERIFY(list->currentItem());
        QCOMPARE(list->currentItem()->text(0), QString::number(DbGetIntValue("select max(ID) from Alam")));
        QCOMPARE(list->currentItem()->text(2), QString("开会"));
    }
};

JOTTEREL_TEST_MAIN(TestQuickAdd)
#include "test_quickadd.moc"
