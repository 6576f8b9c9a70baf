#include "data/Clock.h"
#include "groups/AddType.h"
#include "groups/GroupTableStore.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

class TestAddType : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

    static QLineEdit* Edit(QWidget* dialog, const char* name) { return dialog->findChild<QLineEdit*>(name); }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        TClock::Set(QDateTime(QDate(2024, 2, 29), QTime(7, 5, 9)));
    }
    void cleanup() { env.reset(); }

    void dialogShowsThePositionReadOnly()
    {
        TFormAddType dialog;
        dialog.SetPosition("根目录->A");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("新建组"));
        // The size is the whole window's, frame included.
        QCOMPARE(dialog.frameGeometry().size(), QSize(374, 201));
        QLineEdit* position = Edit(&dialog, "edtPos");
        QCOMPARE(position->text(), QString("根目录->A"));
        QVERIFY(position->isReadOnly());
        QTest::keyClicks(position, "xyz");
        QCOMPARE(position->text(), QString("根目录->A"));
        // The name has the focus from the start.
        QCOMPARE(QApplication::focusWidget(), Edit(&dialog, "edtName"));
        auto* ok = dialog.findChild<QPushButton*>("btnOK");
        auto* cancel = dialog.findChild<QPushButton*>("btnCancel");
        QCOMPARE(ok->text(), QString("确定(&O)"));
        QCOMPARE(cancel->text(), QString("取消(&C)"));
        QVERIFY(ok->isDefault());
    }

    // Every kind of dialog opens without minimise or maximise button, and
    // all but the file dialog at a size that cannot be changed.
    void dialogsOpenWithACloseButtonOnly_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("fixed");
        QTest::newRow("form") << 0 << true;
        QTest::newRow("message box") << 1 << true;
        QTest::newRow("file dialog") << 2 << false;
    }
    static QDialog* MakeDialog(int kind)
    {
        if (kind == 0)
            return new TFormAddType;
        if (kind == 1)
            return new QMessageBox(QMessageBox::Question, "询问", "文字", QMessageBox::Yes | QMessageBox::No);
        auto* files = new QFileDialog;
        files->setOption(QFileDialog::DontUseNativeDialog);
        return files;
    }
    void dialogsOpenWithACloseButtonOnly()
    {
        QFETCH(int, kind);
        QFETCH(bool, fixed);
        std::unique_ptr<QDialog> dialog(MakeDialog(kind));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QVERIFY(!(dialog->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(dialog->minimumSize() == dialog->maximumSize(), fixed);
        QCOMPARE(dialog->maximumSize(), fixed ? dialog->size() : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    }

    void answersAndTheNameReturned_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("name");
        QTest::newRow("enter is OK") << "工作" << int(Qt::Key_Return) << int(mrOk) << "工作";
        QTest::newRow("blanks kept") << "  a b  " << int(Qt::Key_Enter) << int(mrOk) << "  a b  ";
        QTest::newRow("pasted lines") << "甲\r\n乙\n丙\r" << int(Qt::Key_Return) << int(mrOk) << "甲 乙 丙 ";
        QTest::newRow("escape") << "工作" << int(Qt::Key_Escape) << int(mrCancel) << "";
        QTest::newRow("close box") << "工作" << 0 << int(mrCancel) << "";
    }

    void answersAndTheNameReturned()
    {
        QFETCH(QString, typed);
        QFETCH(int, key);
        QFETCH(int, result);
        QFETCH(QString, name);
        QString position;
        OnNextModal([&](QWidget* dialog) {
            position = Edit(dialog, "edtPos")->text();
            Edit(dialog, "edtName")->setText(typed);
            if (key)
                QTest::keyClick(Edit(dialog, "edtName"), Qt::Key(key));
            else
                dialog->close();
        });
        QString answer = "stale";
        QCOMPARE(AskGroupName("根目录->工作", answer), result);
        QCOMPARE(answer, name);
        QCOMPARE(position, QString("根目录->工作"));
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    // A blank or taken name is refused over the open dialog, which keeps the
    // text for a correction; a free one closes it.
    void refusedNameKeepsTheDialogOpen_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("refusal"); // empty: the name is taken as typed
        const QString blank = "名称不能为空!", taken = "该名称已经存在，请重新输入！";
        QTest::newRow("empty") << "" << blank;
        QTest::newRow("blanks") << "   " << blank;
        QTest::newRow("tab and newline") << "\t \n" << blank;
        QTest::newRow("another group") << "工作" << taken;
        QTest::newRow("the root") << "根目录" << taken;
        QTest::newRow("pasted over lines") << "周\n会" << taken;
        QTest::newRow("free name") << "周 会2" << QString();
        QTest::newRow("case differs") << "Abc" << QString();
    }

    void refusedNameKeepsTheDialogOpen()
    {
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        const bool refused = !refusal.isEmpty();
        TGroupTable groups("NoteType", "根目录");
        groups.Load();
        groups.Add(0, "工作");
        groups.Add(1, "周 会");
        groups.Add(0, "abc");
        bool stayed = false;
        QString kept;
        OnNextModal([&](QWidget* dialog) {
            Edit(dialog, "edtName")->setText(typed);
            dialog->findChild<QPushButton*>("btnOK")->click();
            stayed = dialog->isVisible();
            kept = Edit(dialog, "edtName")->text();
            if (stayed)
                dialog->findChild<QPushButton*>("btnCancel")->click();
        });
        QString answer;
        QCOMPARE(AskGroupName("根目录", answer, &groups), int(refused ? mrCancel : mrOk));
        QCOMPARE(stayed, refused);
        QCOMPARE(kept, typed);
        QCOMPARE(env->Responder.Texts(), refused ? QStringList({refusal}) : QStringList());
        if (refusal == "名称不能为空!")
            QCOMPARE(env->Responder.Shown[0].kind, IDialogResponder::Kind::Info);
        QCOMPARE(groups.Count(), 3);
    }

    void dateKeysInsertAtTheCaret_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("ctrl+d") << int(Qt::ControlModifier) << int(Qt::Key_D) << "2024/2/29";
        QTest::newRow("ctrl+shift+d") << int(Qt::ControlModifier | Qt::ShiftModifier) << int(Qt::Key_D) << "2024/2/29";
        QTest::newRow("ctrl+t") << int(Qt::ControlModifier) << int(Qt::Key_T) << "2024/2/29 07:05:09";
        QTest::newRow("ctrl+alt+t") << int(Qt::ControlModifier | Qt::AltModifier) << int(Qt::Key_T)
                                    << "2024/2/29 07:05:09";
    }

    void dateKeysInsertAtTheCaret()
    {
        QFETCH(int, modifiers);
        QFETCH(int, key);
        QFETCH(QString, stamp);
        TFormAddType dialog;
        dialog.show();
        QLineEdit* name = Edit(&dialog, "edtName");
        name->setText("ab[sel]cd");
        name->setSelection(2, 5);
        QTest::keyClick(name, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(name->text(), "ab" + stamp + "cd");
    }

    void plainLettersAreTyped()
    {
        TFormAddType dialog;
        dialog.show();
        QLineEdit* name = Edit(&dialog, "edtName");
        QTest::keyClicks(name, "dtDT");
        QCOMPARE(name->text(), QString("dtDT"));
    }

    void baseDialogOkDoesNothingByItself()
    {
        TFormBaseDlg dialog;
        QCOMPARE(dialog.size(), QSize(491, 314));
        int result = -1;
        bool stayed = false;
        OnNextModal([&](QWidget* modal) {
            modal->findChild<QPushButton*>("btnOK")->click();
            stayed = modal->isVisible();
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        result = dialog.ShowModal();
        QVERIFY(stayed);
        QCOMPARE(result, int(mrCancel));
    }
};

JOTTEREL_TEST_MAIN(TestAddType)
#include "test_addtype.moc"
