#include "app/Main.h"
#include "app/UntConfig.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QTimer>
#include <memory>

// At a scale factor of 2 the test screen (800 x 600 pixels) is 400 x 300 in
// the window's own units, much smaller than the window's 800 x 520: the
// window, frame and title bar included, must still open inside it.
class TestScreenFit : public QObject
{
    Q_OBJECT
    std::unique_ptr<TTestEnv> env;

private slots:
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    void windowOpensWhollyOnTheScreen()
    {
        TFormMain form;
        form.tmr1->stop();
        const QRect area = form.screen()->availableGeometry();
        QVERIFY2(area.width() < 800 && area.height() < 520, "the screen is not small enough for this test");
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCoreApplication::processEvents();
        QVERIFY2(area.contains(form.frameGeometry()), qPrintable(QString("frame %1,%2 %3x%4 on %5x%6")
                                                                     .arg(form.frameGeometry().x())
                                                                     .arg(form.frameGeometry().y())
                                                                     .arg(form.frameGeometry().width())
                                                                     .arg(form.frameGeometry().height())
                                                                     .arg(area.width())
                                                                     .arg(area.height())));
        // Moved off the screen by hand, it comes back at the next showing.
        form.hide();
        form.move(area.right() - 50, area.bottom() - 50);
        form.show();
        QCoreApplication::processEvents();
        QVERIFY(area.contains(form.frameGeometry()));
    }

    // The size kept for the next start is the one the user chose, not the
    // one this small screen forced: a larger screen gets it back. A size the
    // user gave the window here is kept as it is.
    void keptSizeIsTheUsersNotTheScreens_data()
    {
        QTest::addColumn<QSize>("remembered");
        QTest::addColumn<QSize>("resizedTo"); // empty: left as the screen made it
        QTest::addColumn<QSize>("kept");
        QTest::newRow("shrunk by the screen") << QSize(1000, 700) << QSize() << QSize(1000, 700);
        QTest::newRow("the default shrunk") << QSize() << QSize() << QSize(800, 520);
        QTest::newRow("resized by the user") << QSize(1000, 700) << QSize(390, 250) << QSize(390, 250);
        QTest::newRow("fits as it is") << QSize(330, 220) << QSize() << QSize(330, 220);
    }

    void keptSizeIsTheUsersNotTheScreens()
    {
        QFETCH(QSize, remembered);
        QFETCH(QSize, resizedTo);
        QFETCH(QSize, kept);
        TConfig config;
        if (remembered.isValid())
            config.SaveWindowState(
                QString(R"({"x":0,"y":0,"width":%1,"height":%2})").arg(remembered.width()).arg(remembered.height()));
        {
            TFormMain form;
            form.tmr1->stop();
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCoreApplication::processEvents();
            const QSize area = form.screen()->availableGeometry().size();
            QVERIFY(form.width() <= area.width() && form.height() <= area.height());
            if (resizedTo.isValid())
                form.resize(resizedTo);
            env->Responder.Answers = {true};
            form.close();
        }
        const QJsonObject state = QJsonDocument::fromJson(config.LoadWindowState().toUtf8()).object();
        QCOMPARE(QSize(state.value("width").toInt(), state.value("height").toInt()), kept);
    }

    // A place kept at another scale factor is the same spot on the screen
    // at this one (2); the next close keeps it with this factor.
    void placeKeptAtAnotherScaleIsConverted_data()
    {
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QPoint>("place");
        QTest::newRow("at 1") << R"("x":80,"y":60,"scale":1)" << QPoint(40, 30);
        QTest::newRow("at 4") << R"("x":10,"y":15,"scale":4)" << QPoint(20, 30);
        QTest::newRow("at this one") << R"("x":40,"y":30,"scale":2)" << QPoint(40, 30);
        QTest::newRow("by an older version, without it") << R"("x":40,"y":30)" << QPoint(40, 30);
    }

    void placeKeptAtAnotherScaleIsConverted()
    {
        QFETCH(QString, kept);
        QFETCH(QPoint, place);
        TConfig config;
        config.SaveWindowState("{" + kept + R"(,"width":200,"height":150})");
        {
            TFormMain form;
            form.tmr1->stop();
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCoreApplication::processEvents();
            QCOMPARE(form.pos(), place);
            env->Responder.Answers = {true};
            form.close();
        }
        const QJsonObject state = QJsonDocument::fromJson(config.LoadWindowState().toUtf8()).object();
        QCOMPARE(QPoint(state.value("x").toInt(), state.value("y").toInt()), place);
        QCOMPARE(state.value("scale").toDouble(), 2.0);
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    TestScreenFit test;
    return RunTestObject(&test, argc, argv);
}
#include "test_screenfit.moc"
