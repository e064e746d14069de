#include "shell/form1.h"
#include "storage/connection.h"
#include "storage/settings_keys.h"
#include "support/temp_env.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tesmo;
using tesmo::test::TempEnv;

namespace {

TEST(Form1, ShowsTheNewestDateAfterStartUp) {
    TempEnv env;
    const std::string db = env.newDatabase();
    storage::writeSetting(storage::keys::mdbpath, db);
    {
        auto conn = storage::Database::open(db, storage::kConnectString);
        conn->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(20240105,'1301',1,2,3) ;");
        conn->execute("Insert Into T_NEARLY(IDATE,CODE,PRC,DVAL,TALK) Values(20240104,'1301',1,2,3) ;");
    }
    ui::Form1 form;
    form.show();
    EXPECT_EQ(form.dateText(), QStringLiteral("<検索中>"));
    ASSERT_TRUE(form.startUp());
    EXPECT_EQ(form.dateText(), QStringLiteral("20240105"));
    EXPECT_TRUE(form.windowTitle().startsWith(QStringLiteral("Tesmo ")));
    form.close();
    EXPECT_FALSE(storage::isDatabaseConnected());
}

TEST(Form1, EmptyDatabaseSaysSoInsteadOfFailing) {
    TempEnv env;
    storage::writeSetting(storage::keys::mdbpath, env.newDatabase());
    ui::Form1 form;
    ASSERT_TRUE(form.startUp());
    EXPECT_EQ(form.dateText(), QStringLiteral("ﾃﾞｰﾀなし"));
}

TEST(Form1, ConnectionFailureShowsTheMessageAndKeepsTheCaption) {
    TempEnv env;
    storage::writeSetting(storage::keys::mdbpath, env.path("missing.mdb"));
    for (bool debug : {false, true}) {
        storage::writeSetting(storage::keys::debugcode, debug ? storage::kDebugCode : "");
        ui::Form1 form;
        form.show();
        QString shown;
        QTimer::singleShot(0, [&shown] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                    shown = box->text();
                    box->accept();
                }
        });
        EXPECT_FALSE(form.startUp());
        if (debug)
            EXPECT_TRUE(shown.startsWith(QStringLiteral("DB接続ｴﾗｰ 詳細:"))) << shown.toStdString();
        else
            EXPECT_EQ(shown, QStringLiteral("DBに接続できません。ｵﾌﾟｼｮﾝの[DBの参照位置]を確認してください"));
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Tesmo"));
        EXPECT_EQ(form.dateText(), QStringLiteral("<検索中>"));
    }
}

} // namespace
