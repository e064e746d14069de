#include "ui/shell/welcome_window.h"

#include "core/common/paths.h"
#include "core/common/shell_open.h"
#include "core/shell/options.h"
#include "core/storage/settings_keys.h"
#include "ui/common/routine_scope.h"
#include "ui/common/window_hub.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tesmo::ui {
namespace {

namespace keys = storage::keys;

QLabel *paragraph(QWidget *parent, const QString &text) {
    auto *l = new QLabel(text, parent);
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

// The plans of J-Quants and the requests a minute each allows.
const std::pair<const char *, const char *> kPlans[] = {
    {"Free (5回/分)", "5"},
    {"Light (60回/分)", "60"},
    {"Standard (120回/分)", "120"},
    {"Premium (500回/分)", "500"},
};

} // namespace

WelcomeWindow::WelcomeWindow(QWidget *parent) : QDialog(parent), m_port(this) {
    setObjectName(QStringLiteral("F_welcome"));
    setWindowTitle(QStringLiteral("Tesmoへようこそ"));
    buildControls();
}

void WelcomeWindow::buildControls() {
    auto *title = new QLabel(QStringLiteral("Tesmoへようこそ"), this);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    title->setFont(big);
    auto *intro = paragraph(this, QStringLiteral("Tesmoは日本株の終値と出来高を毎日取り込み、"
                                                 "ランキング表やチャートで表示します。\n"
                                                 "はじめに、データをどこから取り込むかを選ん"
                                                 "でください。"));

    const shell::SourceState state = shell::sourceState();
    const bool siteSet = !shell::placeholderHost(storage::readSetting(keys::myhpadd4));
    auto *group = new QButtonGroup(this);

    // J-Quants first: it is the source that works without an address of our own.
    Op_source[1] = new QRadioButton(
        QStringLiteral("J-Quants API V2 (日本取引所グループの公式データサービス)"), this);
    Op_source[1]->setObjectName(QStringLiteral("Op_source_1"));
    auto *jqText = paragraph(
        this, QStringLiteral("東京証券取引所の全銘柄の株価と出来高を取り込みます。"
                             "jpx-jquants.com で利用登録してプランを選び (無料のFreeプランが"
                             "あります)、ダッシュボードの「API Keys」で発行したAPIキーを下に"
                             "貼り付けてください。Freeプランのデータは12週間遅れで、"
                             "リクエストは1分あたり5回までです。Web話題の件数はありません。"));
    T_jqkey = new QLineEdit(this);
    T_jqkey->setObjectName(QStringLiteral("T_jqkey"));
    T_jqkey->setEchoMode(QLineEdit::Password);
    T_jqkey->setText(qs(storage::readSetting(keys::jquantskey)));
    T_jqkey->setPlaceholderText(QStringLiteral("ダッシュボードで発行したAPIキー"));
    C_jqtest = new QPushButton(QStringLiteral("接続テスト"), this);
    C_jqtest->setObjectName(QStringLiteral("C_jqtest"));
    C_jqtest->setAutoDefault(false);
    Cb_plan = new QComboBox(this);
    Cb_plan->setObjectName(QStringLiteral("Cb_plan"));
    const QString rate = qs(storage::readSetting(keys::jquantsrate));
    for (const auto &[name, perMinute] : kPlans)
        Cb_plan->addItem(QString::fromUtf8(name), QString::fromUtf8(perMinute));
    // A rate set by hand in the options stays on offer.
    if (Cb_plan->findData(rate) < 0 && shell::rateNumber(us(rate)))
        Cb_plan->addItem(QStringLiteral("%1回/分").arg(rate), rate);
    Cb_plan->setCurrentIndex(std::max(0, Cb_plan->findData(rate)));
    auto *jqFields = new QGridLayout;
    jqFields->addWidget(new QLabel(QStringLiteral("APIキー"), this), 0, 0);
    jqFields->addWidget(T_jqkey, 0, 1);
    jqFields->addWidget(C_jqtest, 0, 2);
    jqFields->addWidget(new QLabel(QStringLiteral("プラン"), this), 1, 0);
    jqFields->addWidget(Cb_plan, 1, 1);
    jqFields->setColumnStretch(1, 1);

    Op_source[0] =
        new QRadioButton(QStringLiteral("データサイト (営業日ごとのデータファイル)"), this);
    Op_source[0]->setObjectName(QStringLiteral("Op_source_0"));
    auto *siteText =
        paragraph(this, QStringLiteral("Tesmo用のデータサイトから営業日ごとのデータファイルを"
                                       "取り込みます。終値と出来高のほか、Web話題の件数も"
                                       "入ります。"));
    L_siteNote = paragraph(this, QString());
    L_siteNote->setObjectName(QStringLiteral("L_siteNote"));
    if (siteSet) {
        L_siteNote->setText(
            QStringLiteral("接続先: %1").arg(qs(storage::readSetting(keys::myhpadd4))));
    } else {
        // A build without a data site of its own points at a name that never exists.
        L_siteNote->setText(
            QStringLiteral("このTesmoにはデータサイトの接続先が設定されていないため、選べません。"
                           "接続先が分かる場合は、[ｵﾌﾟｼｮﾝ]の[Webﾃﾞｰﾀ取得]に入力してください。"));
        L_siteNote->setStyleSheet(QStringLiteral("color: #c00000;"));
        Op_source[0]->setEnabled(false);
    }
    group->addButton(Op_source[0]);
    group->addButton(Op_source[1]);
    const bool jquants = state == shell::SourceState::JQuants ||
                         state == shell::SourceState::JQuantsKeyMissing || !siteSet;
    Op_source[jquants ? 1 : 0]->setChecked(true);

    auto *next = new QFrame(this);
    next->setFrameShape(QFrame::StyledPanel);
    auto *nextLayout = new QVBoxLayout(next);
    nextLayout->addWidget(paragraph(
        next, QStringLiteral("次の操作: [OK]を押したあと、メインウィンドウの[データ更新]を押して"
                             "ください。まだ取り込んでいない営業日のデータを取り込みます"
                             "(Freeプランでは、最初の取り込みに30分前後かかります)。")));

    C_help = new QPushButton(QStringLiteral("ヘルプ"), this);
    C_help->setObjectName(QStringLiteral("C_help"));
    C_help->setAutoDefault(false);
    // Only where the desktop can open the page: a button that can only fail helps nobody.
    C_help->setVisible(shell::pageOpenerAvailable() &&
                       !firstMatchingFile(installPath("Tesmo.html")).empty());
    C_later = new QPushButton(QStringLiteral("あとで設定する"), this);
    C_later->setObjectName(QStringLiteral("C_later"));
    C_later->setAutoDefault(false);
    C_OK = new QPushButton(QStringLiteral("OK"), this);
    C_OK->setObjectName(QStringLiteral("C_OK"));
    C_OK->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(C_help);
    buttons->addStretch(1);
    buttons->addWidget(C_later);
    buttons->addWidget(C_OK);

    auto indented = [](QLayout *inner) {
        auto *row = new QHBoxLayout;
        row->addSpacing(24);
        row->addLayout(inner);
        return row;
    };
    auto *jqBlock = new QVBoxLayout;
    jqBlock->addWidget(jqText);
    jqBlock->addLayout(jqFields);
    auto *siteBlock = new QVBoxLayout;
    siteBlock->addWidget(siteText);
    siteBlock->addWidget(L_siteNote);

    auto *all = new QVBoxLayout(this);
    all->addWidget(title);
    all->addWidget(intro);
    all->addSpacing(8);
    all->addWidget(Op_source[1]);
    all->addLayout(indented(jqBlock));
    all->addSpacing(8);
    all->addWidget(Op_source[0]);
    all->addLayout(indented(siteBlock));
    all->addSpacing(8);
    all->addWidget(next);
    all->addLayout(buttons);
    resize(560, sizeHint().height());

    for (QRadioButton *r : Op_source)
        connect(r, &QRadioButton::toggled, this, [this] { sourceClicked(); });
    connect(C_jqtest, &QPushButton::clicked, this, [this] { testJQuantsConnection(); });
    connect(C_OK, &QPushButton::clicked, this, [this] { saveAndClose(); });
    connect(C_later, &QPushButton::clicked, this, [this] { askLater(); });
    connect(C_help, &QPushButton::clicked, this, [this] {
        runCommand(this, [this] { openPage(this, installPath("Tesmo.html"), windowTitle()); });
    });
    sourceClicked();
}

void WelcomeWindow::sourceClicked() {
    const bool jquants = Op_source[1]->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(T_jqkey), static_cast<QWidget *>(Cb_plan),
                       static_cast<QWidget *>(C_jqtest)})
        w->setEnabled(jquants);
}

shell::SourceChoice WelcomeWindow::choice() const {
    shell::SourceChoice c;
    c.jquants = Op_source[1]->isChecked();
    c.key = us(T_jqkey->text().trimmed());
    c.rate = us(Cb_plan->currentData().toString());
    return c;
}

void WelcomeWindow::testJQuantsConnection() {
    if (m_port.busy())
        return;
    runCommand(this, [this] {
        if (T_jqkey->text().trimmed().isEmpty()) {
            m_port.message("APIキーを入力してください。", us(windowTitle()), MsgIcon::Information,
                           MsgButtons::Ok);
            return;
        }
        shell::testSourceChoice(choice(), m_port);
    });
}

void WelcomeWindow::saveAndClose() {
    if (m_port.busy())
        return;
    bool saved = false;
    runCommand(this, [this, &saved] {
        const std::string refusal = shell::saveSourceChoice(choice());
        if (!refusal.empty()) {
            m_port.message(refusal, us(windowTitle()), MsgIcon::Information, MsgButtons::Ok);
            return;
        }
        saved = true;
    });
    if (saved)
        accept();
}

void WelcomeWindow::askLater() {
    if (!m_port.busy())
        reject();
}

void WelcomeWindow::closeEvent(QCloseEvent *event) {
    if (refuseCloseWhileBusy(this, event))
        return;
    QDialog::closeEvent(event);
}

} // namespace tesmo::ui
