#include "ui/shell/options_window.h"

#include "core/storage/connection.h"
#include "core/update/update_start.h"
#include "ui/common/routine_scope.h"
#include "ui/common/window_hub.h"
#include "ui/shell/main_window.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace tesmo::ui {
namespace {

QLineEdit *textBox(QWidget *parent, const char *name, const char *toolTip = nullptr) {
    auto *t = new QLineEdit(parent);
    t->setObjectName(name);
    if (toolTip)
        t->setToolTip(QString::fromUtf8(toolTip));
    return t;
}

QLabel *label(QWidget *parent, const char *name, const char *caption) {
    auto *l = new QLabel(QString::fromUtf8(caption), parent);
    l->setObjectName(name);
    return l;
}

QCheckBox *checkBox(QWidget *parent, const char *name, const char *caption) {
    auto *c = new QCheckBox(QString::fromUtf8(caption), parent);
    c->setObjectName(name);
    return c;
}

// Option button `index` of a control array: named like "Op_sep_0".
QRadioButton *optionButton(QWidget *parent, const char *name, int index, const char *caption) {
    auto *b = new QRadioButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index));
    return b;
}

QPushButton *button(QWidget *parent, const char *name, const char *caption) {
    auto *b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    return b;
}

MainWindow *mainWindow() {
    return qobject_cast<MainWindow *>(WindowHub::instance().mainWindow());
}

} // namespace

void DropButton::dragEnterEvent(QDragEnterEvent *event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void DropButton::dropEvent(QDropEvent *event) {
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    emit filesDropped(paths);
}

bool OptionsPort::busy() const {
    const MainWindow *main = mainWindow();
    return QtUiPort::busy() || (main && main->isBusy());
}

void OptionsPort::setBusy(bool busy) {
    QtUiPort::setBusy(busy);
    if (MainWindow *main = mainWindow())
        main->port().setBusy(busy);
}

OptionsWindow::OptionsWindow(QWidget *parent) : QWidget(parent, Qt::Window), m_port(this) {
    setObjectName("OptionsWindow");
    setWindowTitle(QString::fromUtf8(shell::kOptionsCaption));
    buildControls();
    loadValues();
}

OptionsWindow::~OptionsWindow() {
    shell::countOptionsWindow(-1);
}

void OptionsWindow::buildControls() {
    // Made in the order of the tab chain: the settings, the groups, then the commands.
    QGridLayout *settings = buildSettingsGrid();
    QGroupBox *groups[] = {buildSeparatorGroup(), buildPortfolioGroup(), buildProxyGroup(),
                           buildSourceGroup()};
    QHBoxLayout *commands = buildCommandRow();

    auto *right = new QVBoxLayout;
    for (QGroupBox *group : groups)
        right->addWidget(group);
    right->addStretch();
    auto *top = new QHBoxLayout;
    top->addLayout(settings, 3);
    top->addLayout(right, 2);
    auto *all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(commands);
    resize(820, 600);
    connectCommands();
}

QGridLayout *OptionsWindow::buildSettingsGrid() {
    auto *grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](QLabel *l, QWidget *w) {
        grid->addWidget(l, row, 0);
        grid->addWidget(w, row, 1);
        ++row;
    };
    T_wontonton = textBox(this, "T_wontonton");
    addRow(label(this, "Label4", "DBの参照位置"), T_wontonton);
    T_compyC = textBox(this, "T_compyC", "この件数を下回った場合に異常を検出します");
    addRow(label(this, "Label3", "最低銘柄数"), T_compyC);
    T_debugcode = textBox(this, "T_debugcode", "通常はここには何もいれないでください");
    addRow(label(this, "Label2", "ﾃﾞﾊﾞｯｸﾞｺｰﾄﾞ"), T_debugcode);
    T_web1sleep = textBox(this, "T_web1sleep");
    addRow(label(this, "Label5", "Web1ｽﾘｰﾌﾟ秒"), T_web1sleep);
    T_myhpadd = textBox(this, "T_myhpadd");
    addRow(label(this, "Label6", "Webﾃﾞｰﾀ取得"), T_myhpadd);
    T_myhpad_data = textBox(this, "T_myhpad_data");
    grid->addWidget(T_myhpad_data, row++, 1);
    T_maxDTc = textBox(this, "T_maxDTc",
                       "これを増やすとグラフの日足が増えますが更新や表示が遅くなります。");
    addRow(label(this, "Label7", "日次データ保管数"), T_maxDTc);
    T_browser = textBox(this, "T_browser");
    addRow(label(this, "Label8", "ﾌﾞﾗｳｻﾞ位置"), T_browser);

    C_autoTaskT = checkBox(this, "C_autoTaskT", "起動時はﾀｽｸﾄﾚｲで実行");
    C_noAnnounce = checkBox(this, "C_noAnnounce", "一度表示したお知らせは表示しない");
    C_nomoremsg = checkBox(this, "C_nomoremsg", "重要でない確認メッセージは表示しない");
    Chk_realc_spd = checkBox(this, "Chk_realc_spd", "ﾘｱﾙﾀｲﾑﾁｬｰﾄ呼び出し後、ﾍﾟｰｼﾞを残さない");
    for (QCheckBox *c : {C_autoTaskT, C_noAnnounce, C_nomoremsg, Chk_realc_spd})
        grid->addWidget(c, row++, 0, 1, 2);
    return grid;
}

QGroupBox *OptionsWindow::buildSeparatorGroup() {
    Frame1 = new QGroupBox(QString::fromUtf8("出力時の区切り"), this);
    Frame1->setObjectName("Frame1");
    auto *sep = new QHBoxLayout(Frame1);
    const char *sepCaptions[2] = {"ﾀﾌﾞ", "ｶﾝﾏ"};
    for (int i = 0; i < 2; ++i)
        sep->addWidget(Op_sep[i] = optionButton(Frame1, "Op_sep", i, sepCaptions[i]));
    return Frame1;
}

QGroupBox *OptionsWindow::buildPortfolioGroup() {
    Frame2 = new QGroupBox(QString::fromUtf8(" ﾎﾟｰﾄﾌｫﾘｵ "), this);
    Frame2->setObjectName("Frame2");
    auto *port = new QGridLayout(Frame2);
    Ch_portOPT = checkBox(Frame2, "Ch_portOPT", "ﾎﾟｰﾄﾌｫﾘｵを外部DBにする");
    T_portfile = textBox(Frame2, "T_portfile");
    C_portfileselect = button(Frame2, "C_portfileselect", "...");
    C_port_new = button(Frame2, "C_port_new", "新規作成");
    port->addWidget(Ch_portOPT, 0, 0, 1, 2);
    port->addWidget(C_port_new, 0, 2);
    port->addWidget(T_portfile, 1, 0, 1, 2);
    port->addWidget(C_portfileselect, 1, 2);
    return Frame2;
}

QGroupBox *OptionsWindow::buildProxyGroup() {
    Frame3 = new QGroupBox(QString::fromUtf8("ﾌﾟﾛｷｼｻｰﾊﾞ"), this);
    Frame3->setObjectName("Frame3");
    Frame3->setToolTip(
        QString::fromUtf8("ﾌﾟﾛｷｼなどの別ｺﾝﾋﾟｭｰﾀを経由してｲﾝﾀｰﾈｯﾄへｱｸｾｽする場合に使用します"));
    auto *proxy = new QGridLayout(Frame3);
    Ch_proxy = checkBox(Frame3, "Ch_proxy", "使用する");
    T_poxysv = textBox(Frame3, "T_poxysv");
    T_poxyid = textBox(Frame3, "T_poxyid");
    T_poxypd = textBox(Frame3, "T_poxypd");
    T_poxypd->setEchoMode(QLineEdit::Password);
    L_porxy3 = label(Frame3, "L_porxy3", "ｻｰﾊﾞｰ");
    L_porxy1 = label(Frame3, "L_porxy1", "ﾕｰｻﾞID");
    L_porxy2 = label(Frame3, "L_porxy2", "ﾊﾟｽﾜｰﾄﾞ");
    proxy->addWidget(Ch_proxy, 0, 0, 1, 2);
    proxy->addWidget(L_porxy3, 1, 0);
    proxy->addWidget(T_poxysv, 1, 1);
    proxy->addWidget(L_porxy1, 2, 0);
    proxy->addWidget(T_poxyid, 2, 1);
    proxy->addWidget(L_porxy2, 3, 0);
    proxy->addWidget(T_poxypd, 3, 1);
    return Frame3;
}

// Where the data update gets its data: the data site, or J-Quants API V2 with a key.
QGroupBox *OptionsWindow::buildSourceGroup() {
    Frame4 = new QGroupBox(QString::fromUtf8("データ取得元"), this);
    Frame4->setObjectName("Frame4");
    auto *source = new QGridLayout(Frame4);
    const char *sourceCaptions[2] = {"データサイト", "J-Quants"};
    for (int i = 0; i < 2; ++i) {
        Op_source[i] = optionButton(Frame4, "Op_source", i, sourceCaptions[i]);
        source->addWidget(Op_source[i], 0, i);
    }
    T_jqkey = textBox(Frame4, "T_jqkey", "J-Quantsのダッシュボードで発行したAPIキー");
    T_jqkey->setEchoMode(QLineEdit::Password);
    T_jqrate =
        textBox(Frame4, "T_jqrate",
                "1分あたりのリクエスト数の上限: Free 5, Light 60, Standard 120, Premium 500");
    L_jqkey = label(Frame4, "L_jqkey", "APIキー");
    L_jqrate = label(Frame4, "L_jqrate", "ﾘｸｴｽﾄ数/分");
    C_jqtest = button(Frame4, "C_jqtest", "接続テスト");
    source->addWidget(L_jqkey, 1, 0);
    source->addWidget(T_jqkey, 1, 1, 1, 2);
    source->addWidget(L_jqrate, 2, 0);
    source->addWidget(T_jqrate, 2, 1);
    source->addWidget(C_jqtest, 2, 2);
    return Frame4;
}

QHBoxLayout *OptionsWindow::buildCommandRow() {
    C_auto_up = button(this, "C_auto_up", "自動ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ");
    m_refetchButton = new DropButton(QString::fromUtf8("DB再取得"), this);
    m_refetchButton->setObjectName("refetchButton");
    m_refetchButton->setAcceptDrops(true);
    C_OK = button(this, "C_OK", "OK");
    C_cancel = button(this, "C_cancel", "ｷｬﾝｾﾙ");
    C_OK->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(C_auto_up);
    buttons->addWidget(m_refetchButton);
    buttons->addStretch();
    buttons->addWidget(C_OK);
    buttons->addWidget(C_cancel);
    return buttons;
}

void OptionsWindow::connectCommands() {
    connect(C_OK, &QPushButton::clicked, this, [this] { saveAndClose(); });
    connect(C_cancel, &QPushButton::clicked, this, [this] { cancel(); });
    connect(Ch_portOPT, &QCheckBox::clicked, this, [this] { onExternalPortfolioToggled(); });
    connect(Ch_proxy, &QCheckBox::clicked, this, [this] { onProxyToggled(); });
    for (QRadioButton *r : Op_source)
        connect(r, &QRadioButton::clicked, this, [this] { onSourceChosen(); });
    connect(C_jqtest, &QPushButton::clicked, this, [this] { testJQuantsConnection(); });
    connect(C_port_new, &QPushButton::clicked, this, [this] { createPortfolioFile(); });
    connect(C_portfileselect, &QPushButton::clicked, this, [this] { choosePortfolioFile(); });
    connect(C_auto_up, &QPushButton::clicked, this, [this] { updateProgram(); });
    connect(m_refetchButton, &QPushButton::clicked, this, [this] { refetchDatabase(); });
    connect(m_refetchButton, &DropButton::filesDropped, this,
            [this](const QStringList &paths) { importDroppedFiles(paths); });
}

void OptionsWindow::loadValues() {
    const shell::OptionValues v = shell::loadOptions();
    T_wontonton->setText(qs(v.mdbpath));
    T_compyC->setText(qs(v.compyc));
    T_debugcode->setText(qs(v.debugcode));
    T_web1sleep->setText(qs(v.web1wait));
    T_myhpadd->setText(qs(v.myhpadd4));
    T_myhpad_data->setText(qs(v.myhpad_data4));
    T_maxDTc->setText(qs(v.maxdtc));
    T_browser->setText(qs(v.browser));
    C_autoTaskT->setChecked(v.autotaskt);
    C_noAnnounce->setChecked(v.noannounce);
    C_nomoremsg->setChecked(v.nomoremsg);
    Chk_realc_spd->setChecked(v.realcspd);
    Op_sep[v.cpseplt == 0 ? 0 : 1]->setChecked(true);
    Ch_portOPT->setChecked(v.portopt);
    T_portfile->setText(qs(v.portfile));
    Ch_proxy->setChecked(v.proxychk);
    T_poxysv->setText(qs(v.proxysv));
    T_poxyid->setText(qs(v.proxyid));
    T_poxypd->setText(qs(v.proxypd));
    Op_source[v.jquants ? 1 : 0]->setChecked(true);
    T_jqkey->setText(qs(v.jquantskey));
    T_jqrate->setText(qs(v.jquantsrate));
    onProxyToggled();
    onSourceChosen();
    shell::countOptionsWindow(+1);
}

shell::OptionValues OptionsWindow::values() const {
    shell::OptionValues v;
    v.mdbpath = us(T_wontonton->text());
    v.compyc = us(T_compyC->text());
    v.debugcode = us(T_debugcode->text());
    v.web1wait = us(T_web1sleep->text());
    v.myhpadd4 = us(T_myhpadd->text());
    v.myhpad_data4 = us(T_myhpad_data->text());
    v.maxdtc = us(T_maxDTc->text());
    v.browser = us(T_browser->text());
    v.autotaskt = C_autoTaskT->isChecked();
    v.noannounce = C_noAnnounce->isChecked();
    v.nomoremsg = C_nomoremsg->isChecked();
    v.realcspd = Chk_realc_spd->isChecked();
    v.cpseplt = Op_sep[0]->isChecked() ? 0 : 1;
    v.portopt = Ch_portOPT->isChecked();
    v.portfile = us(T_portfile->text());
    v.proxychk = Ch_proxy->isChecked();
    v.proxysv = us(T_poxysv->text());
    v.proxyid = us(T_poxyid->text());
    v.proxypd = us(T_poxypd->text());
    v.jquants = Op_source[1]->isChecked();
    v.jquantskey = us(T_jqkey->text());
    v.jquantsrate = us(T_jqrate->text());
    return v;
}

void OptionsWindow::saveAndClose() {
    bool saved = false;
    // The settings could not be written: say so and keep the edits.
    runCommand(this, [this, &saved] {
        const shell::OptionsSaveResult result = shell::saveOptions(values(), m_port);
        saved = result == shell::OptionsSaveResult::Saved ||
                result == shell::OptionsSaveResult::SavedRestartNeeded;
    });
    if (saved) {
        if (MainWindow *main = mainWindow())
            main->showSource();
        close();
    }
}

void OptionsWindow::cancel() {
    close();
}

void OptionsWindow::onExternalPortfolioToggled() {
    const bool on = Ch_portOPT->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(C_port_new), static_cast<QWidget *>(T_portfile),
                       static_cast<QWidget *>(C_portfileselect)})
        w->setEnabled(on);
}

void OptionsWindow::onProxyToggled() {
    const bool on = Ch_proxy->isChecked();
    for (QLineEdit *t : {T_poxyid, T_poxypd, T_poxysv})
        t->setEnabled(on);
    const QColor colour = on ? palette().color(QPalette::ButtonText) : QColor(128, 128, 128);
    for (QLabel *l : {L_porxy1, L_porxy2, L_porxy3}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, colour);
        l->setPalette(p);
    }
}

void OptionsWindow::onSourceChosen() {
    const bool on = Op_source[1]->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(T_jqkey), static_cast<QWidget *>(T_jqrate),
                       static_cast<QWidget *>(L_jqkey), static_cast<QWidget *>(L_jqrate),
                       static_cast<QWidget *>(C_jqtest)})
        w->setEnabled(on);
}

void OptionsWindow::testJQuantsConnection() {
    shell::testJQuantsConnection(values(), m_port);
}

void OptionsWindow::createPortfolioFile() {
    runCommand(this, [this] { shell::createPortfolioFile(us(T_portfile->text()), m_port); });
}

void OptionsWindow::choosePortfolioFile() {
    runCommand(this, [this] {
        const std::string chosen = shell::pickPortfolioFile(m_port);
        if (!chosen.empty())
            T_portfile->setText(qs(chosen));
    });
}

void OptionsWindow::closeForUpdate() {
    // The main window closes this window and the others (update_exit is set) once the command
    // that started the updater has returned: nothing may close under it.
    QPointer<QWidget> main = WindowHub::instance().mainWindow();
    QTimer::singleShot(0, this, [this, main] {
        if (main)
            main->close();
        else
            close();
    });
}

// Both ask the update site and may end the program: not while a data update or an import
// runs (the main window's busy pointer counts here too).
void OptionsWindow::runUpdateCommand(UpdateCommand command) {
    if (m_port.busy())
        return;
    runCommand(this, [&] {
        if (command(m_http, m_port, us(windowTitle())) == update::UpdateOutcome::Started)
            closeForUpdate();
    });
}

void OptionsWindow::updateProgram() {
    runUpdateCommand(update::runProgramUpdate);
}

void OptionsWindow::refetchDatabase() {
    runUpdateCommand(update::runDatabaseRefetch);
}

void OptionsWindow::importDroppedFiles(const QStringList &paths) {
    if (m_port.busy())
        return;
    std::vector<std::string> files;
    for (const QString &p : paths)
        files.push_back(us(p));
    RoutineScope scope(this);
    storage::Database *db = nullptr;
    try {
        db = &storage::mainDatabase();
        // The connection would go on writing into a file that was deleted or emptied.
        db->verifyFile();
    } catch (const std::exception &e) {
        m_port.message(std::string("エラー\r\n") + e.what(), "Tesmo", MsgIcon::None,
                       MsgButtons::Ok);
        return;
    }
    runCommand(this, [&] {
        shell::importDroppedFiles(*db, m_port, files, [] {
            if (MainWindow *main = mainWindow())
                main->refreshNewestDate();
        });
    });
    m_port.setBusy(false);
    WindowHub::instance().refreshDataWindows();
}

void OptionsWindow::closeEvent(QCloseEvent *event) {
    if (!refuseCloseWhileBusy(this, event))
        QWidget::closeEvent(event);
}

void OptionsWindow::keyReleaseEvent(QKeyEvent *event) {
    if (!keyShortcut(event->key(), event->modifiers()))
        QWidget::keyReleaseEvent(event);
}

void registerOptionsWindow() {
    WindowHub::instance().registerFactory(WindowKind::Options, [] { return new OptionsWindow; });
}

} // namespace tesmo::ui
