#include "app/Main.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

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
};

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    TestScreenFit test;
    return RunTestObject(&test, argc, argv);
}
#include "test_screenfit.moc"
