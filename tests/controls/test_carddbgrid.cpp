#include "controls/CardDBGrid.h"
#include "data/DataSet.h"
#include "data/MD.h"
#include "data/UntPublic.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QHeaderView>
#include <QImage>
#include <memory>

namespace {
const QColor kCream(255, 251, 240);
const QColor kSkyBlue(166, 202, 240);

void AddBookmark(const QString& title, const QString& address = "u", int typeId = 0)
{
    DbExecSQL(FormatSQL("Insert into IE(TypeID,IEUrl,IEName,ReMark)  values(%s,'%s','%s','') ",
                        {QString::number(typeId), SqlText(address), SqlText(title)}));
}

// Counts the paint events a widget receives.
class TPaintCounter : public QObject
{
public:
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++Count;
        return false;
    }
};
} // namespace

class TestCardDBGrid : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;
    std::unique_ptr<TCardDBGrid> grid;

    TDataSet& Set() { return *DbAccess->GridSet; }

    void Open(const QString& sql)
    {
        grid->OpenGridSet([&] { DbAccess->OpenGrid(sql); }, true);
        grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    }

    QString Title(int column) const { return grid->model()->headerData(column, Qt::Horizontal).toString(); }
    QString Cell(int row, int column) const { return grid->model()->index(row, column).data().toString(); }

    void ClickTitle(int column)
    {
        QHeaderView* header = grid->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    // The colour of a cell's inside (clear of its text), of its bottom line
    // and of its right line, as drawn.
    struct TCellColours
    {
        QColor fill, bottom, right;
    };
    TCellColours Colours(const QImage& image, int row, int column) const
    {
        const QRect cell = grid->visualRect(grid->model()->index(row, column));
        return {image.pixelColor(cell.right() - 3, cell.center().y()),
                image.pixelColor(cell.right() - 3, cell.bottom()), image.pixelColor(cell.right(), cell.center().y())};
    }

private slots:
    void init()
    {
        env = std::make_unique<TTestEnv>();
        grid = std::make_unique<TCardDBGrid>();
        grid->resize(400, 300);
    }
    void cleanup()
    {
        grid.reset();
        env.reset();
    }

    void defaultColours()
    {
        QCOMPARE(grid->GridOddColor(), grid->palette().color(QPalette::Base));
        QCOMPARE(grid->GridEvenColor(), kCream);
        QCOMPARE(grid->GriddingRowColor(), kSkyBlue);
        QCOMPARE(grid->GriddingColColor(), kSkyBlue);
        QCOMPARE(grid->property("GridEvenColor").value<QColor>(), kCream);
    }

    void stripesLinesAndCurrentRowAsDrawn()
    {
        for (const char* title : {"a", "b", "c", "d"})
            AddBookmark(title);
        Open("select ID,IEName as 标题 from IE");
        grid->setColumnWidth(1, 200);
        // The grid follows the dataset's current record.
        Set().SetRecNo(3);
        QCOMPARE(grid->currentIndex().row(), 2);
        const QColor highlight = grid->SelectedRowColor();
        QVERIFY(highlight != grid->GridOddColor() && highlight != kCream);

        QImage image = grid->viewport()->grab().toImage();
        const QList<QColor> fills = {grid->GridOddColor(), kCream, highlight, kCream};
        for (int row = 0; row < 4; ++row) {
            const TCellColours colours = Colours(image, row, 1);
            QCOMPARE(colours.fill, fills[row]);
            QCOMPARE(colours.bottom, kSkyBlue);
            QCOMPARE(colours.right, kSkyBlue);
        }

        // Each line has its own colour; the stripes follow the record numbers
        // in the new order, and the sort makes the first row current.
        grid->SetGriddingRowColor(Qt::red);
        grid->SetGriddingColColor(Qt::green);
        Set().SetSort("标题 DESC");
        image = grid->viewport()->grab().toImage();
        QCOMPARE(Cell(0, 1), QString("d"));
        QCOMPARE(Colours(image, 0, 1).fill, highlight);
        QCOMPARE(Colours(image, 1, 1).fill, kCream);
        QCOMPARE(Colours(image, 2, 1).fill, grid->GridOddColor());
        QCOMPARE(Colours(image, 2, 1).bottom, QColor(Qt::red));
        QCOMPARE(Colours(image, 2, 1).right, QColor(Qt::green));
    }

    void colourSettersDoNotRepaint()
    {
        AddBookmark("a");
        AddBookmark("b");
        Open("select ID,IEName as 标题 from IE");
        TPaintCounter counter;
        grid->installEventFilter(&counter);
        grid->viewport()->installEventFilter(&counter);
        QCoreApplication::processEvents();
        counter.Count = 0;
        grid->SetGridEvenColor(Qt::yellow);
        grid->SetGridOddColor(Qt::cyan);
        grid->SetGridOddColor(Qt::cyan); // the value it already has
        QCoreApplication::processEvents();
        QCOMPARE(counter.Count, 0);
        QCOMPARE(grid->GridEvenColor(), QColor(Qt::yellow));

        grid->viewport()->update();
        QCoreApplication::processEvents();
        QVERIFY(counter.Count > 0);
        QCOMPARE(Colours(grid->viewport()->grab().toImage(), 1, 1).fill, QColor(Qt::yellow));
        QCOMPARE(grid->GridOddColor(), QColor(Qt::cyan));
    }

    void repeatedTitleClicksAlternateTheOrder()
    {
        for (const char* title : {"b", "C", "a"})
            AddBookmark(title);
        Open("select ID,IEName as 标题,IEUrl as 网址 from IE");
        const QList<std::tuple<QString, QString, QString>> steps = {
            {"标题", "▲标题", "a"},       {"标题 DESC", "▼标题", "C"}, {"标题 ", "▲标题", "a"},
            {"标题  DESC", "▼标题", "C"}, {"标题  ", "▲标题", "a"},
        };
        for (const auto& [sort, title, first] : steps) {
            ClickTitle(1);
            QCOMPARE(Set().Sort(), sort);
            QCOMPARE(Title(1), title);
            QCOMPARE(Cell(0, 1), first);
            QCOMPARE(Title(2), QString("网址"));
            QCOMPARE(Set().RecNo(), 1);
            QCOMPARE(grid->currentIndex().row(), 0);
        }
    }

    void anotherTitleStartsAscendingAndTakesTheMark()
    {
        AddBookmark("a", "z");
        AddBookmark("b", "x");
        AddBookmark("c", "y");
        Open("select ID,IEName as 标题,IEUrl as 网址 from IE");
        ClickTitle(1);
        ClickTitle(1);
        QCOMPARE(Title(1), QString("▼标题"));
        ClickTitle(2);
        QCOMPARE(Title(1), QString("标题"));
        QCOMPARE(Title(2), QString("▲网址"));
        QCOMPARE(Set().Sort(), QString("网址"));
        QCOMPARE(QStringList({Cell(0, 2), Cell(1, 2), Cell(2, 2)}), QStringList({"x", "y", "z"}));
    }

    void titleClickWithoutOpenDatasetChangesNothing()
    {
        grid->TitleClick(0); // no data source at all
        AddBookmark("a");
        Open("select ID,IEName as 标题 from IE");
        DbAccess->GridSet->Close();
        grid->TitleClick(1);
        QCOMPARE(Set().Sort(), QString());
        QVERIFY(env->Responder.Shown.isEmpty());
    }

    void sortAndMarkSurviveRefreshUntilANewStatement()
    {
        for (const char* title : {"b", "a"})
            AddBookmark(title);
        Open("select ID,IEName as 标题 from IE");
        grid->setColumnHidden(0, true);
        const int width = grid->columnWidth(1);
        ClickTitle(1);
        AddBookmark("0");
        DbAccess->RefreshGrid();
        QCOMPARE(Title(1), QString("▲标题"));
        QCOMPARE(QStringList({Cell(0, 1), Cell(1, 1), Cell(2, 1)}), QStringList({"0", "a", "b"}));
        QVERIFY(grid->isColumnHidden(0));
        QCOMPARE(grid->columnWidth(1), width);

        Open("select ID,IEName as 标题 from IE");
        QCOMPARE(Title(1), QString("标题"));
        QCOMPARE(Set().Sort(), QString());
        QCOMPARE(Cell(0, 1), QString("b"));
    }

    void columnWidthsComeFromTheFirstFiftyRecords()
    {
        QStringList titles;
        for (int i = 0; i < 200; ++i)
            titles << QString(i % 7 + 1, QChar('w'));
        titles[30] = QString(20, QChar('m'));
        titles[120] = QString(80, QChar('m')); // beyond the first 50: ignored
        for (const QString& title : titles)
            AddBookmark(title, "u");
        grid->OpenGridSet([] { DbAccess->OpenGrid("select ID,IEName as 标题,IEUrl as 网址 from IE"); }, false);
        Set().SetRecNo(10);
        FitGridColumns(grid.get());

        const QFontMetrics values(grid->font());
        const QFontMetrics header(grid->horizontalHeader()->font());
        QCOMPARE(grid->columnWidth(1), values.horizontalAdvance(titles[30]) + 4);
        // Values narrower than the title: the title's width plus 24.
        QCOMPARE(grid->columnWidth(2), header.horizontalAdvance("网址") + 24);
        QCOMPARE(Set().RecNo(), 10);
        QCOMPARE(grid->currentIndex().row(), 9);
    }

    void fittedColumnsShowTheirValuesWhole()
    {
        const QStringList values = {"Kernel 'LTS' @#@ x", "https://www.debian.org/", "自由操作系统 It's free",
                                    "iiiiiiiiiiiiiiiiiiiiiiiiiiiiii", "WWWWWWWWWW"};
        for (const QString& value : values)
            AddBookmark(value);
        Open("select IEName as 标题 from IE");
        for (int row = 0; row < values.size(); ++row) {
            const QRect cell = grid->visualRect(grid->model()->index(row, 0)).adjusted(0, 0, -2, 0);
            const QImage fitted = grid->viewport()->grab(cell).toImage();
            grid->setColumnWidth(0, grid->columnWidth(0) + 100);
            const QImage wider = grid->viewport()->grab(cell).toImage();
            grid->FitColumns();
            QVERIFY2(fitted == wider, qPrintable(values[row]));
        }
    }

    void currentRowAndCurrentRecordFollowEachOther()
    {
        for (const char* title : {"a", "b", "c", "d"})
            AddBookmark(title);
        Open("select ID,IEName as 标题 from IE");
        // The identifier column is hidden after the list opened on it; the keys still move.
        grid->setColumnHidden(0, true);
        QCOMPARE(grid->currentIndex().row(), 0);
        grid->setFocus();
        QTest::keyClick(grid.get(), Qt::Key_Down);
        QCOMPARE(Set().RecNo(), 2);
        QTest::keyClick(grid.get(), Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(Set().AsString(1), QString("d"));

        const QRect third = grid->visualRect(grid->model()->index(2, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(Set().RecNo(), 3);
        QCOMPARE(Set().AsString(1), QString("c"));
        DbAccess->RefreshGrid();
        QCOMPARE(grid->currentIndex().row(), 0);

        Set().First();
        QCOMPARE(grid->currentIndex().row(), 0);
    }

    void cellsShowOneLineAndKeepTheWholeValue()
    {
        AddBookmark("first\r\nsecond\nthird");
        Open("select ID,IEName as 标题 from IE");
        const QModelIndex cell = grid->model()->index(0, 1);
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(), QString("first\r\nsecond\nthird"));
        QCOMPARE(GridCellText(cell.data()), QString("first second third"));
        QCOMPARE(grid->columnWidth(1), QFontMetrics(grid->font()).horizontalAdvance("first second third") + 4);
    }
};

JOTTEREL_TEST_MAIN(TestCardDBGrid)
#include "test_carddbgrid.moc"
