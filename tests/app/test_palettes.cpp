#include "app/Main.h"
#include "bookmarks/AddIE.h"
#include "bookmarks/UntIE.h"
#include "controls/CardDBGrid.h"
#include "controls/Contrast.h"
#include "data/Clock.h"
#include "data/MD.h"
#include "data/UntPublic.h"
#include "reminders/AddAlam.h"
#include "reminders/Chime.h"
#include "reminders/ShowAlam.h"
#include "reminders/UntAlam.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <memory>

Q_DECLARE_METATYPE(QPalette)

namespace {
// The store these tests read and write, as a page or dialog would be handed it.
TAlam Alam;
TIE IE;
} // namespace

namespace {
// A dark palette as desktops ship them: light text on dark grounds.
QPalette DarkPalette()
{
    QPalette dark;
    const QColor window(53, 53, 53), base(42, 42, 42), text(230, 230, 230);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        dark.setColor(group, QPalette::Window, window);
        dark.setColor(group, QPalette::WindowText, text);
        dark.setColor(group, QPalette::Base, base);
        dark.setColor(group, QPalette::AlternateBase, QColor(66, 66, 66));
        dark.setColor(group, QPalette::Text, text);
        dark.setColor(group, QPalette::Button, window);
        dark.setColor(group, QPalette::ButtonText, text);
        dark.setColor(group, QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(group, QPalette::HighlightedText, Qt::black);
        dark.setColor(group, QPalette::Light, QColor(80, 80, 80));
        dark.setColor(group, QPalette::Midlight, QColor(66, 66, 66));
        dark.setColor(group, QPalette::Mid, QColor(40, 40, 40));
        dark.setColor(group, QPalette::Dark, QColor(30, 30, 30));
    }
    return dark;
}

QColor Colour(const QPalette& palette, QPalette::ColorRole role)
{
    return palette.color(QPalette::Active, role);
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

// Every text the program colours itself stays readable, its contrast ratio
// at least 4.5, under the desktop's light and dark palettes; under the light
// one the program's own colours stay where they already were readable.
class TestPalettes : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    QPalette original;

private slots:
    void initTestCase() { original = QApplication::palette(); }
    void init()
    {
        env = std::make_unique<TTestEnv>();
        SetChimePlayer([](const QUrl&) {});
    }
    void cleanup()
    {
        SetChimePlayer(nullptr);
        QApplication::setPalette(original);
        env.reset();
    }

    void contrastRatioAsTheGuidelinesGiveIt()
    {
        QCOMPARE(qRound(ContrastRatio(Qt::black, Qt::white) * 100), 2100);
        QCOMPARE(ContrastRatio(QColor(90, 90, 90), QColor(90, 90, 90)), 1.0);
        QCOMPARE(qRound(ContrastRatio(Qt::red, Qt::white) * 100), 400);
        QCOMPARE(qRound(ContrastRatio(Qt::blue, Qt::white) * 100), 859);
        QCOMPARE(qRound(ContrastRatio(QColor(118, 118, 118), Qt::white) * 100), 454);
    }

    void colouredTextStaysReadable_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<bool>("light");
        QTest::newRow("light") << QApplication::style()->standardPalette() << true;
        QTest::newRow("dark") << DarkPalette() << false;
    }

    void colouredTextStaysReadable()
    {
        QFETCH(QPalette, palette);
        QFETCH(bool, light);
        QApplication::setPalette(palette);
        TClock::Set(QDateTime(QDate(2026, 3, 4), QTime(9, 0, 0)));
        AddReminder(QTime(8, 0, 0), "错过");
        AddReminder(QTime(8, 30, 0), "看过");
        Alam.MarkAlamSeen("2");
        for (const char* title : {"a", "b", "c"})
            DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(0,'u','%s','') ", {title}));

        TFormMain form;
        form.tmr1->stop();
        Find<QTabWidget>(&form, "pgcMain")->setCurrentIndex(2);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        // The reminder list: red missed rows, blue seen rows.
        auto* list = OnShownPage<QTreeWidget>(&form, "lv1");
        const QColor ground = Colour(list->palette(), QPalette::Base);
        QCOMPARE(list->topLevelItem(0)->text(3), kAlamMissedText);
        QCOMPARE(list->topLevelItem(1)->text(3), kAlamSeenText);
        const QColor missed = list->topLevelItem(0)->foreground(2).color();
        const QColor seen = list->topLevelItem(1)->foreground(2).color();
        QVERIFY2(ContrastRatio(missed, ground) >= 4.5, qPrintable(missed.name()));
        QVERIFY2(ContrastRatio(seen, ground) >= 4.5, qPrintable(seen.name()));
        QCOMPARE(missed.hue(), 0);
        QCOMPARE(seen.hue(), 240);
        if (light)
            QCOMPARE(seen, QColor(0, 0, 255));

        // The bookmark grid's stripes, as drawn, under the palette's text.
        auto* grid = Find<TCardDBGrid>(&form, "DBGrid1");
        grid->setColumnWidth(1, 200);
        QCOMPARE(grid->currentIndex().row(), 0);
        const QImage image = grid->viewport()->grab().toImage();
        const auto fill = [&](int row) {
            const QRect cell = grid->visualRect(grid->model()->index(row, 1));
            return image.pixelColor(cell.right() - 3, cell.center().y());
        };
        const QColor text = Colour(grid->palette(), QPalette::Text);
        const QColor even = fill(1), odd = fill(2);
        QVERIFY2(ContrastRatio(text, even) >= 4.5, qPrintable(even.name()));
        QVERIFY2(ContrastRatio(text, odd) >= 4.5, qPrintable(odd.name()));
        QVERIFY(even != odd);
        if (light)
            QCOMPARE(even, QColor(255, 251, 240));

        // The alert: its ground, and the red remark on the memo's ground.
        QPointer<TFormShowAlam> alert = ShowAlamAlert("1", "开会", false);
        const QPalette back = alert->palette();
        QVERIFY(ContrastRatio(Colour(back, QPalette::WindowText), Colour(back, QPalette::Window)) >= 4.5);
        if (light)
            QCOMPARE(Colour(back, QPalette::Window), QColor(240, 240, 240));
        const QPalette memo = alert->findChild<QTextEdit*>("mmo1")->palette();
        QVERIFY(ContrastRatio(Colour(memo, QPalette::Text), Colour(memo, QPalette::Base)) >= 4.5);
        QCOMPARE(Colour(memo, QPalette::Text).hue(), 0);
        delete alert.data();

        // The red notes of the reminder dialogs.
        TFormAddAlam reminder(Alam);
        for (const char* name : {"Label1", "LabNow"}) {
            const QPalette note = Find<QLabel>(&reminder, name)->palette();
            QVERIFY2(ContrastRatio(Colour(note, QPalette::WindowText), Colour(note, QPalette::Window)) >= 4.5, name);
            QCOMPARE(Colour(note, QPalette::WindowText).hue(), 0);
        }

        // The blue address of the bookmark dialogs.
        TFormAddIE dialog(IE);
        const QPalette address = Find<QLineEdit>(&dialog, "edtIE")->palette();
        QVERIFY(ContrastRatio(Colour(address, QPalette::Text), Colour(address, QPalette::Base)) >= 4.5);
        QCOMPARE(Colour(address, QPalette::Text).hue(), 240);
        if (light)
            QCOMPARE(Colour(address, QPalette::Text), QColor(0, 0, 255));
    }
};

JOTTEREL_TEST_MAIN(TestPalettes)
#include "test_palettes.moc"
