#pragma once
// The portfolio table: one group (区分0 to 区分4) at a time with the current market data, and
// the group's market value and gain in a label. Read-only.
#include "core/tables/table_sources.h"
#include "ui/tables/grid_window.h"

#include <QPushButton>
#include <QRadioButton>

#include <array>

namespace tesmo::ui {

class PortfolioTable : public GridWindow {
    Q_OBJECT
public:
    explicit PortfolioTable(QWidget *parent = nullptr);

    std::array<QRadioButton *, 5> groupButtons{};
    QLabel *L_pval = nullptr;
    QPushButton *editorButton = nullptr;

    int selectedGroup() const;
    void showGroup(int index);
    void headerClick(int c);

protected:
    void headerClicked(int c) override { headerClick(c); }
    std::optional<double> chartPrice(int row) const override;
    int codeColumn() const override { return 1; }

private:
    void fillGroupTable();
    tables::PortTable m_table;
};

// The purchase price of a portfolio row as the chart's price line; none when it is empty.
std::optional<double> purchasePrice(const ResultSetModel &model, int row);

} // namespace tesmo::ui
