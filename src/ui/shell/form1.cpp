#include "shell/form1.h"

#include "shell/newest_date.h"
#include "storage/connection.h"
#include "storage/settings_keys.h"
#include "build_config.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tesmo::ui {

Form1::Form1(QWidget *parent) : QWidget(parent), m_port(this) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Tesmo"));
    Label1 = new QLabel(QStringLiteral("直近日付"), this);
    Label1->setObjectName("Label1");
    Text_date = new QLabel(QStringLiteral("<検索中>"), this);
    Text_date->setObjectName("Text_date");
    Text_date->setFrameShape(QFrame::StyledPanel);
    Text_date->setMinimumWidth(110);
    Text_date->setAlignment(Qt::AlignCenter);

    auto *row = new QHBoxLayout;
    row->addWidget(Label1);
    row->addWidget(Text_date, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addStretch(1);
    resize(320, 120);
}

Form1::~Form1() { storage::CloseDatabase(); }

bool Form1::startUp() {
    try {
        storage::ConnectDatabase();
    } catch (const std::exception &e) {
        m_port.beep();
        const std::string text =
            storage::debugMode()
                ? std::string("DB接続ｴﾗｰ 詳細:") + e.what()
                : std::string("DBに接続できません。ｵﾌﾟｼｮﾝの[DBの参照位置]を確認してください");
        m_port.message(text, "Tesmo", MsgIcon::Critical, MsgButtons::Ok);
        return false;
    }
    setWindowTitle(QStringLiteral("Tesmo %1").arg(QStringLiteral(TESMO_VERSION_SHORT)));
    set_later_date();
    return true;
}

void Form1::set_later_date() {
    Text_date->setText(qs(shell::newestDateText(shell::newestDate(storage::mainDatabase()))));
}

void Form1::closeEvent(QCloseEvent *event) {
    storage::CloseDatabase();
    event->accept();
}

} // namespace tesmo::ui
