#include "ui/watch/watch_rules_window.h"

#include "core/storage/connection.h"
#include "ui/common/routine_scope.h"
#include "ui/common/screen_fit.h"
#include "ui/common/window_hub.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace tesmo::ui {
namespace {

constexpr const char *kTitle = "監視条件";
// The kinds of rule in the order of watch::RuleKind.
const char *const kKindCaptions[] = {"列の値", "銘柄の終値 (目標株価・損切り)",
                                     "ﾎﾟｰﾄﾌｫﾘｵの利益 (価格1比)", "ﾎﾟｰﾄﾌｫﾘｵの損失 (価格1比)"};
enum RuleColumn { NameColumn, ConditionColumn, EnabledColumn };

QLabel *fieldLabel(const char *text, QWidget *buddy, QWidget *parent) {
    auto *l = new QLabel(QString::fromUtf8(text), parent);
    l->setBuddy(buddy);
    return l;
}

} // namespace

WatchRulesWindow::WatchRulesWindow(QWidget *parent) : QWidget(parent), m_port(this) {
    setObjectName(QStringLiteral("WatchRulesWindow"));
    setWindowTitle(QString::fromUtf8(kTitle));
    m_data.setDatabaseName(storage::databasePath());

    ruleList = new QTableWidget(0, 3, this);
    ruleList->setObjectName(QStringLiteral("ruleList"));
    ruleList->setHorizontalHeaderLabels(
        {QStringLiteral("名前"), QStringLiteral("条件"), QStringLiteral("有効")});
    ruleList->setSelectionBehavior(QAbstractItemView::SelectRows);
    ruleList->setSelectionMode(QAbstractItemView::SingleSelection);
    ruleList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ruleList->verticalHeader()->hide();
    ruleList->horizontalHeader()->setSectionResizeMode(NameColumn, QHeaderView::Interactive);
    ruleList->horizontalHeader()->setSectionResizeMode(ConditionColumn, QHeaderView::Stretch);
    ruleList->horizontalHeader()->setSectionResizeMode(EnabledColumn,
                                                       QHeaderView::ResizeToContents);
    ruleList->setColumnWidth(NameColumn, 160);
    connect(ruleList, &QTableWidget::currentCellChanged, this, [this](int row) { showRule(row); });
    connect(ruleList, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        if (!m_filling && item->column() == EnabledColumn)
            switchRow(item->row(), item->checkState() == Qt::Checked);
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ruleList, 1);
    buildFields();
    buildButtons();

    followKind();
    resize(620, 440);
    keepOnScreen(this);
    runCommand(this, [this] {
        m_data.database();
        reload(0);
    });
}

void WatchRulesWindow::buildFields() {
    nameEdit = new QLineEdit(this);
    nameEdit->setObjectName(QStringLiteral("nameEdit"));
    nameEdit->setPlaceholderText(QStringLiteral("空欄なら条件がそのまま名前になります"));
    enabledCheck = new QCheckBox(QStringLiteral("有効"), this);
    enabledCheck->setObjectName(QStringLiteral("enabledCheck"));
    enabledCheck->setChecked(true);
    kindCombo = new QComboBox(this);
    kindCombo->setObjectName(QStringLiteral("kindCombo"));
    for (const char *caption : kKindCaptions)
        kindCombo->addItem(QString::fromUtf8(caption));
    columnCombo = new QComboBox(this);
    columnCombo->setObjectName(QStringLiteral("columnCombo"));
    for (const watch::WatchColumn &c : watch::watchColumns())
        columnCombo->addItem(QString::fromUtf8(c.caption));
    columnCombo->setCurrentText(QStringLiteral("前比終値"));
    comparisonCombo = new QComboBox(this);
    comparisonCombo->setObjectName(QStringLiteral("comparisonCombo"));
    comparisonCombo->addItems({QStringLiteral("≥ 以上"), QStringLiteral("≤ 以下")});
    thresholdEdit = new QLineEdit(this);
    thresholdEdit->setObjectName(QStringLiteral("thresholdEdit"));
    thresholdEdit->setPlaceholderText(QStringLiteral("5%"));
    timesAverageCheck = new QCheckBox(QStringLiteral("×平均"), this);
    timesAverageCheck->setObjectName(QStringLiteral("timesAverageCheck"));
    timesAverageCheck->setToolTip(QStringLiteral("出来高を月の平均の何倍かで比べます"));
    codeEdit = new QLineEdit(this);
    codeEdit->setObjectName(QStringLiteral("codeEdit"));
    codeEdit->setPlaceholderText(QStringLiteral("1301"));
    groupCombo = new QComboBox(this);
    groupCombo->setObjectName(QStringLiteral("groupCombo"));
    groupCombo->addItem(QStringLiteral("全銘柄"));
    for (int g = 0; g < 5; ++g)
        groupCombo->addItem(QStringLiteral("区分%1").arg(g));

    auto *grid = new QGridLayout;
    grid->addWidget(fieldLabel("名前", nameEdit, this), 0, 0);
    grid->addWidget(nameEdit, 0, 1, 1, 3);
    grid->addWidget(enabledCheck, 0, 4);
    grid->addWidget(fieldLabel("種類", kindCombo, this), 1, 0);
    grid->addWidget(kindCombo, 1, 1, 1, 3);
    grid->addWidget(fieldLabel("条件", columnCombo, this), 2, 0);
    grid->addWidget(columnCombo, 2, 1);
    grid->addWidget(comparisonCombo, 2, 2);
    grid->addWidget(thresholdEdit, 2, 3);
    grid->addWidget(timesAverageCheck, 2, 4);
    grid->addWidget(fieldLabel("コード", codeEdit, this), 3, 0);
    grid->addWidget(codeEdit, 3, 1);
    grid->addWidget(fieldLabel("区分", groupCombo, this), 3, 2, Qt::AlignRight);
    grid->addWidget(groupCombo, 3, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    auto *note = new QLabel(QStringLiteral("しきい値: 割合は 5% や -3%、価格は 1,500、"
                                           "×平均は 3 (倍)。全角の数字も使えます。"),
                            this);
    note->setObjectName(QStringLiteral("thresholdNote"));
    note->setWordWrap(true);
    grid->addWidget(note, 4, 0, 1, 5);
    static_cast<QVBoxLayout *>(layout())->addLayout(grid);

    connect(kindCombo, &QComboBox::currentIndexChanged, this, [this] { followKind(); });
    connect(columnCombo, &QComboBox::currentIndexChanged, this, [this] { followKind(); });
}

void WatchRulesWindow::buildButtons() {
    addButton = new QPushButton(QStringLiteral("追加"), this);
    addButton->setObjectName(QStringLiteral("addButton"));
    changeButton = new QPushButton(QStringLiteral("変更"), this);
    changeButton->setObjectName(QStringLiteral("changeButton"));
    deleteButton = new QPushButton(QStringLiteral("削除"), this);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    closeButton = new QPushButton(QStringLiteral("閉じる"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    auto *row = new QHBoxLayout;
    for (QPushButton *b : {addButton, changeButton, deleteButton}) {
        b->setAutoDefault(false);
        row->addWidget(b);
    }
    row->addStretch(1);
    row->addWidget(closeButton);
    static_cast<QVBoxLayout *>(layout())->addLayout(row);
    connect(addButton, &QPushButton::clicked, this, [this] { addTyped(); });
    connect(changeButton, &QPushButton::clicked, this, [this] { changeSelected(); });
    connect(deleteButton, &QPushButton::clicked, this, [this] { deleteSelected(); });
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
}

void WatchRulesWindow::followKind() {
    const auto kind = static_cast<watch::RuleKind>(kindCombo->currentIndex());
    const bool column = kind == watch::RuleKind::Column;
    const bool price = kind == watch::RuleKind::Price;
    // A price level watches the close: the combo says so rather than show another column.
    if (price)
        columnCombo->setCurrentText(QStringLiteral("終値"));
    const watch::WatchColumn *col = watch::findWatchColumn(us(columnCombo->currentText()));
    const bool volume = col && std::string(col->field) == "DVAL";
    columnCombo->setEnabled(column);
    comparisonCombo->setEnabled(column || price);
    timesAverageCheck->setEnabled(column && volume);
    if (!timesAverageCheck->isEnabled())
        timesAverageCheck->setChecked(false);
    codeEdit->setEnabled(price);
    groupCombo->setEnabled(!price);
    thresholdEdit->setPlaceholderText(price ? QStringLiteral("1,500") : QStringLiteral("5%"));
}

int WatchRulesWindow::selectedRow() const {
    const int row = ruleList->currentRow();
    return row >= 0 && row < static_cast<int>(m_rules.size()) ? row : -1;
}

void WatchRulesWindow::selectRow(int row) {
    ruleList->setCurrentCell(row, NameColumn);
}

void WatchRulesWindow::reload(long long keepId) {
    m_rules = watch::listRules(m_data.database());
    m_filling = true;
    ruleList->setRowCount(static_cast<int>(m_rules.size()));
    int keep = -1;
    for (size_t i = 0; i < m_rules.size(); ++i) {
        const watch::Rule &r = m_rules[i];
        const int row = static_cast<int>(i);
        ruleList->setItem(row, NameColumn, new QTableWidgetItem(qs(r.name)));
        ruleList->setItem(row, ConditionColumn, new QTableWidgetItem(qs(watch::describeRule(r))));
        auto *on = new QTableWidgetItem;
        on->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        on->setCheckState(r.enabled ? Qt::Checked : Qt::Unchecked);
        ruleList->setItem(row, EnabledColumn, on);
        if (r.id == keepId)
            keep = row;
    }
    m_filling = false;
    if (keep >= 0)
        selectRow(keep);
    else
        ruleList->setCurrentCell(-1, -1);
    changeButton->setEnabled(selectedRow() >= 0);
    deleteButton->setEnabled(selectedRow() >= 0);
}

void WatchRulesWindow::showRule(int row) {
    changeButton->setEnabled(selectedRow() >= 0);
    deleteButton->setEnabled(selectedRow() >= 0);
    if (m_filling || row < 0 || row >= static_cast<int>(m_rules.size()))
        return;
    const watch::RuleInput in = watch::ruleInput(m_rules[static_cast<size_t>(row)]);
    nameEdit->setText(qs(in.name));
    enabledCheck->setChecked(in.enabled);
    kindCombo->setCurrentIndex(static_cast<int>(in.kind));
    if (!in.column.empty())
        columnCombo->setCurrentText(qs(in.column));
    comparisonCombo->setCurrentIndex(in.comparison == watch::Comparison::AtLeast ? 0 : 1);
    followKind();
    timesAverageCheck->setChecked(in.timesAverage);
    thresholdEdit->setText(qs(in.threshold));
    codeEdit->setText(qs(in.code));
    groupCombo->setCurrentIndex(in.group.empty() ? 0 : std::stoi(in.group) + 1);
}

watch::RuleInput WatchRulesWindow::typedRule() const {
    watch::RuleInput in;
    in.name = us(nameEdit->text());
    in.enabled = enabledCheck->isChecked();
    in.kind = static_cast<watch::RuleKind>(kindCombo->currentIndex());
    if (in.kind == watch::RuleKind::Column)
        in.column = us(columnCombo->currentText());
    in.comparison = comparisonCombo->currentIndex() == 0 ? watch::Comparison::AtLeast
                                                         : watch::Comparison::AtMost;
    in.threshold = us(thresholdEdit->text());
    in.timesAverage = timesAverageCheck->isEnabled() && timesAverageCheck->isChecked();
    if (in.kind == watch::RuleKind::Price)
        in.code = us(codeEdit->text());
    if (groupCombo->isEnabled() && groupCombo->currentIndex() > 0)
        in.group = std::to_string(groupCombo->currentIndex() - 1);
    return in;
}

void WatchRulesWindow::refuse(const std::string &message) {
    showMessage(this, message, kTitle, MsgIcon::Exclamation, MsgButtons::Ok);
}

bool WatchRulesWindow::addTyped() {
    bool stored = false;
    runCommand(this, [this, &stored] {
        long long id = 0;
        if (const std::string failure = watch::addRule(m_data.database(), typedRule(), &id);
            !failure.empty())
            return refuse(failure);
        stored = true;
        rulesChanged(id);
    });
    return stored;
}

bool WatchRulesWindow::changeSelected() {
    const int row = selectedRow();
    if (row < 0)
        return false;
    bool stored = false;
    runCommand(this, [this, row, &stored] {
        const long long id = m_rules[static_cast<size_t>(row)].id;
        if (const std::string failure = watch::changeRule(m_data.database(), id, typedRule());
            !failure.empty())
            return refuse(failure);
        stored = true;
        rulesChanged(id);
    });
    return stored;
}

bool WatchRulesWindow::deleteSelected() {
    const int row = selectedRow();
    if (row < 0)
        return false;
    bool deleted = false;
    runCommand(this, [this, row, &deleted] {
        const watch::Rule &rule = m_rules[static_cast<size_t>(row)];
        if (showMessage(this,
                        "監視条件「" + rule.name + "」を削除しますか？\r\n" +
                            "この条件に該当した記録も削除されます。",
                        kTitle, MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
            return;
        if (const std::string failure = watch::removeRule(m_data.database(), rule.id);
            !failure.empty())
            return refuse(failure);
        deleted = true;
        rulesChanged(0);
    });
    return deleted;
}

void WatchRulesWindow::switchRow(int row, bool enabled) {
    if (row < 0 || row >= static_cast<int>(m_rules.size()))
        return;
    const long long id = m_rules[static_cast<size_t>(row)].id;
    runCommand(this, [this, id, enabled] {
        const std::string failure = watch::switchRule(m_data.database(), id, enabled);
        if (!failure.empty())
            refuse(failure);
        // The box shows what is stored, also when the switch was refused.
        reload(id);
    });
}

void WatchRulesWindow::rulesChanged(long long keepId) {
    reload(keepId);
    WindowHub::instance().refreshDataWindows();
}

void WatchRulesWindow::refresh() {
    const int row = selectedRow();
    runCommand(this, [this, row] { reload(row >= 0 ? m_rules[static_cast<size_t>(row)].id : 0); });
}

void WatchRulesWindow::keyReleaseEvent(QKeyEvent *e) {
    if (!keyShortcut(e->key(), e->modifiers()))
        QWidget::keyReleaseEvent(e);
}

} // namespace tesmo::ui
