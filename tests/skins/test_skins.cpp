#include "app/Main.h"
#include "app/SingleInstance.h"
#include "bookmarks/AddIE.h"
#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"
#include "controls/Contrast.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/UntPublic.h"
#include "history/NoteHistory.h"
#include "history/NoteHistoryDlg.h"
#include "reminders/AddAlam.h"
#include "reminders/Chime.h"
#include "reminders/ShowAlam.h"
#include "reminders/UntAlam.h"
#include "search/SearchWiring.h"
#include "skins/SkinLook.h"
#include "skins/SkinSettings.h"
#include "skins/Skins.h"
#include "support/PageFixture.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

// As Qt builds a tray icon's message where the desktop shows none of its
// own (an XEmbed tray): its labels measured before they join it, on a light
// yellow of its own that no skin changes. A skin's style sheet reaches it
// by this class name.
class QBalloonTip : public QWidget
{
    Q_OBJECT
public:
    QBalloonTip() : QWidget(nullptr, Qt::ToolTip)
    {
        auto* title = new QLabel("Jotterel");
        auto* message = new QLabel("已添加到记事“根目录”：四季会议");
        message->sizeHint();
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(title);
        layout->addWidget(message);
        QPalette own = palette();
        own.setColor(QPalette::Window, Ground);
        own.setColor(QPalette::WindowText, Qt::black);
        setPalette(own);
    }
    const QColor Ground{0xff, 0xff, 0xe1};
};

namespace {
TAlam Alam;
TIE IE;

// Every pair of text and ground colours a control draws with, in each of
// its states, that reads below the least contrast; one line each.
class TContrastWalk
{
public:
    QStringList Faults;

    void Control(const QWidget* widget, const QString& where)
    {
        const QString name = where + "/" + widget->metaObject()->className() + "#" + widget->objectName();
        Pair(widget, name, widget->foregroundRole(), widget->backgroundRole());
        const bool view = qobject_cast<const QAbstractItemView*>(widget);
        const bool edit = view || qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
                          qobject_cast<const QPlainTextEdit*>(widget) ||
                          qobject_cast<const QAbstractSpinBox*>(widget) || qobject_cast<const QComboBox*>(widget) ||
                          qobject_cast<const QMenu*>(widget);
        if (edit) {
            Pair(widget, name, QPalette::Text, QPalette::Base);
            Pair(widget, name, QPalette::PlaceholderText, QPalette::Base);
            Pair(widget, name, QPalette::HighlightedText, QPalette::Highlight);
        }
        if (view && static_cast<const QAbstractItemView*>(widget)->alternatingRowColors())
            Pair(widget, name, QPalette::Text, QPalette::AlternateBase);
        if (qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QHeaderView*>(widget) ||
            qobject_cast<const QTabBar*>(widget) || qobject_cast<const QComboBox*>(widget)) {
            Pair(widget, name, QPalette::ButtonText, QPalette::Button);
            Pair(widget, name, QPalette::WindowText, QPalette::Window);
        }
    }

    // The shown controls of a window and of the window itself.
    void Window(const QWidget* window, const QString& where)
    {
        Control(window, where);
        for (const QWidget* widget : window->findChildren<QWidget*>())
            if (widget->isVisible())
                Control(widget, where);
    }

    void Colours(const QString& name, const QColor& text, const QColor& ground)
    {
        const double ratio = ContrastRatio(text, ground);
        if (ratio < kMinTextContrast)
            Faults << QString("%1: %2 on %3 is %4").arg(name, text.name(), ground.name()).arg(ratio, 0, 'f', 2);
    }

private:
    void Pair(const QWidget* widget, const QString& name, QPalette::ColorRole text, QPalette::ColorRole ground)
    {
        const QPalette palette = widget->palette();
        static const char* const groups[] = {"active", "disabled", "inactive"};
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Disabled, QPalette::Inactive})
            Colours(QString("%1 %2 %3/%4").arg(name, groups[group]).arg(int(text)).arg(int(ground)),
                    palette.color(group, text), palette.color(group, ground));
    }
};

// The most a pixel of the area stands out from the colour.
double MostContrast(const QImage& image, const QRect& area, const QColor& colour)
{
    double most = 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            most = std::max(most, ContrastRatio(image.pixelColor(x, y), colour));
    return most;
}

// A check box stands out from the window unticked, and its tick from the
// box ticked.
void CheckBoxes(TContrastWalk& walk)
{
    QWidget window;
    auto* box = new QCheckBox("开机自动运行", &window);
    window.show();
    for (bool ticked : {false, true}) {
        box->setChecked(ticked);
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        const QImage drawn = box->grab().toImage();
        const QPalette& palette = box->palette();
        const double ratio = ticked
                                 ? MostContrast(drawn, indicator.adjusted(3, 3, -3, -3), palette.color(QPalette::Base))
                                 : MostContrast(drawn, indicator, palette.color(QPalette::Window));
        if (ratio < kMinTextContrast)
            walk.Faults << QString("check box %1: %2").arg(ticked ? "ticked" : "unticked").arg(ratio, 0, 'f', 2);
    }
}

void AddReminder(const QTime& time, const QString& text)
{
    Alam.AlamTime = time;
    Alam.AlamDate = TClock::Today();
    Alam.ReDay = false;
    Alam.ReMark = text;
    Alam.InsertAlam();
}
} // namespace

class TestSkins : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    QString startStyle;
    QPalette startPalette;

    QString UserSkin(const QString& name, const QByteArray& sheet)
    {
        const QString folder = env->Path("xdg/jotterel/skins");
        QDir().mkpath(folder);
        QFile file(folder + "/" + name + ".qss");
        file.open(QIODevice::WriteOnly);
        file.write(sheet);
        return file.fileName();
    }

    // The pages with the search over them: a missed (red) and a seen (blue)
    // reminder and three striped bookmarks.
    struct TFilledPages : TPageFixture
    {
        TSearchWiring Search{this, Targets()};
    };
    std::unique_ptr<TFilledPages> FilledWindow()
    {
        TClock::Set(QDateTime(QDate(2026, 3, 4), QTime(9, 0, 0)));
        AddReminder(QTime(8, 0, 0), "错过");
        AddReminder(QTime(8, 30, 0), "看过");
        Alam.MarkAlamSeen("2");
        for (const char* title : {"a", "b", "c"})
            DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(0,'u','%s','') ", {title}));
        auto form = std::make_unique<TFilledPages>();
        form->show();
        return form;
    }

    // The reminder list's red and blue rows, and the grid's stripes as drawn.
    static void StatusAndStripes(QWidget& form, TContrastWalk& walk)
    {
        auto* list = OnShownPage<QTreeWidget>(&form, "lv1");
        const QColor ground = list->palette().color(QPalette::Active, QPalette::Base);
        for (int row : {0, 1})
            walk.Colours(QString("status row %1").arg(row), list->topLevelItem(row)->foreground(2).color(), ground);
        QCOMPARE(list->topLevelItem(0)->foreground(2).color().hue(), 0);
        QCOMPARE(list->topLevelItem(1)->foreground(2).color().hue(), 240);
        auto* grid = OnShownPage<TCardDBGrid>(&form, "DBGrid1");
        grid->setColumnWidth(1, 200);
        const QImage image = grid->viewport()->grab().toImage();
        const QColor text = grid->palette().color(QPalette::Active, QPalette::Text);
        for (int row : {1, 2}) {
            const QRect cell = grid->visualRect(grid->model()->index(row, 1));
            walk.Colours(QString("grid stripe %1").arg(row), text,
                         image.pixelColor(cell.right() - 3, cell.center().y()));
        }
    }

private slots:
    void initTestCase()
    {
        startStyle = QApplication::style()->name();
        startPalette = QApplication::palette();
    }
    void init()
    {
        env = std::make_unique<TTestEnv>();
        qputenv("XDG_DATA_HOME", env->Path("xdg").toUtf8());
        SetChimePlayer([](const QUrl&) {});
    }
    void cleanup()
    {
        ApplySkin(kSystemSkin);
        SetChimePlayer(nullptr);
        qunsetenv("XDG_DATA_HOME");
        env.reset();
    }

    // Each page's shown controls, the dialogs, the menus, a tooltip, a
    // message box and an alert: every text readable in each bundled skin.
    void bundledSkinsKeepEveryTextReadable_data()
    {
        QTest::addColumn<QString>("skin");
        QTest::newRow("浅色") << kLightSkin;
        QTest::newRow("深色") << kDarkSkin;
    }
    void bundledSkinsKeepEveryTextReadable()
    {
        QFETCH(QString, skin);
        ApplySkin(skin);
        QCOMPARE(CurrentSkin(), skin);
        const auto form = FilledWindow();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        TContrastWalk walk;
        auto* tabs = Find<QTabWidget>(form.get(), "pgcMain");
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QCoreApplication::processEvents();
            walk.Window(form.get(), tabs->tabText(page));
            const QStringList cut = ControlsWithCutText();
            QVERIFY2(cut.isEmpty(), qPrintable(cut.join(' ')));
        }
        // The window's own controls around the pages (开机运行, 软件设置).
        const std::unique_ptr<QWidget> frame = MainWindowForm();
        frame->show();
        walk.Window(frame.get(), "window");
        frame->hide();
        StatusAndStripes(*form, walk);
        // The search's results, a match highlighted.
        auto* field = Find<QLineEdit>(form.get(), "edtSearch");
        field->setFocus();
        QTest::keyClicks(field, "b");
        QMetaObject::invokeMethod(Find<QTimer>(form.get(), "tmrSearch"), "timeout");
        QTRY_VERIFY(form->findChild<QTreeView*>("tvSearchResults") &&
                    form->findChild<QTreeView*>("tvSearchResults")->isVisible());
        QVERIFY(form->findChild<QTreeView*>("tvSearchResults")->model()->rowCount() > 0);
        walk.Window(form.get(), "search");
        for (QMenu* menu : form->findChildren<QMenu*>())
            walk.Control(menu, "menu");
        QToolTip::showText(form->geometry().center(), "提示", form.get());
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->inherits("QTipLabel"))
                walk.Control(top, "tooltip");
        QToolTip::hideText();
        QMessageBox box(QMessageBox::Warning, "Jotterel", "确定要删除吗？", QMessageBox::Yes | QMessageBox::No);
        box.show();
        walk.Window(&box, "message box");
        QPointer<TFormShowAlam> alert = ShowAlamAlert("1", "开会", false);
        walk.Window(alert, "alert");
        walk.Colours("alert memo", alert->findChild<QTextEdit*>("mmo1")->palette().color(QPalette::Text),
                     alert->findChild<QTextEdit*>("mmo1")->palette().color(QPalette::Base));
        delete alert.data();
        TFormAddAlam reminder(Alam);
        reminder.show();
        walk.Window(&reminder, "reminder dialog");
        TFormAddIE bookmark(IE);
        bookmark.show();
        walk.Window(&bookmark, "bookmark dialog");
        TFormSkinSettings settings;
        settings.show();
        walk.Window(&settings, "外观");
        // The lines of an earlier version marked on light grounds.
        TNoteHistory history;
        QVERIFY(history.Keep(1, "同一行\n旧的一行", QDateTime(QDate(2026, 3, 1), QTime(9, 0))));
        TFormNoteHistory versions(history, 1, "同一行\n新的一行");
        versions.show();
        walk.Window(&versions, "历史版本");
        const auto* shown = Find<QTextEdit>(&versions, "mmoVersion");
        int marks = 0;
        for (QTextBlock block = shown->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                if (!format.hasProperty(QTextFormat::BackgroundBrush))
                    continue;
                ++marks;
                const QColor text = format.hasProperty(QTextFormat::ForegroundBrush)
                                        ? format.foreground().color()
                                        : shown->palette().color(QPalette::Text);
                walk.Colours("历史版本 " + it.fragment().text(), text, format.background().color());
            }
        }
        QCOMPARE(marks, 2);
        CheckBoxes(walk);
        QBalloonTip message;
        message.show();
        for (const QLabel* label : message.findChildren<QLabel*>())
            walk.Colours("tray message " + label->text(), label->palette().color(QPalette::WindowText), message.Ground);
        QVERIFY2(walk.Faults.isEmpty(), qPrintable(walk.Faults.join('\n')));
    }

    // A skin chosen while windows are open reaches them at once, the alert's
    // own colours and the list's status colours included; 跟随系统 brings
    // the desktop's style and colours back.
    void skinReachesOpenWindowsAndGoesBack()
    {
        const auto form = FilledWindow();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        // Not the missed reminder's: with its alert open it is no longer missed.
        QPointer<TFormShowAlam> alert = ShowAlamAlert("3", "开会", false);
        OnShownPage<QTreeWidget>(form.get(), "lv1"); // its rows coloured before the switch
        OnShownPage<TCardDBGrid>(form.get(), "DBGrid1");
        ApplySkin(kDarkSkin);
        const QPalette dark = BundledSkinPalette(kDarkSkin);
        QCOMPARE(form->palette().color(QPalette::Window), dark.color(QPalette::Window));
        TContrastWalk walk;
        walk.Window(form.get(), "main window");
        walk.Window(alert, "alert");
        auto* memo = alert->findChild<QTextEdit*>("mmo1");
        walk.Colours("alert memo", memo->palette().color(QPalette::Text), dark.color(QPalette::Base));
        QCOMPARE(memo->palette().color(QPalette::Text).hue(), 0);
        StatusAndStripes(*form, walk);
        QVERIFY2(walk.Faults.isEmpty(), qPrintable(walk.Faults.join('\n')));

        ApplySkin(kLightSkin);
        QCOMPARE(alert->palette().color(QPalette::Window), QColor(240, 240, 240));
        TContrastWalk light;
        light.Window(form.get(), "main window");
        light.Window(alert, "alert");
        StatusAndStripes(*form, light);
        QVERIFY2(light.Faults.isEmpty(), qPrintable(light.Faults.join('\n')));
        ApplySkin(kSystemSkin);
        QCOMPARE(QApplication::style()->name(), startStyle);
        QCOMPARE(QApplication::palette(), startPalette);
        QCOMPARE(qApp->styleSheet(), QString());
        QCOMPARE(memo->palette().color(QPalette::Text),
                 ReadableOn(Qt::red, startPalette.color(QPalette::Active, QPalette::Base)));
        delete alert.data();
    }

    // A user's skin is a style sheet over the desktop's look; one that is
    // faulty, that Qt cannot read or that leaves a shown control too small
    // for its text is refused, saying why, and the look stays.
    void userSkinIsShownOrRefused_data()
    {
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<QString>("error");
        // The README's example.
        QTest::newRow("sound") << QByteArray("QDialog { background-color: #eef4fb; }\n"
                                             "QPushButton {\n"
                                             "    background-color: #d6e6f7;\n"
                                             "    color: #10243a;\n"
                                             "    border: 1px solid #7a9cc0;\n"
                                             "    border-radius: 3px;\n"
                                             "    padding: 3px 10px;\n"
                                             "}\n"
                                             "QPushButton:hover { background-color: #c4dbf3; }\n"
                                             "QPushButton:disabled { color: #566270; }\n")
                               << "";
        QTest::newRow("faulty") << QByteArray("QLabel { color: red; }\nQPushButton {\n color: red;\n")
                                << "第 2 行有错误";
        QTest::newRow("unreadable for Qt")
            << QByteArray("QPushButton::::: { color: red; }") << "不是 Qt 能读懂的样式表";
        QTest::newRow("cuts text") << QByteArray("QPushButton { max-width: 8px; }") << "文字显示不全";
    }
    void userSkinIsShownOrRefused()
    {
        QFETCH(QByteArray, sheet);
        QFETCH(QString, error);
        const QString path = UserSkin("mine", sheet);
        const auto form = FilledWindow();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        ApplySkin(kDarkSkin);
        const QString darkSheet = qApp->styleSheet();
        const QString raised = ErrorOf([] { ApplySkin("mine"); });
        if (error.isEmpty()) {
            QCOMPARE(raised, QString());
            QCOMPARE(CurrentSkin(), QString("mine"));
            QCOMPARE(qApp->styleSheet(), QString::fromUtf8(sheet));
            QCOMPARE(QApplication::palette(), startPalette);
            return;
        }
        QVERIFY2(raised.contains(error), qPrintable(raised));
        if (!error.contains("显示不全"))
            QVERIFY2(raised.contains(QDir::toNativeSeparators(path)), qPrintable(raised));
        QCOMPARE(CurrentSkin(), kDarkSkin);
        QCOMPARE(qApp->styleSheet(), darkSheet);
        QCOMPARE(QApplication::palette().color(QPalette::Window),
                 BundledSkinPalette(kDarkSkin).color(QPalette::Window));
        const QStringList cut = ControlsWithCutText();
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(' ')));
    }

    // 外观 lists the skins; OK shows and keeps the choice, and a refused
    // skin is said in a box and neither shown nor kept.
    void settingsDialogShowsAndKeeps()
    {
        UserSkin("broken", "QLabel {");
        TFormSkinSettings dialog;
        auto* skins = Find<QComboBox>(&dialog, "cmbSkin");
        QCOMPARE(skins->itemText(0), kSystemSkin);
        QCOMPARE(skins->currentText(), kSystemSkin);
        QCOMPARE(skins->count(), 4);
        skins->setCurrentText("broken");
        dialog.OkButton()->click();
        QVERIFY2(env->Responder.LastText().endsWith("第 1 行有错误：“{”没有对应的“}”。\n外观保持不变。"),
                 qPrintable(env->Responder.LastText()));
        QCOMPARE(CurrentSkin(), kSystemSkin);
        QCOMPARE(LoadSkinChoice(), kSystemSkin);
        skins->setCurrentText(kDarkSkin);
        dialog.OkButton()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(CurrentSkin(), kDarkSkin);
        QCOMPARE(LoadSkinChoice(), kDarkSkin);
    }

    // At the start: the kept skin; one whose file is gone leaves the
    // desktop's look instead of stopping the start.
    void startShowsTheKeptSkin()
    {
        SaveSkinChoice(kDarkSkin);
        ApplyStoredSkin();
        QCOMPARE(CurrentSkin(), kDarkSkin);
        ApplySkin(kSystemSkin);
        SaveSkinChoice("gone");
        ApplyStoredSkin();
        QCOMPARE(CurrentSkin(), kSystemSkin);
        QCOMPARE(QApplication::palette(), startPalette);
    }

    // `jotterel --skin NAME` keeps a skin there is and refuses another naming
    // those there are; the program running on the data takes it over.
    void commandLineKeepsTheSkin_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("running");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("kept");
        QTest::newRow("bundled") << kDarkSkin << false << 0 << "皮肤已设为“深色”" << kDarkSkin;
        QTest::newRow("user's") << "mine" << false << 0 << "皮肤已设为“mine”"
                                << "mine";
        QTest::newRow("none so named") << "sea" << false << 1
                                       << "可选的皮肤：跟随系统、浅色、深色、broken、mine、tiny。" << kSystemSkin;
        QTest::newRow("faulty") << "broken" << false << 1 << "broken.qss 第 1 行有错误" << kSystemSkin;
        QTest::newRow("too small for its buttons, as 外观 says")
            << "tiny" << false << 1 << "皮肤“tiny”让控件太小，文字显示不全" << kSystemSkin;
        QTest::newRow("handed to the running program") << kDarkSkin << true << 0 << "皮肤已设为“深色”" << kDarkSkin;
    }
    void commandLineKeepsTheSkin()
    {
        QFETCH(QString, name);
        QFETCH(bool, running);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(QString, kept);
        UserSkin("mine", "QLabel { color: #123; }");
        UserSkin("broken", "QLabel {");
        UserSkin("tiny", "QPushButton { max-width: 8px; }");
        TSingleInstance program(env->Dir.path());
        if (running) {
            QCOMPARE(program.Start(1000, TSingleInstance::TListening::AtOnce), TSingleInstance::TStart::Run);
            RunningCommands().insert(SkinRunningCommands());
        }
        const QString exe = env->Path("jotterel");
        QVERIFY(QFile::copy(JOTTEREL_EXE, exe));
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(variable);
        run.setProcessEnvironment(environment);
        run.start(exe, {"--skin", name});
        QTRY_COMPARE_WITH_TIMEOUT(run.state(), QProcess::NotRunning, 30000);
        QCOMPARE(run.exitCode(), status);
        const QString output =
            QString::fromUtf8(status == 0 ? run.readAllStandardOutput() : run.readAllStandardError());
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(LoadSkinChoice(), kept);
    }
};

JOTTEREL_TEST_MAIN(TestSkins)
#include "test_skins.moc"
