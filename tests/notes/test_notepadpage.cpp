#include "app/SingleInstance.h"
#include "capture/CaptureWiring.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/UntPublic.h"
#include "groups/BaseDlg.h"
#include "groups/UntTree.h"
#include "history/NoteHistory.h"
#include "history/NoteHistoryWiring.h"
#include "history/Trash.h"
#include "history/TrashWiring.h"
#include "notes/UntNote.h"
#include "support/CaptureParts.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAction>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <memory>
#include <sqlite3.h>

// The notepad page driven through its widgets, with the note history,
// the trash and the commands handed to the running program over it.
class TestNotepadPage : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<TPageFixture> form;
    std::unique_ptr<TRegisteredCommands> registered;
    QTreeWidget* tree = nullptr;
    QPlainTextEdit* memo = nullptr;
    QLineEdit* query = nullptr;
    QPushButton* find = nullptr;
    sqlite3* locker = nullptr;

    void Open()
    {
        form = std::make_unique<TPageFixture>();
        new TNoteHistoryWiring(*form->Notepad, form->Memo, form->pmNoteType);
        new TTrashWiring(form.get(), {form->Tabs,
                                      form->NoteTab,
                                      form->BookmarkTab,
                                      form->ReminderTab,
                                      *form->Bookmarks,
                                      *form->Reminders,
                                      form->NoteTree,
                                      form->IETree,
                                      {form->pmNoteType}});
        registered = std::make_unique<TRegisteredCommands>((new TCaptureWiring(CaptureParts(*form)))->Commands());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        tree = form->findChild<QTreeWidget*>("tvNote");
        memo = form->findChild<QPlainTextEdit*>("mmoNote");
        query = form->findChild<QLineEdit*>("edtQuery");
        find = form->findChild<QPushButton*>("btn2");
        baseline = sqlite3_total_changes(DbAccess->Handle());
    }

    // Groups 1 "A", 2 "B" under the root, 3 "A1" under A; notes for the root and B.
    static void Seed()
    {
        DbExecSQL("insert into NoteType(SelfIndex,ParentIndex,TypeName) values (1,0,'A')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (2,0,'B')@#@"
                  "insert into NoteType(SelfIndex,ParentIndex,TypeName) values (3,1,'A1')@#@"
                  "insert into NoteBook(TypeID,ReMark) values (0,'root note')@#@"
                  "insert into NoteBook(TypeID,ReMark) values (2,'note of B\r\nsecond line')");
    }

    QTreeWidgetItem* Node(const QString& label) const { return FindNode(tree, label); }

    void Click(const QString& label)
    {
        QTreeWidgetItem* node = Node(label);
        QVERIFY(node);
        tree->scrollToItem(node);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
    }

    // Clicks a group and puts the caret at the end of its note, as a user would.
    void Edit(const QString& label)
    {
        Click(label);
        QTest::keyClick(memo, Qt::Key_End, Qt::ControlModifier);
    }

    QAction* Action(const char* name) const { return form->findChild<QAction*>(name); }

    // Rows written since the window opened.
    int Changes() const { return sqlite3_total_changes(DbAccess->Handle()) - baseline; }
    int baseline = 0;

    // The group's note rows as stored.
    static QStringList Stored(int typeId)
    {
        DbAccess->OpenQuery2(QString("select ReMark from NoteBook where TypeID=%1").arg(typeId));
        QStringList texts;
        for (DbAccess->QuerySet2->First(); !DbAccess->QuerySet2->Eof(); DbAccess->QuerySet2->Next())
            texts << DbAccess->QuerySet2->AsString("ReMark");
        return texts;
    }

    // Types text as key presses, Chinese and emoji included.
    void Type(const QString& text)
    {
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
        for (qsizetype from = 0, to; (to = characters.toNextBoundary()) > 0; from = to)
            QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_unknown, text.mid(from, to - from), Qt::NoModifier);
    }

    // Another program holds the file: as a writer (nothing can be read or
    // written), or as a reader in a transaction (nothing can be written).
    void Lock(bool readOnly = false)
    {
        QCOMPARE(sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &locker), SQLITE_OK);
        const char* sql = readOnly ? "BEGIN; SELECT count(*) FROM NoteBook" : "BEGIN EXCLUSIVE";
        QCOMPARE(sqlite3_exec(locker, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    }

    QString LogText() const
    {
        QFile log(AppPath() + "Log" + TClock::Now().toString("yyyyMMdd") + ".log");
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

    void Unlock()
    {
        sqlite3_exec(locker, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(locker);
        locker = nullptr;
    }

    void AddGroup(const QString& name, QString* position = nullptr)
    {
        OnNextModal([name, position](QWidget* dialog) {
            if (position)
                *position = dialog->findChild<QLineEdit*>("edtPos")->text();
            auto* edit = dialog->findChild<QLineEdit*>("edtName");
            edit->setText(name);
            QTest::keyClick(edit, Qt::Key_Return);
            // A refused name keeps the dialog open; given up here.
            if (dialog->isVisible())
                QTest::keyClick(dialog, Qt::Key_Escape);
        });
        Action("NAddNoteType")->trigger();
    }

    int Errors() const
    {
        int count = 0;
        for (const auto& shown : env->Responder.Shown)
            count += shown.kind == IDialogResponder::Kind::Error;
        return count;
    }

    // Runs the save that a large note's typing waits for, as its pause would.
    void SaveWaiting()
    {
        auto* timer = Find<QTimer>(form.get(), "noteSaveTimer");
        if (timer->isActive()) {
            timer->stop();
            QMetaObject::invokeMethod(timer, "timeout");
        }
    }

    static void CollectStatement(unsigned, void* list, void*, void* sql)
    {
        static_cast<QStringList*>(list)->append(QString::fromUtf8(static_cast<const char*>(sql)));
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        Seed();
        Open();
    }
    void cleanup()
    {
        if (locker)
            Unlock();
        registered.reset();
        form.reset();
        env.reset();
    }

    void startShowsTheRootNoteAndWritesNothing()
    {
        QCOMPARE(tree->currentItem(), form->NoteTree->RootNode);
        QCOMPARE(memo->toPlainText(), QString("root note"));
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(Changes(), 0);
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    void clicksShowNotesAndWriteNothing()
    {
        Click("B");
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line"));
        Click("A");
        QCOMPARE(memo->toPlainText(), QString());
        QCOMPARE(Stored(1), QStringList());
        // Clicking the group shown already reloads it, still writing nothing.
        Click("A");
        Click("B");
        Click("B");
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line"));
        QCOMPARE(Changes(), 0);
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    void typingCreatesOneRowThenUpdatesIt()
    {
        Click("A");
        QTest::keyClicks(memo, "hi");
        QCOMPARE(Stored(1), QStringList({"hi"}));
        QTest::keyClick(memo, Qt::Key_Return);
        Type("记事 📒");
        QCOMPARE(Stored(1), QStringList({"hi\r\n记事 📒"}));
        // Deleting everything leaves the row with an empty text.
        memo->selectAll();
        QTest::keyClick(memo, Qt::Key_Delete);
        QCOMPARE(Stored(1), QStringList({""}));
        Click("B");
        Click("A");
        QCOMPARE(memo->toPlainText(), QString());
        QCOMPARE(Stored(2), QStringList({"note of B\r\nsecond line"}));
    }

    // Enter and Shift+Enter both store CR LF, wherever they fall.
    void lineBreaksAreStoredAsCrLf_data()
    {
        QTest::addColumn<QString>("keys"); // '|' is Enter, '^' Shift+Enter, the rest typed as it stands
        QTest::addColumn<QString>("stored");
        QTest::newRow("no break") << "abc"
                                  << "abc";
        QTest::newRow("enter") << "a|b"
                               << "a\r\nb";
        QTest::newRow("shift+enter") << "a^b"
                                     << "a\r\nb";
        QTest::newRow("first and last") << "|a^"
                                        << "\r\na\r\n";
        QTest::newRow("several in a row, mixed") << "a|^|b^^c"
                                                 << "a\r\n\r\n\r\nb\r\n\r\nc";
    }

    void lineBreaksAreStoredAsCrLf()
    {
        QFETCH(QString, keys);
        QFETCH(QString, stored);
        Click("A");
        for (const QChar key : keys) {
            if (key == u'|')
                QTest::keyClick(memo, Qt::Key_Return);
            else if (key == u'^')
                QTest::keyClick(memo, Qt::Key_Return, Qt::ShiftModifier);
            else
                QTest::keyClicks(memo, QString(key));
        }
        QCOMPARE(Stored(1), QStringList{stored});
        Click("B");
        Click("A");
        QCOMPARE(memo->toPlainText(), QString(stored).replace("\r\n", "\n"));
    }

    void rootNoteIsGroupZero()
    {
        Click("A");
        Edit("根目录");
        QTest::keyClicks(memo, "!");
        QCOMPARE(Stored(0), QStringList({"root note!"}));
    }

    void memoFollowsTheKeyboard()
    {
        Click("B");
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Up); // A is collapsed: up from B is A
        QCOMPARE(tree->currentItem()->text(0), QString("A"));
        QCOMPARE(memo->toPlainText(), QString());
        QTest::keyClicks(memo, "for A");
        QCOMPARE(Stored(1), QStringList({"for A"}));
        QCOMPARE(Stored(2), QStringList({"note of B\r\nsecond line"}));
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Down);
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line"));
        QTest::keyClick(tree, Qt::Key_Home);
        QCOMPARE(memo->toPlainText(), QString("root note"));
    }

    void programSelectionAlsoLoadsTheNote()
    {
        tree->setCurrentItem(Node("B"));
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line"));
        QTest::keyClick(memo, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(memo, "+");
        QCOMPARE(Stored(2), QStringList({"note of B\r\nsecond line+"}));
        QCOMPARE(Stored(0), QStringList({"root note"}));
    }

    // The history keeps the text from before an editing spell when the
    // spell's ten minutes are up, and the texts before and after it when the
    // group is left; a keystroke writes none (see the next test).
    void versionsAtTheirMoments()
    {
        Seed();
        Open();
        Edit("B");
        Type("1");
        auto* spell = memo->findChild<QTimer*>("tmrNoteVersion");
        QVERIFY(spell);
        QMetaObject::invokeMethod(spell, "timeout");
        Type("2");
        Click("A");
        Click("B"); // nothing typed: nothing kept
        Click("A");
        QStringList versions;
        DbAccess->OpenQuery2("select ID from NoteVersion where TypeID=2 order by ID");
        for (DbAccess->QuerySet2->First(); !DbAccess->QuerySet2->Eof(); DbAccess->QuerySet2->Next())
            versions << TNoteHistory().Text(DbAccess->QuerySet2->AsInteger("ID"));
        QCOMPARE(versions,
                 QStringList({"note of B\r\nsecond line", "note of B\r\nsecond line1", "note of B\r\nsecond line12"}));
    }

    // 恢复此版本 puts the version in the memo as one step of its undo: Ctrl+Z
    // brings the text before back, and each is saved.
    void versionBroughtBackIsUndone()
    {
        QVERIFY(TNoteHistory().Keep(2, "older", TClock::Now().addSecs(-3600)));
        Edit("B");
        Type("!");
        Drive([](QWidget* dialog) { qobject_cast<TFormBaseDlg*>(dialog)->OkButton()->click(); });
        Action("NNoteHistory")->trigger();
        QCOMPARE(memo->toPlainText(), QString("older"));
        SaveWaiting();
        QCOMPARE(Stored(2), QStringList{"older"});
        QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line!"));
        SaveWaiting();
        QCOMPARE(Stored(2), QStringList{"note of B\r\nsecond line!"});
    }

    // Pinyin half typed when the window loses the keyboard (the window
    // hidden by --toggle, another window in front; the exit question in
    // tests/app/test_shell)
    // leaves the memo; what the input method then commits of it never
    // becomes text. Back at the window, a chosen candidate is typed.
    void halfTypedPinyinNeverBecomesText_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("--toggle") << "toggle";
        QTest::newRow("another window in front") << "deactivated";
    }

    void halfTypedPinyinNeverBecomesText()
    {
        QFETCH(QString, how);
        Edit("B");
        const auto preedit = [this] { return memo->textCursor().block().layout()->preeditAreaText(); };
        QInputMethodEvent composing("si ji", {});
        QApplication::sendEvent(memo, &composing);
        QCOMPARE(preedit(), QString("si ji"));
        if (how == "toggle") {
            QApplication::setActiveWindow(form.get());
            QVERIFY(RunningCommands().value("toggle")({}).Done);
            QVERIFY(form->isMinimized()); // hidden into the tray where there is one
        } else {
            QEvent deactivated(QEvent::WindowDeactivate);
            QApplication::sendEvent(form.get(), &deactivated);
        }
        QCOMPARE(preedit(), QString());
        QInputMethodEvent givenUp;
        givenUp.setCommitString("si ji");
        QApplication::sendEvent(memo, &givenUp);
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line"));
        QCOMPARE(Stored(2), QStringList{"note of B\r\nsecond line"});

        form->showNormal();
        QEvent back(QEvent::WindowActivate);
        QApplication::sendEvent(form.get(), &back);
        QInputMethodEvent chosen;
        chosen.setCommitString("，四季");
        QApplication::sendEvent(memo, &chosen);
        QCOMPARE(Stored(2), QStringList{"note of B\r\nsecond line，四季"});
    }

    void keystrokeCostsOnlyTheNoteStatements()
    {
        Click("A");
        QStringList statements;
        sqlite3_trace_v2(
            DbAccess->Handle(), SQLITE_TRACE_STMT,
            [](unsigned m, void* c, void* p, void* x) {
                CollectStatement(m, c, p, x);
                return 0;
            },
            &statements);
        QTest::keyClicks(memo, "y");
        const QStringList insert = statements;
        statements.clear();
        Click("B");
        QStringList click = statements;
        statements.clear();
        QTest::keyClicks(memo, "x");
        const QStringList update = statements;
        statements.clear();
        Click("B");
        const QStringList again = statements;
        sqlite3_trace_v2(DbAccess->Handle(), 0, nullptr, nullptr);
        // A save checks the stored text and writes, in one transaction; a
        // click counts and reads (leaving a note typed in first keeps its
        // text as a version); a click on the note shown only checks it.
        // The change note for sync that the triggers write is part of the save.
        const auto inTransaction = [](QStringList statements) {
            statements.removeIf([](const QString& statement) { return statement.startsWith("--"); });
            return statements.size() == 4 && statements.first() == "BEGIN" && statements.last() == "COMMIT";
        };
        QVERIFY2(inTransaction(update), qPrintable(update.join('|')));
        QVERIFY2(inTransaction(insert), qPrintable(insert.join('|')));
        // The version kept on leaving: its note's versions read, then written in one transaction.
        const qsizetype begin = click.indexOf("BEGIN");
        const qsizetype commit = click.indexOf("COMMIT");
        QVERIFY2(begin > 0 && commit > begin + 1 && click[begin + 1].startsWith("insert into NoteVersion"),
                 qPrintable(click.join('|')));
        for (qsizetype i = 0; i < commit; ++i)
            QVERIFY2(click[i] == "BEGIN" || click[i].contains("NoteVersion"), qPrintable(click[i]));
        click.remove(0, commit + 1);
        QCOMPARE(click.size(), 2);
        QCOMPARE(again.size(), 1);
        for (const QString& statement : update.mid(1, 2) + click + insert.mid(1, 2) + again) {
            QVERIFY2(statement.contains("NoteBook"), qPrintable(statement));
            QVERIFY2(!statement.contains("NoteType"), qPrintable(statement));
        }
    }

    void dateKeysInsertAndSave_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("ctrl+d") << int(Qt::ControlModifier) << int(Qt::Key_D) << "2025/3/4";
        QTest::newRow("ctrl+shift+d") << int(Qt::ControlModifier | Qt::ShiftModifier) << int(Qt::Key_D) << "2025/3/4";
        QTest::newRow("ctrl+t") << int(Qt::ControlModifier) << int(Qt::Key_T) << "2025/3/4 21:08:07";
    }

    void dateKeysInsertAndSave()
    {
        QFETCH(int, modifiers);
        QFETCH(int, key);
        QFETCH(QString, stamp);
        TClock::Set(QDateTime(QDate(2025, 3, 4), QTime(21, 8, 7)));
        Click("A");
        QTest::keyClicks(memo, "abXYcd");
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(2);
        cursor.setPosition(4, QTextCursor::KeepAnchor);
        memo->setTextCursor(cursor);
        QTest::keyClick(memo, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(memo->toPlainText(), "ab" + stamp + "cd");
        QCOMPARE(Stored(1), QStringList({"ab" + stamp + "cd"}));
    }

    void findRunsThroughAllMatches_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("what");
        QTest::addColumn<QList<int>>("starts"); // selection start per press, -1: caret to the top
        QTest::newRow("latin case folds") << "abcABCabc"
                                          << "bc" << QList<int>{1, 4, 7, -1, 1};
        QTest::newRow("upper query") << "abcABCabc"
                                     << "BC" << QList<int>{1, 4, 7, -1};
        QTest::newRow("chinese") << "中文中文"
                                 << "文" << QList<int>{1, 3, -1, 1};
        QTest::newRow("accents keep case") << "Éé"
                                           << "é" << QList<int>{1, -1, 1};
        QTest::newRow("greek keeps case") << "ΣΣσ"
                                          << "σ" << QList<int>{2, -1};
        QTest::newRow("across lines") << "ab\ncd\nab"
                                      << "b" << QList<int>{1, 7, -1};
        QTest::newRow("absent") << "abc"
                                << "x" << QList<int>{-1, -1};
        QTest::newRow("empty query") << "abc"
                                     << "" << QList<int>{-1};
    }

    void findRunsThroughAllMatches()
    {
        QFETCH(QString, text);
        QFETCH(QString, what);
        QFETCH(QList<int>, starts);
        Click("A");
        memo->insertPlainText(text);
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(1);
        cursor.setPosition(2, QTextCursor::KeepAnchor);
        memo->setTextCursor(cursor);
        cursor.setPosition(0);
        memo->setTextCursor(cursor);
        query->setText(what);
        for (int start : starts) {
            QTest::mouseClick(find, Qt::LeftButton);
            const QTextCursor now = memo->textCursor();
            if (start < 0) {
                QCOMPARE(now.position(), 0);
                QVERIFY(!now.hasSelection());
            } else {
                QCOMPARE(now.selectionStart(), start);
                QCOMPARE(now.selectedText(), text.mid(start, what.size()));
                QVERIFY(memo->hasFocus());
            }
        }
        QCOMPARE(Stored(1), QStringList({QString(text).replace("\n", "\r\n")}));
    }

    void findStartsAfterTheSelection()
    {
        Click("A");
        memo->insertPlainText("aaaa");
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(2, QTextCursor::KeepAnchor);
        memo->setTextCursor(cursor);
        query->setText("a");
        QTest::mouseClick(find, Qt::LeftButton);
        QCOMPARE(memo->textCursor().selectionStart(), 2);
        // An empty text moves the caret to the top and selects nothing.
        query->clear();
        QTest::mouseClick(find, Qt::LeftButton);
        QCOMPARE(memo->textCursor().position(), 0);
        QVERIFY(!memo->textCursor().hasSelection());
    }

    // Ctrl+F from the memo puts the caret in the find box, and Enter there finds.
    void ctrlFAndEnterInTheFindBox()
    {
        Click("B");
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(3);
        memo->setTextCursor(cursor);
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(query->hasFocus());
        QTest::keyClicks(query, "second");
        QTest::keyClick(query, Qt::Key_Return);
        QCOMPARE(memo->textCursor().selectedText(), QString("second"));
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    // A text found nowhere in the note is said so and the caret stays; one
    // found only before the caret still starts over at the top, silently.
    void findNothingInTheWholeNoteSaysSo()
    {
        Click("B");
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(5);
        memo->setTextCursor(cursor);
        query->setText("absent");
        QTest::mouseClick(find, Qt::LeftButton);
        QCOMPARE(env->Responder.Texts(), QStringList{"找不到“absent”。"});
        QCOMPARE(memo->textCursor().position(), 5);
        query->setText("NOTE");
        QTest::mouseClick(find, Qt::LeftButton);
        QCOMPARE(memo->textCursor().position(), 0);
        QCOMPARE(env->Responder.Shown.size(), 1);
    }

    void addingAGroupSelectsItWithAnEmptyMemo()
    {
        Click("A");
        QTest::keyClicks(memo, "a");
        QString position;
        AddGroup("新组", &position);
        QCOMPARE(position, QString("根目录->A"));
        QTreeWidgetItem* added = tree->currentItem();
        QCOMPARE(added->text(0), QString("新组"));
        QCOMPARE(added->parent(), Node("A"));
        QCOMPARE(TCardTree::SelfIndexOf(added), 4);
        QCOMPARE(memo->toPlainText(), QString());
        QCOMPARE(Stored(4), QStringList());
        QTest::keyClicks(memo, "n");
        QCOMPARE(Stored(4), QStringList({"n"}));
        QCOMPARE(Stored(1), QStringList({"a"}));
    }

    void cancelledOrDuplicateAddChangesNothing()
    {
        Click("B");
        OnNextModal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
        Action("NAddNoteType")->trigger();
        AddGroup("A1");
        QCOMPARE(env->Responder.Texts(), QStringList({"该名称已经存在，请重新输入！"}));
        QCOMPARE(tree->currentItem(), Node("B"));
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line"));
        QCOMPARE(Changes(), 0);
    }

    void renameEditsInPlace()
    {
        Click("B");
        // Read-only outside the rename item, which F2 runs too.
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(Node("B")).center());
        QVERIFY(!tree->findChild<QLineEdit*>());
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_F2);
        auto* editor = tree->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText("乙 'B'");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(Node("乙 'B'"), tree->currentItem());
        DbAccess->OpenQuery2("select TypeName from NoteType where SelfIndex=2");
        QCOMPARE(DbAccess->QuerySet2->AsString("TypeName"), QString("乙 'B'"));
        QTRY_VERIFY(!form->NoteTree->IsEditing());
        QVERIFY(!(Node("乙 'B'")->flags() & Qt::ItemIsEditable));
    }

    void renameToTheSameOrADuplicateName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("same text") << "B"
                                   << "";
        QTest::newRow("other group") << "A1"
                                     << "该名称已经存在，请重新输入！";
        QTest::newRow("root caption") << "根目录"
                                      << "该名称已经存在，请重新输入！";
    }

    void renameToTheSameOrADuplicateName()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        Click("B");
        Action("NModNoteType")->trigger();
        auto* editor = tree->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!form->NoteTree->IsEditing());
        QCOMPARE(env->Responder.LastText(), message);
        QCOMPARE(tree->currentItem()->text(0), QString("B"));
        QCOMPARE(Changes(), 0);
    }

    void renameOnTheRootDoesNothing()
    {
        Action("NModNoteType")->trigger();
        QVERIFY(!form->NoteTree->IsEditing());
        QVERIFY(!tree->findChild<QLineEdit*>());
    }

    // Nothing highlighted, as a user leaves it: the tree has the focus (so a
    // current group with a focus frame) and Ctrl+click took the highlight away.
    void groupMenuWithoutSelectionDoesNothing()
    {
        Click("B");
        form->activateWindow();
        tree->setFocus();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          tree->visualItemRect(Node("B")).center());
        QCOMPARE(tree->currentItem(), Node("B"));
        QVERIFY(tree->selectedItems().isEmpty());
        TNoModalGuard guard;
        Action("NAddNoteType")->trigger();
        Action("NModNoteType")->trigger();
        Action("NDelNoteType")->trigger();
        QVERIFY(!guard.Opened());
        QVERIFY(!form->NoteTree->IsEditing());
        QVERIFY(env->Responder.Shown.isEmpty());
        QCOMPARE(Changes(), 0);
        // The memo still belongs to B.
        QTest::keyClick(memo, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClicks(memo, "?");
        QCOMPARE(Stored(2), QStringList({"?note of B\r\nsecond line"}));
    }

    void deleteRemovesTheGroupAndItsNotes()
    {
        Click("B");
        QTest::keyClicks(memo, "!");
        env->Responder.Answers = {true};
        Action("NDelNoteType")->trigger();
        QCOMPARE(env->Responder.Texts(),
                 QStringList({"确定要删除 B 分组吗？（其中 1 篇记事也将被删除）" + QString(kTrashNotice)}));
        QVERIFY(!Node("B"));
        QCOMPARE(DbGetIntValue("select count(*) from NoteType where SelfIndex=2"), 0);
        QCOMPARE(Stored(2), QStringList());
        // The neighbour is shown, and typing goes there.
        QTreeWidgetItem* shown = tree->currentItem();
        QVERIFY(shown);
        const int group = TCardTree::SelfIndexOf(shown);
        QCOMPARE(memo->toPlainText(), group == 0 ? QString("root note") : QString());
        QTest::keyClicks(memo, "#");
        QCOMPARE(Stored(2), QStringList());
        QCOMPARE(Stored(group).value(0).left(1), QString("#"));
        // 回收站 puts it back with its note, selected and shown.
        Drive([](QWidget* trash) { ::Click(trash, "btnOK"); });
        Action("NTrash")->trigger();
        QCOMPARE(tree->currentItem(), Node("B"));
        QVERIFY(memo->toPlainText().startsWith("!note of B"));
    }

    void reusedNumberStartsWithoutNotes()
    {
        Click("A1");
        QTest::keyClicks(memo, "old");
        env->Responder.Answers = {true};
        Action("NDelNoteType")->trigger();
        Click("A");
        AddGroup("A2");
        QCOMPARE(TCardTree::SelfIndexOf(tree->currentItem()), 3);
        QCOMPARE(memo->toPlainText(), QString());
        QCOMPARE(Stored(3), QStringList());
    }

    void deleteAnsweredNoOrRefusedChangesNothing()
    {
        Click("B");
        Action("NDelNoteType")->trigger(); // no answer given: No
        QVERIFY(Node("B"));
        // A group with groups under it names them in the question.
        Click("A");
        Action("NDelNoteType")->trigger();
        QCOMPARE(env->Responder.LastText(),
                 QString("确定要删除 A 分组吗？（其中 1 个下级分组也将被删除）") + QString(kTrashNotice));
        QCOMPARE(tree->currentItem(), Node("A"));
        QCOMPARE(Changes(), 0);
        QTest::keyClicks(memo, "a");
        QCOMPARE(Stored(1), QStringList({"a"}));
    }

    void failingNoteDeleteKeepsTheGroup()
    {
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (1,'x')");
        sqlite3_exec(DbAccess->Handle(),
                     "CREATE TRIGGER keep BEFORE DELETE ON NoteBook BEGIN SELECT RAISE(ABORT, 'refused'); END", nullptr,
                     nullptr, nullptr);
        Edit("B");
        env->Responder.Answers = {true};
        Action("NDelNoteType")->trigger();
        QCOMPARE(Errors(), 1);
        QVERIFY(Node("B"));
        QCOMPARE(DbGetIntValue("select count(*) from NoteType where SelfIndex=2"), 1);
        QCOMPARE(Stored(2), QStringList({"note of B\r\nsecond line"}));
        QCOMPARE(tree->currentItem(), Node("B"));
        QTest::keyClicks(memo, "+");
        QCOMPARE(Stored(2), QStringList({"note of B\r\nsecond line+"}));
    }

    // One box per episode of failure, saying that the text is still in the
    // memo, and logged; the text is saved once the file is free again.
    void failedSaveKeepsTheTextUntilItCanBeWritten_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("details");
        QTest::addColumn<QString>("statement");
        QTest::newRow("read lock") << "read"
                                   << "数据库操作失败！"
                                   << "database is locked"
                                   << "update";
        QTest::newRow("write lock") << "lock"
                                    << "数据库查询错误，请检查！"
                                    << "database is locked"
                                    << "select";
        QTest::newRow("table gone") << "rename"
                                    << "数据库查询错误，请检查！"
                                    << "no such table: NoteBook"
                                    << "select";
    }

    void failedSaveKeepsTheTextUntilItCanBeWritten()
    {
        QFETCH(QString, how);
        QFETCH(QString, message);
        QFETCH(QString, details);
        QFETCH(QString, statement);
        Edit("B");
        const auto fail = [&] {
            if (how == "rename")
                DbExecSQL("alter table NoteBook rename to Away");
            else
                Lock(how == "read");
        };
        const auto heal = [&] {
            if (how == "rename")
                DbExecSQL("alter table Away rename to NoteBook");
            else
                Unlock();
        };
        fail();
        QTest::keyClicks(memo, "1");
        QCOMPARE(Errors(), 1);
        const QString shown = message + "\r\n记事内容仍在窗口中，尚未保存。\r\n详细信息：" + details;
        QCOMPARE(env->Responder.LastText(), shown);
        QVERIFY2(LogText().contains(shown + "\r\n" + statement), qPrintable(LogText()));
        QTest::keyClicks(memo, "23");
        QCOMPARE(Errors(), 1);
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line123"));
        // Saved by the tick once the file is free, without another key.
        heal();
        form->Tick();
        QCOMPARE(Stored(2), QStringList({"note of B\r\nsecond line123"}));
        QCOMPARE(Errors(), 1);
        // A new episode is reported again.
        fail();
        QTest::keyClicks(memo, "4");
        QCOMPARE(Errors(), 2);
        heal();
        QTest::keyClicks(memo, "5");
        QCOMPARE(Stored(2), QStringList({"note of B\r\nsecond line12345"}));
        QCOMPARE(Errors(), 2);
    }

    // The last save before the program ends tries once more; text that
    // still cannot be saved keeps the program open unless a question, whose
    // default is No, is answered Yes.
    void closingRetriesTheUnsavedText_data()
    {
        QTest::addColumn<bool>("stillLocked");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<bool>("closes");
        QTest::newRow("lock gone") << false << QList<bool>{} << true;
        QTest::newRow("still locked, default answer") << true << QList<bool>{} << false;
        QTest::newRow("still locked, closed anyway") << true << QList<bool>{true} << true;
    }

    void closingRetriesTheUnsavedText()
    {
        QFETCH(bool, stillLocked);
        QFETCH(QList<bool>, answers);
        QFETCH(bool, closes);
        Click("A");
        Lock(true);
        QTest::keyClicks(memo, "typed");
        QCOMPARE(Errors(), 1);
        if (!stillLocked)
            Unlock();
        env->Responder.Answers = answers;
        QCOMPARE(form->Notepad->SaveNoteBeforeExit(), closes);
        QStringList asked = env->Responder.Texts().mid(1);
        if (stillLocked) {
            QCOMPARE(asked.size(), 1);
            QVERIFY2(asked[0].startsWith("记事内容未能保存：database is locked\r\n"), qPrintable(asked[0]));
            QCOMPARE(env->Responder.Shown.last().kind, IDialogResponder::Kind::Question);
            QCOMPARE(LogText().count("记事内容仍在窗口中"), 2);
            Unlock();
        } else {
            QCOMPARE(asked, QStringList());
        }
        QCOMPARE(Stored(1), stillLocked ? QStringList() : QStringList({"typed"}));
        if (!closes) {
            QCOMPARE(memo->toPlainText(), QString("typed"));
            QTest::keyClicks(memo, "!");
            QCOMPARE(Stored(1), QStringList({"typed!"}));
        }
    }

    void unsavedTextIsNotLeftBehindWhenSwitching()
    {
        // Boxes run the event loop while they are open, as a real one does.
        struct TSpinningResponder : TPresetResponder
        {
            bool Message(Kind kind, const QString& caption, const QString& text) override
            {
                QCoreApplication::processEvents();
                return TPresetResponder::Message(kind, caption, text);
            }
        } responder;
        SetDialogResponder(&responder);
        const auto errors = [&] { return responder.Shown.size(); };
        Click("A");
        Lock();
        QTest::keyClicks(memo, "typed");
        QCOMPARE(errors(), 1); // one report for the lock, not one per keystroke
        // Leaving the group tries to save it first; the memo keeps the text and
        // the tree returns to the group the text belongs to.
        Click("B");
        QTRY_COMPARE(errors(), 2);
        QCOMPARE(memo->toPlainText(), QString("typed"));
        QCOMPARE(tree->currentItem(), Node("A"));
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>({Node("A")}));
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Down);
        QTRY_COMPARE(errors(), 3);
        QCOMPARE(tree->currentItem(), Node("A"));
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>({Node("A")}));
        Unlock();
        Click("B");
        QCoreApplication::processEvents();
        QCOMPARE(errors(), 3);
        QCOMPARE(Stored(1), QStringList({"typed"}));
        QCOMPARE(memo->toPlainText(), QString("note of B\nsecond line"));
        QCOMPARE(tree->currentItem(), Node("B"));
        SetDialogResponder(&env->Responder);
    }

    void clickOnTheCurrentGroupRetriesTheSave()
    {
        Click("A");
        Lock();
        QTest::keyClicks(memo, "z");
        Unlock();
        Click("A");
        QCOMPARE(Errors(), 1);
        QCOMPARE(Stored(1), QStringList({"z"}));
    }

    void textsRoundTripThroughTheMemo_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("stored");
        QTest::newRow("quotes") << "it's \"x\" ''"
                                << "it's \"x\" ''";
        QTest::newRow("separator and sql") << "a@#@b'); drop table NoteBook; --"
                                           << "a@#@b'); drop table NoteBook; --";
        QTest::newRow("line breaks") << "one\ntwo\n\nend\n"
                                     << "one\r\ntwo\r\n\r\nend\r\n";
        QTest::newRow("windows breaks pasted") << "one\r\ntwo"
                                               << "one\r\ntwo";
        QTest::newRow("emoji") << "👍🏽 记事 ✓"
                               << "👍🏽 记事 ✓";
        QTest::newRow("no-break space") << QString("a\u00a0b") << QString("a\u00a0b");
        const QString line = QString(79, QChar(u'文')) + "\n";
        QTest::newRow("one megabyte") << line.repeated(13300) << QString(line).replace("\n", "\r\n").repeated(13300);
    }

    void textsRoundTripThroughTheMemo()
    {
        QFETCH(QString, pasted);
        QFETCH(QString, stored);
        Click("A");
        memo->insertPlainText(pasted);
        SaveWaiting();
        QCOMPARE(Stored(1), QStringList({stored}));
        // After a restart the text comes back and an edit that restores it
        // writes exactly the same text.
        form.reset();
        Open();
        Click("A");
        QTextCursor cursor = memo->textCursor();
        cursor.movePosition(QTextCursor::End);
        memo->setTextCursor(cursor);
        const int before = Changes();
        Click("A");
        QCOMPARE(Changes(), before);
        QTest::keyClicks(memo, "x");
        QTest::keyClick(memo, Qt::Key_Backspace);
        QCOMPARE(Stored(1), QStringList({stored}));
    }

    // A save failing while the user types is shown beside the window, not
    // in a modal box: the keys typed next still reach the memo.
    void keysAfterAFailedSaveStayInTheMemo()
    {
        Click("A");
        memo->setFocus();
        Lock();
        SetDialogResponder(nullptr);
        TNoModalGuard guard;
        QTest::keyClicks(memo, "a");
        const bool modal = guard.Opened();
        for (const char key : {'b', 'c'})
            QTest::keyClick(memo->window()->windowHandle(), key);
        const auto boxes = form->findChildren<QMessageBox*>();
        SetDialogResponder(&env->Responder);
        QVERIFY(!modal);
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes.first()->isVisible());
        QVERIFY2(boxes.first()->text().contains("记事内容仍在窗口中"), qPrintable(boxes.first()->text()));
        boxes.first()->close();
        QCOMPARE(memo->toPlainText(), QString("abc"));
        Unlock();
        form->Tick();
        QCOMPARE(Stored(1), QStringList{"abc"});
    }

    // Text another writer stored since the note was shown stays, below the
    // typed text, and the user is told once.
    void anotherWritersTextIsKept()
    {
        Edit("B");
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(DbAccess->DatabasePath().toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "update NoteBook set ReMark='theirs' where TypeID=2", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(other);
        QTest::keyClicks(memo, "!");
        const QString both = "note of B\r\nsecond line!" + kNoteConflictLine + "theirs";
        QCOMPARE(Stored(2), QStringList{both});
        QCOMPARE(memo->toPlainText(), QString(both).replace("\r\n", "\n"));
        QCOMPARE(memo->textCursor().position(), QString("note of B\nsecond line!").size());
        QTest::keyClicks(memo, "?");
        QCOMPARE(Stored(2), QStringList{QString(both).insert(both.indexOf('!') + 1, '?')});
        QCOMPARE(env->Responder.Shown.size(), 1);
        QVERIFY(env->Responder.LastText().contains("两份内容都已保留"));
    }

    // A large note's typing is written together, and before the memo shows
    // another note.
    void largeNoteTypingIsSavedTogether()
    {
        const QString large = QString(QString("长").repeated(98) + "\r\n").repeated(11000);
        DbExecSQL("insert into NoteBook(TypeID,ReMark) values (1,'" + large + "')");
        Edit("A");
        QTest::keyClicks(memo, "xy");
        QVERIFY(Find<QTimer>(form.get(), "noteSaveTimer")->isActive());
        QCOMPARE(Stored(1), QStringList{large});
        Click("B");
        QCOMPARE(Stored(1), QStringList{large + "xy"});
        QVERIFY(!Find<QTimer>(form.get(), "noteSaveTimer")->isActive());
    }

    void shiftEnterIsALineBreakToo()
    {
        Click("A");
        QTest::keyClicks(memo, "a");
        QTest::keyClick(memo, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(memo, "b");
        QCOMPARE(Stored(1), QStringList({"a\r\nb"}));
    }

    void everyTextIsThereAfterARestart()
    {
        Click("A");
        QTest::keyClicks(memo, "for A");
        Click("A1");
        QTest::keyClicks(memo, "for A1");
        AddGroup("C");
        QTest::keyClicks(memo, "for C");
        form.reset();
        Open();
        QCOMPARE(memo->toPlainText(), QString("root note"));
        for (const QString group : {"A", "A1", "C"}) {
            Click(group == "A1" ? "A" : group);
            if (group == "A1") {
                Node("A")->setExpanded(true);
                Click("A1");
            }
            QCOMPARE(memo->toPlainText(), "for " + group);
        }
    }
};

JOTTEREL_TEST_MAIN(TestNotepadPage)
#include "test_notepadpage.moc"
