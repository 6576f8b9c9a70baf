#include "search/Pinyin.h"
#include "support/StoreTest.h"

// A query word matched against Chinese text by its readings.
class TestPinyin : public QObject
{
    Q_OBJECT

private slots:
    void matches_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("matched"); // empty: no match
        QTest::newRow("syllables") << "gongzuo"
                                   << "今天的工作计划"
                                   << "工作";
        QTest::newRow("syllables of four characters") << "gongzuojihua"
                                                      << "今天的工作计划"
                                                      << "工作计划";
        QTest::newRow("initials") << "gzjh"
                                  << "今天的工作计划"
                                  << "工作计划";
        QTest::newRow("capitals") << "GZ"
                                  << "今天的工作计划"
                                  << "工作";
        QTest::newRow("syllables and initials") << "gongzjh"
                                                << "今天的工作计划"
                                                << "工作计划";
        QTest::newRow("the last reading begun") << "gongzu"
                                                << "工作"
                                                << "工作";
        QTest::newRow("a reading cut in the middle") << "gonzuo"
                                                     << "工作"
                                                     << "";
        QTest::newRow("a character left out") << "gjh"
                                              << "工作计划"
                                              << "";
        QTest::newRow("another word") << "gongzuo"
                                      << "工资单"
                                      << "";
        QTest::newRow("polyphone, first reading") << "yinhang"
                                                  << "去银行取钱"
                                                  << "银行";
        QTest::newRow("polyphone, second reading") << "yinxing"
                                                   << "去银行取钱"
                                                   << "银行";
        QTest::newRow("polyphone 重") << "chongqing"
                                      << "重庆火锅"
                                      << "重庆";
        QTest::newRow("simplified polyphone 长") << "changcheng"
                                                 << "长城"
                                                 << "长城";
        QTest::newRow("first letters") << "cq"
                                       << "重庆火锅"
                                       << "重庆";
        QTest::newRow("initial of two letters") << "zhq"
                                                << "重庆火锅"
                                                << "重庆";
        QTest::newRow("z is not zh") << "zong"
                                     << "中间"
                                     << "";
        QTest::newRow("s is not sh") << "sen"
                                     << "深圳"
                                     << "";
        QTest::newRow("c is not ch") << "cangcheng"
                                     << "长城"
                                     << "";
        QTest::newRow("the last reading begun past zh") << "zhongj"
                                                        << "中间"
                                                        << "中间";
        QTest::newRow("ü written v") << "lvse"
                                     << "绿色"
                                     << "绿色";
        QTest::newRow("Latin and Han in the text") << "qtwd"
                                                   << "看 Qt文档"
                                                   << "Qt文档";
        QTest::newRow("Latin and Han in the word") << "工作jh"
                                                   << "工作计划"
                                                   << "工作计划";
        QTest::newRow("Han character as itself") << "gong作"
                                                 << "工作"
                                                 << "工作";
        QTest::newRow("Latin text as it is") << "gz"
                                             << "gz.gov.cn"
                                             << "gz";
        QTest::newRow("a capital after a long Latin run") << "qtwd"
                                                          << "see the manual of QT文档"
                                                          << "QT文档";
        QTest::newRow("supplementary plane") << "he"
                                             << "𠀀"
                                             << "𠀀";
        QTest::newRow("the first of two") << "gz"
                                          << "工资和工作"
                                          << "工资";
        QTest::newRow("after the match") << "zuo"
                                         << "工作"
                                         << "作";
    }

    // The byte scan and the scan of the shown text agree.
    void matches()
    {
        QFETCH(QString, word);
        QFETCH(QString, text);
        QFETCH(QString, matched);
        const std::optional<TPinyinWord> pinyin = TPinyinWord::Of(word);
        QVERIFY(pinyin);
        const auto [start, length] = pinyin->Find(text);
        QCOMPARE(start < 0 ? QString() : text.mid(start, length), matched);
        const QByteArray utf8 = text.toUtf8();
        QCOMPARE(pinyin->In(utf8.constData(), size_t(utf8.size())), !matched.isEmpty());
    }

    void wordsThatMatchAsTheyAre()
    {
        for (const QString& word : QStringList{"工作", "gz1", "gong zuo", "a.b", "été", "", QString("x").repeated(64)})
            QVERIFY2(!TPinyinWord::Of(word), qPrintable(word));
        // Broken UTF-8 (a three-byte character cut short) matches nothing.
        const QByteArray cut = QString("工作").toUtf8().left(4);
        QVERIFY(!TPinyinWord::Of("gz")->In(cut.constData(), size_t(cut.size())));
    }
};

JOTTEREL_STORE_TEST_MAIN(TestPinyin)
#include "test_pinyin.moc"
