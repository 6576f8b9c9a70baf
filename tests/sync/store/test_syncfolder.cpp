#include "support/StoreTest.h"
#include "sync/SyncFolder.h"
#include "sync/SyncItem.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <sys/stat.h>

namespace {
const QString kComputer = QStringLiteral("0123456789abcdef");

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void PutBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Some KB of Chinese text that compresses but does not repeat.
QByteArray ChineseText()
{
    QRandomGenerator random(7);
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += QChar(char16_t(0x4e00 + random.bounded(500)));
    return text.toUtf8();
}
} // namespace

class TestSyncFolder : public QObject
{
    Q_OBJECT
    QByteArray key; // of a folder joined with a passphrase, derived once

private slots:
    void initTestCase()
    {
        QTemporaryDir dir;
        key = TSyncFolder::Join(dir.filePath("shared"), "钥匙");
        QCOMPARE(key.size(), 32);
    }

    void roundTrip_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::newRow("plain") << false;
        QTest::newRow("encrypted") << true;
    }
    // The payload comes back; neither it nor its compressed form lies in an
    // encrypted file, and nothing but the file itself is left behind.
    void roundTrip()
    {
        QFETCH(bool, encrypted);
        QTemporaryDir dir;
        TSyncFolder folder(dir.path(), encrypted ? key : QByteArray());
        const QByteArray payload = ChineseText();
        folder.Write(kComputer, 42, true, payload);
        const QList<TSyncFile> files = folder.Files();
        QCOMPARE(files.size(), 1);
        QCOMPARE(QFileInfo(files[0].Path).fileName(), QString("jotterel-0123456789abcdef-0000000042.state.jsync"));
        QCOMPARE(folder.Read(files[0]), payload);
        const QByteArray bytes = FileBytes(files[0].Path);
        QVERIFY(!bytes.contains(payload.left(24)));
        QCOMPARE(bytes.contains(qCompress(payload).mid(100, 32)), !encrypted);
        QCOMPARE(QFile::permissions(files[0].Path) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

        folder.Remove(files[0]);
        folder.Remove(files[0]); // already gone
        QVERIFY(folder.Files().isEmpty());
        QVERIFY(folder.Skipped().isEmpty());
    }

    void join_data()
    {
        QTest::addColumn<QString>("created");   // passphrase the folder was made with
        QTest::addColumn<QByteArray>("header"); // written over its header, unless empty
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("error"); // empty: joined with the key of the first join
        const char* rows[][5] = {
            {"right passphrase", "口令一", "", "口令一", ""},
            {"plain, none", "", "", "", ""},
            {"wrong passphrase", "口令一", "", "口令二", "同步密码不正确，没有做任何更改。"},
            {"none for encrypted", "口令一", "", "", "该同步文件夹已加密，请输入同步密码。"},
            {"one for plain", "", "", "口令一", "该同步文件夹没有加密，不能使用同步密码。"},
            {"newer format", "", R"({"format":2,"encrypted":true})", "",
             "该同步文件夹由更新版本的程序创建，请先升级。"},
            {"broken header", "", R"({"format":1,)", "", "同步文件夹中的 jotterel-sync.json 无法读取："},
        };
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QByteArray(row[2]) << QString(row[3]) << QString(row[4]);
    }
    void join()
    {
        QFETCH(QString, created);
        QFETCH(QByteArray, header);
        QFETCH(QString, given);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString folder = dir.filePath("新建/同步");
        const QString headerPath = folder + "/jotterel-sync.json";
        const QByteArray first = TSyncFolder::Join(folder, created);
        QCOMPARE(first.isEmpty(), created.isEmpty());
        QCOMPARE(QFile::permissions(headerPath) & 0x0777, QFile::ReadUser | QFile::WriteUser);
        QVERIFY(created.isEmpty() || !FileBytes(headerPath).contains(created.toUtf8()));
        if (!header.isEmpty())
            PutBytes(headerPath, header);
        const QByteArray before = FileBytes(headerPath);

        QByteArray again;
        const QString raised = ErrorOf([&] { again = TSyncFolder::Join(folder, given); });
        if (error.isEmpty()) {
            QCOMPARE(raised, QString());
            QCOMPARE(again, first);
        } else {
            QVERIFY2(raised.startsWith(error), qPrintable(raised));
        }
        QCOMPARE(FileBytes(headerPath), before);
    }

    // Two computers began before the tool carried the first header, and
    // the other's header won: a round with the old key stops and says so.
    void headerReplacedElsewhere_data()
    {
        QTest::addColumn<QString>("joined");
        QTest::addColumn<QString>(
            "other"); // the header put over it: "-" none, "=" its own, else a new one's passphrase
        QTest::addColumn<bool>("refused");
        QTest::newRow("its own header") << "口令"
                                        << "=" << false;
        QTest::newRow("no header yet") << "口令"
                                       << "-" << false;
        QTest::newRow("another salt, same passphrase") << "口令"
                                                       << "口令" << true;
        QTest::newRow("made plain elsewhere") << "口令"
                                              << "" << true;
        QTest::newRow("encrypted elsewhere") << ""
                                             << "口令" << true;
        QTest::newRow("plain both") << ""
                                    << "" << false;
    }
    void headerReplacedElsewhere()
    {
        QFETCH(QString, joined);
        QFETCH(QString, other);
        QFETCH(bool, refused);
        QTemporaryDir dir;
        const QString folder = dir.filePath("a"), elsewhere = dir.filePath("b");
        const QByteArray key = TSyncFolder::Join(folder, joined);
        if (other == "-")
            QFile::remove(folder + "/jotterel-sync.json");
        else if (other != "=") {
            TSyncFolder::Join(elsewhere, other);
            PutBytes(folder + "/jotterel-sync.json", FileBytes(elsewhere + "/jotterel-sync.json"));
        }
        const QString raised = ErrorOf([&] { TSyncFolder(folder, key).CheckHeader(); });
        QVERIFY2(refused ? raised.contains("重新开始同步") : raised.isEmpty(), qPrintable(raised));
    }

    void files_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("note"); // "ours", or the reason noted ("" for ignored)
        const char* foreign = "不是本程序的同步文件，已跳过";
        const char* conflict = "同步工具产生的冲突副本，已跳过";
        const char* digits = "序号不是十位数字，已跳过";
        const char* rows[][2] = {
            {"jotterel-0123456789abcdef-0000000007.jsync", "ours"},
            {"jotterel-0123456789abcdef-9223372036854775807.state.jsync", digits}, // would overflow the next
            {"jotterel-0123456789abcdef-0000000000.jsync", "序号不能为 0，已跳过"},
            {"jotterel-0123456789abcdef-7.jsync", digits},
            {"jotterel-0123456789abcdef-00000000007.jsync", digits}, // one file, one name
            {"jotterel-0123456789ABCDEF-0000000007.jsync", foreign},
            {"照片.jpg", foreign},
            {"jotterel-0123456789abcdef-0000000007.sync-conflict-20261209-101500-ABCDEF1.jsync", conflict},
            {"jotterel-0123456789abcdef-0000000007 (conflicted copy 2026-12-09).jsync", conflict},
            {"jotterel-0123456789abcdef-0000000007(冲突1).jsync", conflict},
            {".syncthing.jotterel-0123456789abcdef-0000000007.jsync.tmp", ""},
            {"~$文档.docx", ""},
            {"jotterel-sync.json", ""},
        };
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString(row[0]) << QString(row[1]);
    }
    void files()
    {
        QFETCH(QString, name);
        QFETCH(QString, note);
        QTemporaryDir dir;
        PutBytes(dir.filePath(name), "x");
        QVERIFY(QDir(dir.path()).mkdir("jotterel-0123456789abcdef-0000000001.jsync")); // a folder: never listed
        TSyncFolder folder(dir.path(), QByteArray());
        const QList<TSyncFile> files = folder.Files();
        QCOMPARE(files.size(), note == "ours" ? 1 : 0);
        QCOMPARE(folder.Skipped(), note.isEmpty() || note == "ours" ? QStringList() : QStringList(name + "：" + note));
    }

    // By computer, then seq, a state before the change of its seq.
    void filesOrder()
    {
        QTemporaryDir dir;
        TSyncFolder folder(dir.path(), QByteArray());
        folder.Write("fedcba9876543210", 1, false, ""); // an empty payload is no failure
        folder.Write(kComputer, 10, false, "a10");
        folder.Write(kComputer, 2, false, "a2");
        folder.Write(kComputer, 2, true, "a2s");
        QStringList read;
        for (const TSyncFile& file : folder.Files())
            read << folder.Read(file).value_or("?");
        QCOMPARE(read, QStringList({"a2s", "a2", "a10", ""}));
    }

    void readRejects_data()
    {
        QTest::addColumn<bool>("encrypted"); // the writer's folder
        QTest::addColumn<QString>("harm");
        QTest::addColumn<QString>("note");
        const char* unverified = "无法验证（同步密码不同或文件已损坏），已跳过";
        for (const bool encrypted : {false, true}) {
            const char* rows[][2] = {
                {"cut4", "文件不完整或已损坏，已跳过"},
                {"flip", unverified},
                {"rename", unverified}, // to another seq
                {"newer", "由更新版本的程序写入，已跳过"},
                {"mismatch",
                 encrypted ? "文件已加密，而同步文件夹没有加密，已跳过" : "文件没有加密，而同步文件夹已加密，已跳过"},
                {"gone", "文件已被同步工具移走，已跳过"},
                {"link to /dev/zero", "是符号链接，不是普通文件，已跳过"},
                {"pipe", "不是普通文件，已跳过"},
                {"over the size cap", "大于 256 MB 的上限，已跳过"},
                {"unpacks past the cap", "解压后超过上限"},
            };
            for (const auto& row : rows)
                QTest::addRow("%s, %s", encrypted ? "encrypted" : "plain", row[0])
                    << encrypted << QString(row[0]) << QString(row[1]);
        }
    }
    void readRejects()
    {
        QFETCH(bool, encrypted);
        QFETCH(QString, harm);
        QFETCH(QString, note);
        QTemporaryDir dir;
        const QByteArray writerKey = encrypted ? key : QByteArray();
        TSyncFolder writer(dir.path(), writerKey);
        // 20 MB of zeros pack into some KB: a bomb of the kind a forger sends.
        writer.Write(kComputer, 5, false, harm == "unpacks past the cap" ? QByteArray(20 << 20, '\0') : ChineseText());
        TSyncFile file = writer.Files().value(0);
        QByteArray bytes = FileBytes(file.Path);
        if (harm == "cut4")
            PutBytes(file.Path, bytes.left(4));
        if (harm == "flip")
            PutBytes(file.Path, bytes.replace(bytes.size() / 2, 1, QByteArray(1, char(bytes[bytes.size() / 2] ^ 1))));
        if (harm == "newer")
            PutBytes(file.Path, bytes.replace(5, 1, "\xc8")); // 200: a byte read as signed would say damaged
        if (harm == "rename") {
            const QString renamed = dir.filePath("jotterel-0123456789abcdef-0000000006.jsync");
            QVERIFY(QFile::rename(file.Path, renamed));
            file = writer.Files().value(0);
            QCOMPARE(file.Seq, 6);
        }
        if (harm == "gone" || harm == "link to /dev/zero" || harm == "pipe")
            QVERIFY(QFile::remove(file.Path));
        if (harm == "link to /dev/zero")
            QVERIFY(QFile::link("/dev/zero", file.Path));
        if (harm == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(file.Path).constData(), 0600), 0);
        if (harm == "over the size cap")
            QVERIFY(QFile(file.Path).resize(kMaxSyncFileBytes + 1)); // sparse: costs no disk
        TSyncFolder reader(dir.path(), harm == "mismatch" ? (encrypted ? QByteArray() : key) : writerKey);
        if (harm == "pipe" || harm == "link to /dev/zero")
            QCOMPARE(reader.Files().size(), 1); // listed, and refused when read
        QCOMPARE(reader.Read(file), std::nullopt);
        QCOMPARE(reader.Skipped().size(), 1);
        QVERIFY2(reader.Skipped().first().startsWith(QFileInfo(file.Path).fileName() + "：" + note),
                 qPrintable(reader.Skipped().first()));
    }

    // A write that fails raises and leaves no temporary file behind.
    void writeFailure()
    {
        QTemporaryDir dir;
        const QString name = "jotterel-0123456789abcdef-0000000001.jsync";
        QVERIFY(QDir(dir.path()).mkpath(name + "/inside")); // a rename cannot replace a full folder
        TSyncFolder folder(dir.path(), QByteArray());
        const QString raised = ErrorOf([&] { folder.Write(kComputer, 1, false, "x"); });
        QVERIFY2(raised.startsWith("同步文件无法写入：" + dir.filePath(name) + "（"), qPrintable(raised));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // What a forger can put in a file that passes its check is read by the
    // parser of the exact layout: refused, never a crash, a hang or memory
    // beyond the file's own size.
    void hostilePayloadsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QByteArray deep; // the old reader's crash: lists in lists in lists
        {
            QVariantList list;
            for (int i = 0; i < 500; ++i)
                list = QVariantList{QVariant(list)};
            QDataStream out(&deep, QIODevice::WriteOnly);
            out << qint32(1) << QString("0123456789abcdef") << list;
        }
        const QByteArray head = "JSB2" + QByteArray(1, 16) + "0123456789abcdef" + QByteArray(1, 0) + QByteArray(1, 1) +
                                QByteArray(1, 0) + QByteArray(1, 0);
        QTest::newRow("lists in lists") << deep;
        QTest::newRow("a count beyond the file") << head + QByteArray::fromHex("ffffffffffffffff7f");
        QTest::newRow("a number of eleven bytes") << head + QByteArray(11, char(0xff));
        QTest::newRow("a text longer than the file")
            << head + QByteArray::fromHex("01") + QByteArray::fromHex("ff7f") + "x";
        QTest::newRow("a kind that is none")
            << head + QByteArray::fromHex("01") + QByteArray::fromHex("0161") + QByteArray(1, 9);
        QTest::newRow("a name of 65 bytes") << head + QByteArray::fromHex("0141") + QByteArray(65, 'a');
    }
    void hostilePayloadsAreRefused()
    {
        QFETCH(QByteArray, payload);
        QVERIFY(!ErrorOf([&] { DecodeBatch(payload); }).isEmpty());
    }

    // Random bytes after a right beginning: each refused or read, none harms.
    void randomPayloadsNeverHarm()
    {
        QRandomGenerator random(3);
        TSyncBatch batch{kComputer, "书房", 7, 3, false, {}};
        TSyncItem item{"a1", 3, 5, {{"name", TSyncField{QString("名"), 9, kComputer}}}, {}, {}};
        batch.Items << item;
        const QByteArray good = EncodeBatch(batch);
        QCOMPARE(DecodeBatch(good).Items.first().Fields.value("name").Value.toString(), QString("名"));
        for (int i = 0; i < 2000; ++i) {
            QByteArray bytes = good;
            for (int n = 0; n < 3; ++n)
                bytes[4 + random.bounded(int(bytes.size()) - 4)] = char(random.bounded(256));
            ErrorOf([&] { DecodeBatch(bytes); });
        }
    }

    // The folder's header is read as a file of the program too: a link to
    // an endless device is refused, not read.
    void headerThroughALinkIsRefused()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::link("/dev/zero", dir.filePath("jotterel-sync.json")));
        const QString raised = ErrorOf([&] { TSyncFolder::Join(dir.path(), "钥匙"); });
        QVERIFY2(raised.contains("符号链接"), qPrintable(raised));
    }
};

JOTTEREL_STORE_TEST_MAIN(TestSyncFolder)
#include "test_syncfolder.moc"
