// Qt's own texts in Japanese: the buttons of every kind of message box and the file dialog.
#include "message_box_answerer.h"
#include "ui/common/qt_japanese.h"
#include "ui/common/qt_ui_port.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>

#include <gtest/gtest.h>

namespace tesmo::ui {
namespace {

TEST(QtJapanese, MessageBoxButtonsAndFileDialogReadJapanese) {
    test::MessageBoxAnswerer answerer;
    showMessage(nullptr, "a", "t", MsgIcon::Critical, MsgButtons::Ok);
    showMessage(nullptr, "b", "t", MsgIcon::Information, MsgButtons::OkCancel);
    showMessage(nullptr, "c", "t", MsgIcon::Information, MsgButtons::YesNo);
    ASSERT_EQ(answerer.buttons.size(), 3);
    EXPECT_EQ(answerer.buttons[0], QStringLiteral("OK"));
    EXPECT_TRUE(answerer.buttons[1] == QStringLiteral("OK/キャンセル") ||
                answerer.buttons[1] == QStringLiteral("キャンセル/OK"))
        << answerer.buttons[1].toStdString();
    EXPECT_TRUE(answerer.buttons[2] == QStringLiteral("はい/いいえ") ||
                answerer.buttons[2] == QStringLiteral("いいえ/はい"))
        << answerer.buttons[2].toStdString();

    ASSERT_TRUE(installQtJapanese(*qApp)) << "qt6-translations-l10n is not installed";
    QFileDialog dialog(nullptr, QStringLiteral("出力先を指定してください"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QStringList texts;
    for (QLabel *l : dialog.findChildren<QLabel *>())
        texts << l->text();
    for (QAbstractButton *b : dialog.findChildren<QAbstractButton *>())
        texts << b->text();
    const QString all = texts.join(QLatin1Char('|'));
    EXPECT_TRUE(all.contains(QStringLiteral("保存"))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("ファイル名"))) << all.toStdString();
    EXPECT_FALSE(all.contains(QStringLiteral("Look in"))) << all.toStdString();
}

} // namespace
} // namespace tesmo::ui
