#include "support/StoreTest.h"
#include "sync/NoteLines.h"
#include "sync/TextMerge.h"

namespace {
// One computer's copy of a note: its lines and the clock that numbers them.
struct TCopy
{
    quint64 Computer;
    QString Name;
    TNoteLines Lines;
    qint64 Clock = 0;

    void Type(const QString& text)
    {
        Lines.Take(text, Computer, Name, [this] { return ++Clock; });
    }
    void Receive(const TCopy& other)
    {
        Lines.Merge(other.Lines.All());
        Clock = std::max(Clock, other.Clock);
    }
};

QString Apply(QString text, const QList<TTextEdit>& edits)
{
    for (qsizetype i = edits.size() - 1; i >= 0; --i)
        text.replace(edits[i].Position, edits[i].Length, edits[i].Text);
    return text;
}
} // namespace

// The merge of note texts: the memo's three-way merge and the lines that
// every computer merges into the same text.
class TestNoteLines : public QObject
{
    Q_OBJECT

private slots:
    void mergeTexts_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("mine");
        QTest::addColumn<QString>("theirs");
        QTest::addColumn<QString>("merged");
        const QString b = "一\r\n二\r\n三";
        QTest::newRow("different lines") << b << "一改\r\n二\r\n三"
                                         << "一\r\n二\r\n三改"
                                         << "一改\r\n二\r\n三改";
        QTest::newRow("both append: mine, then theirs") << b << b + "\r\n我" << b + "\r\n你" << b + "\r\n我\r\n你";
        QTest::newRow("the same change once") << b << "一\r\n二改\r\n三"
                                              << "一\r\n二改\r\n三"
                                              << "一\r\n二改\r\n三";
        QTest::newRow("same line, both kept") << b << "一\r\n二我\r\n三"
                                              << "一\r\n二你\r\n三"
                                              << "一\r\n二我\r\n二你\r\n三";
        QTest::newRow("one side only") << b << b << "零\r\n" + b << "零\r\n" + b;
        QTest::newRow("removed here, changed there") << b << "一\r\n三"
                                                     << "一\r\n二改\r\n三"
                                                     << "一\r\n二改\r\n三";
        QTest::newRow("from nothing, on lines of their own") << ""
                                                             << "我"
                                                             << "你"
                                                             << "我\r\n你";
    }
    void mergeTexts()
    {
        QFETCH(QString, base);
        QFETCH(QString, mine);
        QFETCH(QString, theirs);
        QFETCH(QString, merged);
        QCOMPARE(MergeTexts(base, mine, theirs), merged);
    }

    // The edits make the second text of the first, each as small as it can
    // be: a place before, between and after them stays put.
    void textEditsAreSmallAndRight_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("changed"); // characters the edits take away and put in
        QTest::newRow("one letter") << "第一行\r\n第二行\r\n第三行"
                                    << "第一行\r\n第二行!\r\n第三行" << 1;
        QTest::newRow("two places") << "甲\r\n乙\r\n丙\r\n丁"
                                    << "甲甲\r\n乙\r\n丙\r\n丁丁" << 2;
        QTest::newRow("line added at the end") << "甲\r\n乙"
                                               << "甲\r\n乙\r\n丙" << 3;
        QTest::newRow("all new") << "甲"
                                 << "乙" << 2;
        QTest::newRow("nothing") << "甲"
                                 << "甲" << 0;
    }
    void textEditsAreSmallAndRight()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(int, changed);
        const QList<TTextEdit> edits = TextEdits(before, after);
        QCOMPARE(Apply(before, edits), after);
        qsizetype cost = 0;
        for (const TTextEdit& edit : edits)
            cost += edit.Length + edit.Text.size();
        QCOMPARE(cost, changed);
    }

    // A long text changed in thousands of places is still made right.
    void manyChangesStillRight()
    {
        QStringList before, after;
        for (int i = 0; i < 5000; ++i) {
            before << QString("行%1").arg(i);
            after << QString(i % 2 ? "改%1" : "行%1").arg(i);
        }
        const QString a = before.join("\r\n"), b = after.join("\r\n");
        QCOMPARE(Apply(a, TextEdits(a, b)), b);
    }

    // Two computers type into one note without seeing each other; whatever
    // order the changes reach each other in, both end with the same text,
    // with every line either typed.
    void twoComputersEndWithOneText_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("one");
        QTest::addColumn<QString>("other");
        QTest::addColumn<int>("conflicts");
        const QString s = "一\r\n二\r\n三";
        QTest::newRow("lines added at the end") << s << s + "\r\n甲" << s + "\r\n乙" << 0;
        QTest::newRow("different lines changed") << s << "一甲\r\n二\r\n三"
                                                 << "一\r\n二\r\n三乙" << 0;
        QTest::newRow("the same line changed") << s << "一\r\n二甲\r\n三"
                                               << "一\r\n二乙\r\n三" << 1;
        QTest::newRow("removed on one, changed on the other") << s << "一\r\n三"
                                                              << "一\r\n二乙\r\n三" << 0;
        QTest::newRow("all removed on one") << s << "" << s + "\r\n乙" << 0;
    }
    void twoComputersEndWithOneText()
    {
        QFETCH(QString, start);
        QFETCH(QString, one);
        QFETCH(QString, other);
        QFETCH(int, conflicts);
        TCopy a{1, "甲机", TNoteLines::FromText(start)}, b{2, "乙机", TNoteLines::FromText(start)};
        QCOMPARE(a.Lines.Text(), start);
        a.Type(one);
        b.Type(other);
        TCopy ab = a, ba = b;
        ab.Receive(b);
        ba.Receive(a);
        QCOMPARE(ab.Lines.Text(), ba.Lines.Text());
        QCOMPARE(ab.Lines.Conflicts().size(), conflicts);
        for (const QString& line : SplitLines(one) + SplitLines(other))
            if (!SplitLines(start).contains(line))
                QVERIFY2(ab.Lines.Text().contains(line.trimmed()), qPrintable(ab.Lines.Text()));
        if (conflicts) {
            QVERIFY(ab.Lines.Text().contains("“甲机”") && ab.Lines.Text().contains("“乙机”"));
            // Taking the text back as shown changes nothing; removing a
            // marker line settles the conflict on the other computer too.
            QVERIFY(!ab.Lines.Take(ab.Lines.Text(), 1, "甲机", [&] { return ++ab.Clock; }));
            QStringList lines = ab.Lines.Text().split("\r\n");
            lines.removeIf([](const QString& line) { return line.startsWith("【冲突】"); });
            ab.Type(lines.join("\r\n"));
            ba.Receive(ab);
            QCOMPARE(ba.Lines.Conflicts().size(), 0);
            QCOMPARE(ba.Lines.Text(), lines.join("\r\n"));
            // One marker line typed on settles too; the others stay as typed.
            TCopy again = TCopy{1, "甲机", TNoteLines::FromText(start)};
            again.Type(one);
            again.Receive(b);
            const QString typedOn = again.Lines.Text().replace("【冲突】以上", "【冲突】以上，已看过");
            again.Type(typedOn);
            QCOMPARE(again.Lines.Conflicts().size(), 0);
            QCOMPARE(again.Lines.Text(), typedOn);
        }
    }

    // Two computers holding the same text met it as the same lines: joining
    // doubles nothing.
    void theSameTextMetTwiceIsOneText()
    {
        const QString text = "甲\r\n\r\n乙\r\n\r\n甲";
        TNoteLines one = TNoteLines::FromText(text);
        one.Merge(TNoteLines::FromText(text).All());
        QCOMPARE(one.Text(), text);
    }
};

JOTTEREL_STORE_TEST_MAIN(TestNoteLines)
#include "test_notelines.moc"
