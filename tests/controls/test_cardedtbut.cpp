#include "support/TestMain.h"

#include "controls/CardEdtBut.h"
#include "controls/CardIcons.h"

#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

Q_DECLARE_METATYPE(TBmpCount)

namespace {

// A shown, active window holding a plain edit (which starts with the focus) and the control under test.
struct Form
{
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QLineEdit* other = new QLineEdit(window.get());
    TCardEdtBut* edit = new TCardEdtBut(window.get());

    Form()
    {
        auto* layout = new QVBoxLayout(window.get());
        layout->addWidget(other);
        layout->addWidget(edit);
        window->show();
        window->activateWindow();
        other->setFocus();
    }
};

QImage Argb(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// The rectangle of the button, in the edit's coordinates.
QRect ButtonRect(const TCardEdtBut& edit)
{
    return QRect(edit.Button()->mapTo(&edit, QPoint(0, 0)), edit.Button()->size());
}

} // namespace

class TestCardEdtBut : public QObject
{
    Q_OBJECT

private slots:
    void buttonClickRaisesAfterFocus_data();
    void buttonClickRaisesAfterFocus();
    void butVisibleRemovesAndRestores();
    void layoutKeepsSquareAtRightEnd_data();
    void layoutKeepsSquareAtRightEnd();
    void sameButtonBmpChangesNothing();
    void glyphLoadedOncePerProcess();
    void glyphsHaveTransparentBackgroundAndGreyDisabledHalf_data();
    void glyphsHaveTransparentBackgroundAndGreyDisabledHalf();
    void disabledButtonShowsDisabledImage();
    void designerPropertiesSetByName();
    void programPicturesLoad();
};

void TestCardEdtBut::buttonClickRaisesAfterFocus_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("mouse");
    QTest::addColumn<int>("raised");

    // A mouse press alone moves focus to the nearest focusable parent; a click from the keyboard or an
    // accessibility tool does not, so the control must move it itself.
    QTest::newRow("editable, mouse") << false << true << true << 1;
    QTest::newRow("read-only, mouse") << true << true << true << 1;
    QTest::newRow("read-only, programmatic") << true << true << false << 1;
    QTest::newRow("disabled, mouse") << false << false << true << 0;
}

void TestCardEdtBut::buttonClickRaisesAfterFocus()
{
    QFETCH(bool, readOnly);
    QFETCH(bool, enabled);
    QFETCH(bool, mouse);
    QFETCH(int, raised);

    Form form;
    QVERIFY(QTest::qWaitForWindowActive(form.window.get()));
    form.edit->setReadOnly(readOnly);
    form.edit->setEnabled(enabled);
    form.edit->setCursor(Qt::ForbiddenCursor);

    QObject* sender = nullptr;
    bool focusedAtRaise = false;
    int count = 0;
    connect(form.edit, &TCardEdtBut::OnButClick, form.edit, [&](QObject* s) {
        ++count;
        sender = s;
        focusedAtRaise = QApplication::focusWidget() == form.edit;
    });
    if (mouse)
        QTest::mouseClick(form.edit->Button(), Qt::LeftButton);
    else
        form.edit->Button()->click();

    QCOMPARE(count, raised);
    if (raised) {
        QCOMPARE(sender, form.edit);
        QVERIFY(focusedAtRaise);
    } else {
        QCOMPARE(QApplication::focusWidget(), form.other);
    }
    QCOMPARE(form.edit->Button()->cursor().shape(), Qt::ArrowCursor);
}

void TestCardEdtBut::butVisibleRemovesAndRestores()
{
    Form form;
    // The left margin belongs to the form; the control only ever changes the right one.
    form.edit->setTextMargins(5, 0, 0, 0);
    form.edit->setFixedSize(256, 21);
    QApplication::processEvents();
    const QRect shown = ButtonRect(*form.edit);
    QCOMPARE(form.edit->textMargins(), QMargins(5, 0, 17, 0));

    form.edit->SetButVisible(false);
    QVERIFY(!form.edit->ButVisible());
    QVERIFY(!form.edit->Button()->isVisible());
    QVERIFY(form.edit->ButtonPanel()->geometry().isEmpty());
    QCOMPARE(form.edit->textMargins(), QMargins(5, 0, 0, 0));

    form.edit->SetButVisible(true);
    QVERIFY(form.edit->Button()->isVisible());
    QCOMPARE(ButtonRect(*form.edit), shown);
    QCOMPARE(form.edit->textMargins(), QMargins(5, 0, 17, 0));

    // A resize while hidden must not bring the button back.
    form.edit->SetButVisible(false);
    form.edit->setFixedSize(300, 30);
    QApplication::processEvents();
    QVERIFY(!form.edit->Button()->isVisible());
    QCOMPARE(form.edit->textMargins().right(), 0);
}

void TestCardEdtBut::layoutKeepsSquareAtRightEnd_data()
{
    QTest::addColumn<bool>("frame");
    QTest::addColumn<QSize>("first");
    QTest::addColumn<QSize>("second");
    QTest::addColumn<QRect>("expected");

    // The bookmark dialog's group field: 21 pixels high with a frame, hence a 17 x 17 button.
    QTest::newRow("group field") << true << QSize(100, 40) << QSize(256, 21) << QRect(237, 2, 17, 17);
    QTest::newRow("grown") << true << QSize(256, 21) << QSize(400, 32) << QRect(370, 2, 28, 28);
    QTest::newRow("no frame") << false << QSize(256, 21) << QSize(120, 24) << QRect(96, 0, 24, 24);
}

void TestCardEdtBut::layoutKeepsSquareAtRightEnd()
{
    QFETCH(bool, frame);
    QFETCH(QSize, first);
    QFETCH(QSize, second);
    QFETCH(QRect, expected);

    TCardEdtBut edit;
    edit.setFrame(frame);
    edit.resize(first);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.resize(second);

    QCOMPARE(ButtonRect(edit), expected);
    QCOMPARE(edit.ButtonPanel()->geometry(), expected);
    QCOMPARE(edit.textMargins().right(), expected.width());
}

void TestCardEdtBut::sameButtonBmpChangesNothing()
{
    TCardEdtBut edit;
    QCOMPARE(edit.ButtonBmp(), CardDown);
    const qint64 initial = edit.Button()->icon().cacheKey();

    edit.SetButtonBmp(CardDown);
    QCOMPARE(edit.Button()->icon().cacheKey(), initial);

    edit.SetButtonBmp(CardOK);
    QCOMPARE(edit.ButtonBmp(), CardOK);
    const qint64 changed = edit.Button()->icon().cacheKey();
    QVERIFY(changed != initial);
    QCOMPARE(Argb(edit.Button()->icon().pixmap(10, 10)), Argb(LoadCardGlyph(CardOK).copy(0, 0, 10, 10)));

    edit.SetButtonBmp(CardOK);
    QCOMPARE(edit.Button()->icon().cacheKey(), changed);
}

void TestCardEdtBut::glyphLoadedOncePerProcess()
{
    std::vector<std::unique_ptr<TCardEdtBut>> edits;
    for (int i = 0; i < 4; ++i) {
        edits.push_back(std::make_unique<TCardEdtBut>());
        edits.back()->SetButtonBmp(CardFolder);
    }
    QCOMPARE(CardGlyphLoadCount(CardFolder), 1);
    QCOMPARE(CardGlyphLoadCount(CardDown), 1);
    QCOMPARE(LoadCardGlyph(CardFolder).cacheKey(), LoadCardGlyph(CardFolder).cacheKey());
    QVERIFY(LoadCardGlyph(static_cast<TBmpCount>(99)).isNull());
}

void TestCardEdtBut::glyphsHaveTransparentBackgroundAndGreyDisabledHalf_data()
{
    QTest::addColumn<TBmpCount>("value");
    const QMetaEnum names = QMetaEnum::fromType<TBmpCount>();
    for (int i = 0; i < names.keyCount(); ++i)
        QTest::newRow(names.key(i)) << static_cast<TBmpCount>(names.value(i));
}

void TestCardEdtBut::glyphsHaveTransparentBackgroundAndGreyDisabledHalf()
{
    QFETCH(TBmpCount, value);
    const QImage glyph = Argb(LoadCardGlyph(value));
    QCOMPARE(glyph.size(), QSize(20, 10));

    int transparent = 0;
    int opaqueLeft = 0;
    int opaqueRight = 0;
    for (int y = 0; y < glyph.height(); ++y) {
        for (int x = 0; x < glyph.width(); ++x) {
            const QRgb pixel = glyph.pixel(x, y);
            if (qAlpha(pixel) == 0) {
                ++transparent;
                continue;
            }
            QCOMPARE(qAlpha(pixel), 255);
            QVERIFY2(qRgb(qRed(pixel), qGreen(pixel), qBlue(pixel)) != qRgb(0, 255, 255), "cyan left opaque");
            if (x < 10) {
                ++opaqueLeft;
            } else {
                ++opaqueRight;
                QVERIFY2(qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel), "disabled image not grey");
            }
        }
    }
    QVERIFY(transparent > 0);
    QVERIFY(opaqueLeft > 0);
    QVERIFY(opaqueRight > 0);
}

void TestCardEdtBut::disabledButtonShowsDisabledImage()
{
    TCardEdtBut edit;
    edit.SetButtonBmp(CardFind);
    const QIcon icon = edit.Button()->icon();
    const QPixmap& glyph = LoadCardGlyph(CardFind);
    QCOMPARE(Argb(icon.pixmap(QSize(10, 10), QIcon::Disabled)), Argb(glyph.copy(10, 0, 10, 10)));
    QCOMPARE(Argb(icon.pixmap(QSize(10, 10), QIcon::Normal)), Argb(glyph.copy(0, 0, 10, 10)));
}

void TestCardEdtBut::designerPropertiesSetByName()
{
    // uic writes a promoted widget's dynamic properties with setProperty, enumeration values by name.
    TCardEdtBut edit;
    QVERIFY(edit.setProperty("ButtonBmp", QStringLiteral("CardFind")));
    QCOMPARE(edit.ButtonBmp(), CardFind);
    QVERIFY(edit.setProperty("ButVisible", false));
    QVERIFY(!edit.ButVisible());
}

void TestCardEdtBut::programPicturesLoad()
{
    const QList<QIcon>& tree = TreeImages();
    QCOMPARE(tree.size(), 3);
    for (const QIcon& icon : tree)
        QCOMPARE(icon.pixmap(16, 16).size(), QSize(16, 16));
    QVERIFY(Argb(tree.at(1).pixmap(16, 16)) != Argb(tree.at(2).pixmap(16, 16)));
    QCOMPARE(&TreeImages(), &tree);

    const QIcon& group = GroupNodeIcon();
    QCOMPARE(Argb(group.pixmap(QSize(16, 16), QIcon::Normal)), Argb(tree.at(1).pixmap(16, 16)));
    QCOMPARE(Argb(group.pixmap(QSize(16, 16), QIcon::Selected)), Argb(tree.at(2).pixmap(16, 16)));

    QCOMPARE(OpenUrlPicture().size(), QSize(16, 16));

    const QList<QSize> sizes = AppIcon().availableSizes();
    for (int size : {16, 32, 48, 64, 128, 256})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
    QVERIFY(!AppIcon().pixmap(256, 256).isNull());
}

JOTTEREL_TEST_MAIN(TestCardEdtBut)
#include "test_cardedtbut.moc"
