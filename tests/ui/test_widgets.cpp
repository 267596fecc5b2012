// The picture button, the key translation, Qt's own texts and the log window.
#include "frmlog.h"
#include "qtprompt.h"
#include "rimbalbtn.h"
#include "vkeys.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

using namespace rimbal;

namespace {

// Given a hundred thousand messages (a hostile package's list), the log
// window holds the first three hundred and one line with how many more.
TEST(LogWindow, ShowsTheFirstMessagesAndHowManyMoreThereWere) {
    QStringList lines;
    for (int i = 0; i < 100'000; ++i) lines << QStringLiteral("Linha %1").arg(i + 1);
    TFrmLog log;
    log.appendLines(lines);
    const auto* memo = log.findChild<QPlainTextEdit*>("MemoLog");
    ASSERT_EQ(memo->blockCount(), 301);
    EXPECT_EQ(memo->document()->findBlockByNumber(299).text(), "Linha 300");
    EXPECT_EQ(memo->document()->lastBlock().text(), "... e mais 99700 mensagens.");
    TFrmLog few;
    few.appendLines(lines.first(301));
    EXPECT_EQ(few.text(), lines.first(301).join('\n')) << "a list that fits is shown whole";
}

TEST(PictureButton, SwapsPicturesOnlyWhenEnabledChanges) {
    TRimbalBtn b;
    QPixmap normal(50, 50), disabled(50, 50), later(50, 50);
    normal.fill(Qt::blue);
    disabled.fill(Qt::gray);
    later.fill(Qt::red);
    b.setPicNormal(normal);
    b.setPicDisabled(disabled);
    EXPECT_EQ(b.pixmap().cacheKey(), normal.cacheKey()) << "the normal picture shows at once";
    b.setEnabled(false);
    EXPECT_EQ(b.pixmap().cacheKey(), disabled.cacheKey());
    b.setPicDisabled(later);
    EXPECT_EQ(b.pixmap().cacheKey(), disabled.cacheKey()) << "a new disabled picture waits for the next change";
    b.setEnabled(false);
    EXPECT_EQ(b.pixmap().cacheKey(), disabled.cacheKey());
    b.setEnabled(true);
    EXPECT_EQ(b.pixmap().cacheKey(), normal.cacheKey());
    b.setEnabled(false);
    EXPECT_EQ(b.pixmap().cacheKey(), later.cacheKey());
    TRimbalBtn bare;
    bare.setPicNormal(normal);
    bare.setEnabled(false);
    EXPECT_TRUE(bare.pixmap().isNull()) << "no disabled picture: empty";
}

TEST(VirtualKeys, QtKeysMapToTheWindowsCodesOfTheSameKey) {
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_A, false), 0x41);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Z, false), 0x5A);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_5, false), 0x35);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_5, true), 0x65) << "keypad 5 with Num Lock";
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Home, true), 0x24) << "keypad 7 without Num Lock";
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Clear, true), 0x0C);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Asterisk, true), 0x6A);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Enter, true), 0x0D);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_F1, false), 0x70);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_F24, false), 0x87);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Space, false), 0x20);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Left, false), 0x25);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Shift, false), 0x10);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Control, false), 0x11);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Alt, false), 0x12);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Semicolon, false), 0xBA);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Colon, false), 0xBA) << "shifted, the same key";
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_BracketLeft, false), 0xDB);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Apostrophe, false), 0xDE);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_QuoteLeft, false), 0xC0);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_unknown, false), 0);
}

TEST(VirtualKeys, X11ScanCodesMapByPhysicalPosition) {
    EXPECT_EQ(VirtualKeyFromScanCode(38), 'A');
    EXPECT_EQ(VirtualKeyFromScanCode(24), 'Q') << "the same physical key whatever the layout says";
    EXPECT_EQ(VirtualKeyFromScanCode(10), '1');
    EXPECT_EQ(VirtualKeyFromScanCode(65), 0x20);
    EXPECT_EQ(VirtualKeyFromScanCode(67), 0x70);
    EXPECT_EQ(VirtualKeyFromScanCode(87), 0x61) << "keypad 1";
    EXPECT_EQ(VirtualKeyFromScanCode(113), 0x25);
    EXPECT_EQ(VirtualKeyFromScanCode(133), 0x5B);
    EXPECT_EQ(VirtualKeyFromScanCode(47), 0xBA);
    EXPECT_EQ(VirtualKeyFromScanCode(0), 0);
    EXPECT_EQ(VirtualKeyFromScanCode(9999), 0);
}


TEST(QtTexts, TheFileDialogsSpeakPortuguese) {
    QTranslator texts;
    ASSERT_TRUE(InstallQtTranslations(texts)) << "Qt's translations (qt6-translations-l10n) are missing";
    QFileDialog dialog(nullptr, QStringLiteral("Abrir"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    const auto* lookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    const auto* fileName = dialog.findChild<QLabel*>(QStringLiteral("fileNameLabel"));
    ASSERT_TRUE(buttons && lookIn && fileName);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancelar"));
    EXPECT_EQ(buttons->button(QDialogButtonBox::Open)->text().remove(u'&'), QStringLiteral("Abrir"));
    EXPECT_FALSE(lookIn->text().contains(QStringLiteral("Look in"))) << lookIn->text().toStdString();
    EXPECT_FALSE(fileName->text().contains(QStringLiteral("File name"))) << fileName->text().toStdString();
}


// Some window managers never activate the frameless start-up splash: the log of
// the start-up's errors must still open over it, not in a corner of the screen.
TEST(QtBoxes, OpenOverTheModalWindowWhenNoWindowIsActive) {
    QDialog splash;
    splash.setAttribute(Qt::WA_ShowWithoutActivating);
    splash.setWindowModality(Qt::ApplicationModal);
    splash.show();
    ASSERT_EQ(QApplication::activeWindow(), nullptr);
    QWidget* parent = &splash;
    QTimer::singleShot(0, [&] {
        QWidget* log = QApplication::activeModalWidget();
        parent = log != &splash ? log->parentWidget() : nullptr;
        if (log != &splash) log->close();
    });
    QtLogView().showLog(QStringLiteral("Erros ao criar sons"), {QStringLiteral("Arquivo não existe: x.wav")});
    EXPECT_EQ(parent, &splash);
}

}  // namespace
