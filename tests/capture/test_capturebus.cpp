#include "capture/CaptureBus.h"
#include "capture/CaptureWiring.h"
#include "data/MD.h"
#include "support/CaptureParts.h"
#include "support/TestEnv.h"
#include "support/TestMain.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QProcess>
#include <QTimer>
#include <memory>

namespace {
const char* const kInterface = "io.github.jotterel.Capture";

QString Bytes(qsizetype count)
{
    return QString(count, 'x');
}
} // namespace

// The capture on a session bus of the test's own, called from a second
// connection as another program would.
class TestCaptureBus : public QObject
{
    Q_OBJECT
    QProcess daemon;
    std::unique_ptr<TTestEnv> env;

    QDBusPendingCall Call(const QString& method, const QVariantList& arguments)
    {
        QDBusConnection client =
            QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "caller");
        QDBusMessage call = QDBusMessage::createMethodCall(TCaptureBus::Service, TCaptureBus::Path, kInterface, method);
        call.setArguments(arguments);
        return client.asyncCall(call, 60000);
    }

    // The answer's text, or its error's message after "error: ". The window
    // answers on this thread's event loop, which runs meanwhile.
    static QString Answer(QDBusPendingCall pending)
    {
        if (!QTest::qWaitFor([&pending] { return pending.isFinished(); }, 60000))
            return "error: no answer in 60 s";
        const QDBusMessage reply = pending.reply();
        if (reply.type() == QDBusMessage::ErrorMessage)
            return "error: " + reply.errorMessage();
        return reply.arguments().value(0).toString();
    }

private slots:
    void initTestCase()
    {
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
            QSKIP("no dbus-daemon to run a session bus of the test's own");
        qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());
    }
    void cleanupTestCase()
    {
        daemon.kill();
        daemon.waitForFinished();
    }
    void init() { env = std::make_unique<TTestEnv>(); }
    void cleanup() { env.reset(); }

    // A text is taken up to the length a command line carries, and refused
    // with the reason beyond it; nothing of a refused call is stored.
    void textsAreHeldToTheCommandLinesLimit_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QString>("answer");
        const qsizetype most = TCaptureBus::kMostArgumentBytes;
        QTest::newRow("a line of the most") << "AddNote" << QVariantList{Bytes(most), ""} << "已添加到记事";
        QTest::newRow("a line longer") << "AddNote" << QVariantList{Bytes(most + 1), ""} << "error: 文字太长（129 KB）";
        QTest::newRow("a group path longer")
            << "AddNote" << QVariantList{"买牛奶", Bytes(most + 1)} << "error: 文字太长";
        QTest::newRow("a title longer") << "AddBookmark" << QVariantList{"https://a.example/", Bytes(4 * most), ""}
                                        << "error: 文字太长（512 KB）";
    }
    void textsAreHeldToTheCommandLinesLimit()
    {
        QFETCH(QString, method);
        QFETCH(QVariantList, arguments);
        QFETCH(QString, answer);
        TPageFixture form;
        TCaptureWiring capture(CaptureParts(form));
        form.show();
        // The service is offered once the window has painted.
        QTRY_VERIFY_WITH_TIMEOUT(capture.findChild<TCaptureBus*>(), 5000);
        const QString said = Answer(Call(method, arguments));
        QVERIFY2(said.startsWith(answer), qPrintable(said.left(200)));
        // What is said repeats only the start of a long text.
        QVERIFY(said.size() < 400);
        const bool stored = !answer.startsWith("error");
        QCOMPARE(DbGetIntValue("select count(*) from NoteBook") + DbGetIntValue("select count(*) from IE"),
                 stored ? 1 : 0);
    }

    // Many calls at once are carried out one per turn of the event loop, so
    // the window answers between them; beyond those waiting, a call is
    // refused with the reason. Each one done is in the note.
    void manyCallsTakeTurnsWithTheWindow()
    {
        TPageFixture form;
        TCaptureWiring capture(CaptureParts(form));
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(capture.findChild<TCaptureBus*>(), 5000);
        auto* bus = capture.findChild<TCaptureBus*>();
        int turns = 0;
        QTimer turn;
        turn.setInterval(0);
        connect(&turn, &QTimer::timeout, [&turns] { ++turns; });
        turn.start();
        QList<int> turnsAtEach;
        connect(bus, &TCaptureBus::Carried, [&] { turnsAtEach << turns; });
        QList<QDBusPendingCall> calls;
        for (int i = 0; i < 40; ++i)
            calls << Call("AddNote", {QString("第 %1 行").arg(i), ""});
        int done = 0;
        for (const QDBusPendingCall& call : calls) {
            const QString said = Answer(call);
            if (said.startsWith("error: "))
                QCOMPARE(said, QString("error: 等待处理的请求太多，请稍后再试。"));
            else
                ++done;
        }
        QCOMPARE(turnsAtEach.size(), done);
        for (int i = 1; i < turnsAtEach.size(); ++i)
            QVERIFY2(turnsAtEach[i] > turnsAtEach[i - 1], "two calls were carried out in one turn");
        const QString note = DbAccess->Query("select ReMark from NoteBook where TypeID=0")->AsString(0);
        QCOMPARE(note.count("行"), done);
    }
};

JOTTEREL_TEST_MAIN(TestCaptureBus)
#include "test_capturebus.moc"
