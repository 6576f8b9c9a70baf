#include "data/MD.h"
#include "data/UntPublic.h"
#include "skins/Skins.h"
#include "support/StoreTest.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <memory>
#include <sys/stat.h>

namespace {
void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

class TestSkinStore : public QObject
{
    Q_OBJECT
    std::unique_ptr<TStoreEnv> env;

private slots:
    void init() { env = std::make_unique<TStoreEnv>(); }
    void cleanup() { env.reset(); }

    // The first fault's line, and a word of what it is; 0 for a sound sheet.
    void checkStyleSheet_data()
    {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("what");
        QTest::newRow("empty") << "" << 0 << "";
        QTest::newRow("sound") << "QPushButton:hover, QLabel#a { color: red; background: url(\"a:{b}.png\") }\n"
                                  "/* { } */ QToolTip { border: 1px solid 'x;}'; ; }"
                               << 0 << "";
        QTest::newRow("block never closed") << "QLabel { color: red; }\nQWidget {\n color: red;\n" << 2 << "没有对应";
        QTest::newRow("block inside a block") << "QWidget {\n color: red;\n\nQPushButton { }" << 4 << "第 1 行";
        QTest::newRow("stray closing brace") << "QLabel { }\n}\n" << 2 << "多余";
        QTest::newRow("declaration without colon") << "QLabel {\n  color: red;\n  border 1px;\n}" << 3 << "border 1px";
        QTest::newRow("declaration without property") << "QLabel { : red }" << 1 << "属性名";
        QTest::newRow("block without selector") << "QLabel { }\n\n{ color: red }" << 3 << "选择器";
        QTest::newRow("selector without block") << "QLabel { }\nQPushButton\n" << 2 << "QPushButton";
        QTest::newRow("comment never closed") << "QLabel { }\n/* {\n}" << 2 << "*/";
        QTest::newRow("string never closed") << "QLabel {\n image: url(\"a.png);\n}" << 2 << "引号";
        QTest::newRow("lines counted inside comments") << "/*\n\n*/ }" << 3 << "多余";
    }
    void checkStyleSheet()
    {
        QFETCH(QString, sheet);
        QFETCH(int, line);
        QFETCH(QString, what);
        const auto fault = CheckStyleSheet(sheet);
        QCOMPARE(fault ? fault->Line : 0, line);
        if (fault)
            QVERIFY2(fault->What.contains(what), qPrintable(fault->What));
    }

    // The program's three first; a file's name names its skin; a name met
    // before hides a later file; other files are no skins.
    void listsTheSkinsOfBothFolders()
    {
        const QString user = env->Path("user"), portable = env->Path("portable");
        Write(user + "/ocean.qss", "QLabel { }");
        Write(user + "/深色.qss", "QLabel { }");
        Write(user + "/notes.txt", "");
        Write(portable + "/ocean.qss", "");
        Write(portable + "/Mint.v2.qss", "");
        QStringList names;
        for (const TSkin& skin : ListSkins({user, portable}))
            names << skin.Name;
        QCOMPARE(names, QStringList({"跟随系统", "浅色", "深色", "Mint.v2", "ocean"}));
        QCOMPARE(SkinNamed("ocean", {user, portable}).Path, QFileInfo(user + "/ocean.qss").absoluteFilePath());
        QVERIFY(!SkinNamed("深色", {user, portable}).IsUserSkin());
        QCOMPARE(SkinNamed("", {user, portable}).Name, QString("跟随系统"));
        QCOMPARE(ErrorOf([&] {
                     SkinNamed("sea", {user, portable});
                 }),
                 QString("没有名为“sea”的皮肤。可选的皮肤：跟随系统、浅色、深色、Mint.v2、ocean。"));
    }

    void readSkinSheetRefusesWhatCannotBeUsed_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // "-" for no file
        QTest::addColumn<QString>("error");
        QTest::newRow("sound") << QByteArray("QLabel { color: #123; }") << "";
        QTest::newRow("missing") << QByteArray("-") << "无法读取皮肤文件 %1";
        QTest::newRow("not UTF-8") << QByteArray("QLabel { font-family: \"\xcb\xce\xcc\xe5\"; }")
                                   << "皮肤文件 %1 不是 UTF-8 文本。";
        QTest::newRow("faulty") << QByteArray("QLabel {\n color red;\n}")
                                << "皮肤文件 %1 第 2 行有错误：“color red”缺少“:”。";
        QTest::newRow("too large") << QByteArray(kMaxSkinFileBytes + 1, ' ') << "皮肤文件 %1 太大";
    }
    void readSkinSheetRefusesWhatCannotBeUsed()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        const QString path = env->Path("skins/mine.qss");
        if (bytes != "-")
            Write(path, bytes);
        const TSkin skin{"mine", path};
        const QString raised = ErrorOf([&] { QCOMPARE(ReadSkinSheet(skin), QString::fromUtf8(bytes)); });
        QVERIFY2(error.isEmpty() ? raised.isEmpty() : raised.startsWith(error.arg(QDir::toNativeSeparators(path))),
                 qPrintable(raised));
    }

    // A picture a skin names is read only from a plain file in the skin's own
    // folder, no larger than the cap, and the sheet then names a copy that
    // Qt reads instead; anything else is refused naming its line. A pipe
    // there would hang every start that reads it.
    void picturesOfASkin_data()
    {
        QTest::addColumn<QString>("named"); // in url()
        QTest::addColumn<QString>("error"); // empty: taken
        QTest::newRow("beside the sheet") << "a.png"
                                          << "";
        QTest::newRow("in a folder of the skin's, quoted") << "\"img/b.png\""
                                                           << "";
        QTest::newRow("Qt's own") << ":/skins/x.png"
                                  << "";
        QTest::newRow("outside the skin's folder") << "../outside.png"
                                                   << "第 2 行的图片“../outside.png”不在皮肤所在的文件夹里";
        QTest::newRow("a link out of it") << "link.png"
                                          << "第 2 行的图片“link.png”不在皮肤所在的文件夹里";
        QTest::newRow("a pipe") << "pipe.png"
                                << "第 2 行的图片“pipe.png”不是普通文件";
        QTest::newRow("too large") << "'big.png'"
                                   << "第 2 行的图片“big.png”太大";
        QTest::newRow("not there") << "gone.png"
                                   << "第 2 行的图片“gone.png”找不到这个文件";
    }
    void picturesOfASkin()
    {
        QFETCH(QString, named);
        QFETCH(QString, error);
        Write(env->Path("skins/a.png"), "picture a");
        Write(env->Path("skins/img/b.png"), "picture b");
        Write(env->Path("outside.png"), "not the skin's");
        Write(env->Path("skins/big.png"), QByteArray(kMaxSkinPictureBytes + 1, 'x'));
        QVERIFY(QFile::link(env->Path("outside.png"), env->Path("skins/link.png")));
        QCOMPARE(::mkfifo(QFile::encodeName(env->Path("skins/pipe.png")).constData(), 0600), 0);
        const QString path = env->Path("skins/mine.qss");
        Write(path, ("QLabel { color: #123; }\nQPushButton { image: url(" + named + "); }").toUtf8());
        QString sheet;
        const QString raised = ErrorOf([&] { sheet = ReadSkinSheet(TSkin{"mine", path}); });
        if (!error.isEmpty()) {
            QVERIFY2(raised.startsWith("皮肤文件 " + path + " " + error), qPrintable(raised));
            return;
        }
        QVERIFY2(raised.isEmpty(), qPrintable(raised));
        const QString copy = QRegularExpression("url\\(\"?([^\")]*)\"?\\)").match(sheet).captured(1);
        if (named.startsWith(":/")) {
            QCOMPARE(copy, named);
            return;
        }
        QVERIFY2(!copy.startsWith(env->Dir.path()), qPrintable(copy));
        QFile read(copy);
        QVERIFY(read.open(QIODevice::ReadOnly));
        QCOMPARE(read.readAll(), QByteArray(named.contains("b.png") ? "picture b" : "picture a"));
    }

    // 跟随系统 is stored as nothing, the others by name.
    void choiceIsKeptInTheSettings()
    {
        QCOMPARE(LoadSkinChoice(), QString("跟随系统"));
        SaveSkinChoice("深色");
        QCOMPARE(LoadSkinChoice(), QString("深色"));
        SaveSkinChoice("跟随系统");
        QCOMPARE(DbAccess->Query("select Skin from SysSet")->AsString(0), QString());
    }
};

JOTTEREL_STORE_TEST_MAIN(TestSkinStore)
#include "test_skinstore.moc"
