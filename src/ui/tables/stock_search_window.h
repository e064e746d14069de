#pragma once
// The stock search: master rows whose name or code contains the typed text, and in debug mode
// a master-maintenance mode that lists and edits every master row.
#include "ui/tables/grid_window.h"

#include <QCheckBox>
#include <QLineEdit>

namespace tesmo::ui {

class StockSearchWindow : public GridWindow {
    Q_OBJECT
public:
    explicit StockSearchWindow(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QLineEdit *T_findtxt = nullptr;
    QCheckBox *Ch_mstmnt = nullptr;

    void search();
    QString editCell(int row, int column, const QString &text);

private:
    tables::GridColumns m_findColumns;
};

} // namespace tesmo::ui
