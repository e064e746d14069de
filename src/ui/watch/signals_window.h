#pragma once
// シグナル: the stocks that the watch rules selected on the newest day (or an earlier kept day),
// in a grid like the ranking's: sortable, copied and saved as CSV, a double click opens the
// chart. 再評価 evaluates the rules once more.
#include "core/watch/watch_rules.h"
#include "ui/tables/grid_window.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <map>

namespace tesmo::ui {

class SignalsWindow : public GridWindow {
    Q_OBJECT
public:
    explicit SignalsWindow(QWidget *parent = nullptr);

    QComboBox *dateCombo = nullptr;
    QPushButton *evaluateButton = nullptr; // 再評価
    QPushButton *rulesButton = nullptr;    // 監視条件
    QLabel *summary = nullptr;

    // The day shown (yyyymmdd); 0 while the database holds no day.
    long long shownDate() const { return m_date; }
    void showDate(long long date);
    // 再評価: the rules on the newest day, then every table that shows their matches.
    void evaluateNow();
    // The kept days again, and the newest one shown; also after an update elsewhere.
    Q_INVOKABLE void refresh() override;

protected:
    void headerClicked(int c) override;
    int codeColumn() const override { return 2; }
    void layoutExtra(int innerWidthTwips) override;

private:
    // The newest day of the data and the days with kept matches, newest first, in the combo;
    // `keep` stays selected where it is still listed, else the newest day.
    void fillDates(long long keep);
    void runDay();
    void showSummary();

    tables::GridColumns m_cols;
    std::map<long long, watch::Rule> m_rules; // read by the grid's value column
    long long m_date = 0;
    int m_sorted = -1; // the column sorted by a header click, -1: the rules' order
    bool m_descending = false;
    bool m_filling = false;
    bool m_opened = false; // the database opened; else the window said why and stays empty
};

} // namespace tesmo::ui
