#pragma once
// The ranking table: every stock on the newest date, sorted by any column, with buttons for the
// two ranking scores.
#include "core/tables/table_sources.h"
#include "ui/tables/grid_window.h"

#include <QPushButton>

namespace tesmo::ui {

class RankingTable : public GridWindow {
    Q_OBJECT
public:
    explicit RankingTable(QWidget *parent = nullptr);

    QPushButton *maxTopicButton = nullptr;
    QPushButton *recommendationButton = nullptr;

    void sortByColumn(int c);
    void sortByMaxTopic();
    void sortByRecommendation();

protected:
    void headerClicked(int c) override { sortByColumn(c); }
    // The two ranking buttons sort on topic columns, which J-Quants leaves empty and hidden.
    void columnsApplied() override;
    bool longCopyNote() const override { return true; }

private:
    tables::RankTable m_rank;
};

} // namespace tesmo::ui
