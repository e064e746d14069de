// The options window on the offscreen platform: its controls show the settings, the switches
// enable what they govern, OK saves and closes, and a missing portfolio keeps it open.
#include "core/common/app_state.h"
#include "core/storage/settings_keys.h"
#include "message_box_answerer.h"
#include "support/jquants_stand_in.h"
#include "support/temp_env.h"
#include "ui/common/window_hub.h"
#include "ui/shell/options_window.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace tesmo;
using tesmo::test::MessageBoxAnswerer;
using tesmo::test::TempEnv;
namespace keys = tesmo::storage::keys;

namespace {

template <typename T> T *child(QWidget &w, const char *name) {
    T *c = w.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

TEST(OptionsWindow, ShowsTheSettingsWithTheirCaptionsAndTips) {
    TempEnv env;
    storage::writeSetting(keys::compyc, "2800");
    storage::writeSetting(keys::cpseplt, "1");
    storage::writeSetting(keys::nomoremsg, "1");
    ui::OptionsWindow form;
    form.show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("ｵﾌﾟｼｮﾝ"));
    EXPECT_EQ(child<QLineEdit>(form, "T_compyC")->text(), QStringLiteral("2800"));
    EXPECT_EQ(child<QLineEdit>(form, "T_compyC")->toolTip(),
              QStringLiteral("この件数を下回った場合に異常を検出します"));
    EXPECT_EQ(child<QLineEdit>(form, "T_debugcode")->toolTip(),
              QStringLiteral("通常はここには何もいれないでください"));
    EXPECT_EQ(child<QLineEdit>(form, "T_maxDTc")->toolTip(),
              QStringLiteral("これを増やすとグラフの日足が増えますが更新や表示が遅くなります。"));
    EXPECT_EQ(child<QLineEdit>(form, "T_wontonton")->text(),
              QString::fromStdString(storage::readSetting(keys::mdbpath)));
    EXPECT_TRUE(child<QRadioButton>(form, "Op_sep_1")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(form, "C_nomoremsg")->isChecked());
    EXPECT_EQ(child<QPushButton>(form, "C_auto_up")->text(), QStringLiteral("自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ"));
    EXPECT_EQ(child<QPushButton>(form, "refetchButton")->text(), QStringLiteral("DB再取得"));
    EXPECT_TRUE(child<QPushButton>(form, "refetchButton")->acceptDrops());
    EXPECT_EQ(child<QGroupBox>(form, "Frame1")->title(), QStringLiteral("出力時の区切り"));
    EXPECT_EQ(storage::readSetting(keys::cnt_F_opt), "1");
    form.close();
}

TEST(OptionsWindow, SwitchesEnableWhatTheyGovern) {
    TempEnv env;
    ui::OptionsWindow form;
    form.show();
    auto *proxy = child<QCheckBox>(form, "Ch_proxy");
    auto *server = child<QLineEdit>(form, "T_poxysv");
    auto *serverLabel = child<QLabel>(form, "L_porxy3");
    EXPECT_FALSE(server->isEnabled());
    EXPECT_EQ(serverLabel->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    proxy->click();
    EXPECT_TRUE(server->isEnabled());
    EXPECT_TRUE(child<QLineEdit>(form, "T_poxypd")->isEnabled());
    EXPECT_NE(serverLabel->palette().color(QPalette::WindowText), QColor(128, 128, 128));

    auto *jquants = child<QRadioButton>(form, "Op_source_1");
    auto *key = child<QLineEdit>(form, "T_jqkey");
    EXPECT_TRUE(child<QRadioButton>(form, "Op_source_0")->isChecked());
    EXPECT_FALSE(key->isEnabled());
    EXPECT_EQ(key->echoMode(), QLineEdit::Password);
    jquants->click();
    EXPECT_TRUE(key->isEnabled());
    EXPECT_TRUE(child<QPushButton>(form, "C_jqtest")->isEnabled());

    auto *portfolio = child<QCheckBox>(form, "Ch_portOPT");
    portfolio->click();
    EXPECT_TRUE(child<QPushButton>(form, "C_port_new")->isEnabled());
    portfolio->click();
    EXPECT_FALSE(child<QPushButton>(form, "C_port_new")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>(form, "T_portfile")->isEnabled());
    form.close();
}

TEST(OptionsWindow, OkSavesAndClosesButNotWithAMissingPortfolio) {
    TempEnv env;
    MessageBoxAnswerer boxes;
    {
        ui::OptionsWindow form;
        form.show();
        child<QLineEdit>(form, "T_maxDTc")->setText(QStringLiteral("55"));
        child<QCheckBox>(form, "Ch_portOPT")->click();
        child<QLineEdit>(form, "T_portfile")->setText(QString::fromStdString(env.path("no.mdb")));
        child<QPushButton>(form, "C_OK")->click();
        EXPECT_TRUE(form.isVisible());
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].endsWith(QStringLiteral(" が見つかりません。")));
        EXPECT_EQ(storage::readSetting(keys::maxdtc), "40");

        child<QCheckBox>(form, "Ch_portOPT")->click();
        child<QPushButton>(form, "C_OK")->click();
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(storage::readSetting(keys::maxdtc), "55");
        // The portfolio path was edited: that takes a restart, even with the switch off.
        ASSERT_EQ(boxes.texts.size(), 2);
        EXPECT_TRUE(boxes.texts[1].startsWith(QStringLiteral("[DBの参照位置]もしくは[ﾎﾟｰﾄﾌｫﾘｵ]")));
        EXPECT_EQ(boxes.titles[1], QStringLiteral("ｵﾌﾟｼｮﾝ"));
    }
    EXPECT_EQ(storage::readSetting(keys::cnt_F_opt), "0");

    ui::OptionsWindow again;
    EXPECT_EQ(child<QLineEdit>(again, "T_maxDTc")->text(), QStringLiteral("55"));
    child<QLineEdit>(again, "T_maxDTc")->setText(QStringLiteral("99"));
    child<QPushButton>(again, "C_cancel")->click();
    EXPECT_EQ(storage::readSetting(keys::maxdtc), "55");
}

// 日次データ保管数 takes 5 to 500 days, full width too, and is kept half width; anything else
// is refused with a message, keeps the window open and saves nothing.
TEST(OptionsWindow, KeptDaysAreBoundedAndRefusedWithAMessage) {
    TempEnv env;
    const struct {
        const char *typed;
        const char *stored; // nullptr: refused
    } cases[] = {{"500", "500"},    {"５００", "500"}, {" 75 ", "75"}, {"5", "5"},
                 {"501", nullptr},  {"4", nullptr},    {"0", nullptr}, {"", nullptr},
                 {"-100", nullptr}, {"1e3", nullptr},  {"百", nullptr}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        storage::writeSetting(keys::maxdtc, "40");
        MessageBoxAnswerer boxes;
        ui::OptionsWindow form;
        form.show();
        child<QLineEdit>(form, "T_maxDTc")->setText(QString::fromUtf8(c.typed));
        child<QPushButton>(form, "C_OK")->click();
        if (c.stored) {
            EXPECT_FALSE(form.isVisible());
            EXPECT_EQ(storage::readSetting(keys::maxdtc), c.stored);
            EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(u'|').toStdString();
        } else {
            EXPECT_TRUE(form.isVisible());
            EXPECT_EQ(storage::readSetting(keys::maxdtc), "40");
            EXPECT_EQ(boxes.texts, QStringList{QStringLiteral(
                                       "[日次データ保管数]には5～500の数値を入力してください。")});
            form.close();
        }
    }
}

// "接続テスト" asks the stand-in with the key as typed, before anything is saved.
TEST(OptionsWindow, ConnectionTestUsesTheTypedKey) {
    TempEnv env;
    test::FakeClock clock;
    sample_site::JQuantsOptions o;
    o.endDate = 20240105;
    o.stocks = 5;
    test::JQuantsStandIn stand(o, clock);
    storage::writeSetting(keys::jquantsapi, stand.base());
    MessageBoxAnswerer boxes;
    ui::OptionsWindow form;
    form.show();
    child<QRadioButton>(form, "Op_source_1")->click();
    for (const char *typed : {"wrong-key", "tesmo-sample-key"}) {
        child<QLineEdit>(form, "T_jqkey")->setText(QString::fromLatin1(typed));
        child<QPushButton>(form, "C_jqtest")->click();
    }
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_TRUE(boxes.texts[0].contains(QStringLiteral("(HTTP 403)")));
    EXPECT_TRUE(boxes.texts[1].contains(QStringLiteral("APIキーは有効です")));
    EXPECT_EQ(boxes.titles[1], QStringLiteral("接続テスト"));
    EXPECT_EQ(storage::readSetting(keys::jquantskey), "");
    form.close();
}

TEST(OptionsWindow, RegisteredWithTheWindowHub) {
    TempEnv env;
    ui::registerOptionsWindow();
    ASSERT_TRUE(ui::WindowHub::instance().canShow(ui::WindowKind::Options));
    QWidget *w = ui::WindowHub::instance().show(ui::WindowKind::Options);
    ASSERT_NE(qobject_cast<ui::OptionsWindow *>(w), nullptr);
    EXPECT_TRUE(w->isVisible());
    w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
