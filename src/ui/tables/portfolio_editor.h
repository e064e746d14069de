#pragma once
// The portfolio maintenance list: every entry, editable in the grid, with a new row for adding
// entries and the Delete key for removing the selected rows.
#include "core/tables/table_sources.h"
#include "ui/tables/grid_window.h"

#include <QPushButton>

namespace tesmo::ui {

class PortfolioEditor : public GridWindow {
    Q_OBJECT
public:
    explicit PortfolioEditor(QWidget *parent = nullptr);

    QPushButton *tableButton = nullptr;

    void headerClick(int c);
    // Removes the entries of the selected rows.
    void deleteSelectedRows();
    // An edit of a cell (row -1: the new row); returns the refusal text or an empty text.
    QString editCell(int row, int column, const QString &text);

protected:
    void headerClicked(int c) override { headerClick(c); }
    std::optional<double> chartPrice(int row) const override;
    int codeColumn() const override { return 1; }
    void layoutExtra(int innerWidthTwips) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rerunLater();
    tables::PortList m_list;
};

} // namespace tesmo::ui
