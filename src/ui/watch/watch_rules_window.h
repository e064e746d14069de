#pragma once
// 監視条件: the watch rules of the database, listed with their conditions and switches, and the
// fields to add, change and delete one. What the core refuses is said in its words and
// nothing is stored.
#include "core/storage/data_source.h"
#include "core/watch/watch_rules.h"
#include "ui/common/qt_ui_port.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

#include <vector>

namespace tesmo::ui {

class WatchRulesWindow : public QWidget {
    Q_OBJECT
public:
    explicit WatchRulesWindow(QWidget *parent = nullptr);

    QTableWidget *ruleList = nullptr; // 名前, 条件, 有効
    QLineEdit *nameEdit = nullptr;
    QComboBox *kindCombo = nullptr; // in the order of watch::RuleKind
    QComboBox *columnCombo = nullptr;
    QComboBox *comparisonCombo = nullptr; // 以上, 以下
    QLineEdit *thresholdEdit = nullptr;
    QCheckBox *timesAverageCheck = nullptr; // ×平均
    QLineEdit *codeEdit = nullptr;
    QComboBox *groupCombo = nullptr; // 全銘柄, 区分0 .. 区分4
    QCheckBox *enabledCheck = nullptr;
    QPushButton *addButton = nullptr;
    QPushButton *changeButton = nullptr;
    QPushButton *deleteButton = nullptr;
    QPushButton *closeButton = nullptr;

    const std::vector<watch::Rule> &rules() const { return m_rules; }
    // The rule of the selected row; none selected: -1.
    int selectedRow() const;
    void selectRow(int row);

    // The fields as a rule the core checks.
    watch::RuleInput typedRule() const;
    // 追加, 変更, 削除 (after a question). True when the rule was stored or deleted.
    bool addTyped();
    bool changeSelected();
    bool deleteSelected();
    // The 有効 box of a row.
    void switchRow(int row, bool enabled);
    // The rules again from the database, the selected one staying selected.
    Q_INVOKABLE void refresh();

protected:
    void keyReleaseEvent(QKeyEvent *e) override;

private:
    void buildFields();
    void buildButtons();
    void reload(long long keepId);
    void showRule(int row);
    // The fields that the kind of rule uses are enabled, the others not.
    void followKind();
    void refuse(const std::string &message);
    // The windows that show the matches follow a change of the rules.
    void rulesChanged(long long keepId);

    storage::DataSource m_data;
    QtUiPort m_port;
    std::vector<watch::Rule> m_rules;
    bool m_filling = false;
};

} // namespace tesmo::ui
