#include "data/Clock.h"
#include "support/StoreTest.h"

// A moment held for a scope wins over the frozen and the running clock, and
// the clock is as before once the scope ends, also when scopes nest.
class TestClock : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { TClock::Release(); }

    void scopedMomentWinsAndRestores_data()
    {
        QTest::addColumn<bool>("frozen");
        QTest::newRow("frozen clock") << true;
        QTest::newRow("running clock") << false;
    }

    void scopedMomentWinsAndRestores()
    {
        QFETCH(bool, frozen);
        const QDateTime set(QDate(2026, 12, 7), QTime(10, 0, 0, 250));
        const QDateTime outer(QDate(2026, 12, 6), QTime(23, 59, 59));
        const QDateTime inner(QDate(2026, 12, 7), QTime(0, 0, 0));
        if (frozen)
            TClock::Set(set);
        {
            const TClock::TScopedMoment first(outer);
            QCOMPARE(TClock::Now(), outer);
            QCOMPARE(TClock::Today(), outer.date());
            {
                const TClock::TScopedMoment second(inner);
                QCOMPARE(TClock::Now(), inner);
            }
            QCOMPARE(TClock::Now(), outer);
            // Advancing moves the clock underneath, not the held moment.
            TClock::Advance(5000);
            QCOMPARE(TClock::Now(), outer);
        }
        if (frozen) {
            QCOMPARE(TClock::Now(), set.addMSecs(5000));
        } else {
            const qint64 drift = TClock::Now().msecsTo(QDateTime::currentDateTime().addMSecs(5000));
            QVERIFY2(qAbs(drift) < 60000, qPrintable(QString::number(drift)));
        }
    }
};

JOTTEREL_STORE_TEST_MAIN(TestClock)
#include "test_clock.moc"
