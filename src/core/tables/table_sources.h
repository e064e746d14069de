#pragma once
// Record sources of the grid windows and the sort state behind them. Each window's logic keeps
// its columns (whose captions carry the sort mark), builds the statement its grid runs and
// saves the sort state in the settings; the windows only show the columns and run the source.
#include "core/storage/data_source.h"
#include "core/tables/grid_columns.h"

#include <optional>
#include <string>

namespace tesmo::storage {
class Database;
}

namespace tesmo::tables {

// Statements, without settings.
std::string rankSource(const GridColumns &cols, int c, bool descending);
std::string portTbSource(const std::string &view, const GridColumns &cols, int group, int c,
                         bool descending);
std::string portMSource(const std::string &view, const GridColumns &cols, int c, bool descending);
// The stock search: the maintenance list, the matches of `text` in name or code, or the
// default list when the text is blank. The text is trimmed and made half width (what an
// input method types in full width finds its half-width codes and names) and bound as the
// pattern "*text*" of the engine's like, so its wildcards * ? # and [...] work while quotes
// in it stay plain characters.
storage::Query searchSource(const std::string &text, bool maintenance);

// The ranking window's default sort column (最大Web話), and the one that stands in for it
// while the data come from J-Quants (前比終値).
inline constexpr int kRankDefaultColumn = 7;
inline constexpr int kRankPriceChangeColumn = 9;

// The ranking window (sort column 7, descending, by default; 9 with J-Quants, whose topic
// columns are hidden).
class RankTable {
public:
    GridColumns columns = rankColumns();
    // Applies the stored sort (an ascending direction is pre-marked so that the sort turns it).
    std::string open();
    // A header click: marks the column and saves the sort state.
    std::string sortByColumn(int c);
    // The two ranking buttons: always descending by column `c`.
    std::string sortButton(int c);
};

// The view that a portfolio window reads: `base` itself, or its derived query for the linked
// table of an external portfolio (created in `db` on first use).
std::string portfolioView(storage::Database &db, const std::string &base);

// The portfolio table: one group (区分0 to 区分4) at a time.
class PortTable {
public:
    explicit PortTable(std::string view) : m_view(std::move(view)) {}
    GridColumns columns = portTbColumns();

    // The stored group (0 when out of range); pre-marks an ascending direction. The window
    // selects the returned group and calls fill().
    int open();
    // Saves the header's column and fills.
    std::string headerClick(int c, int selectedGroup);
    // The group table for the selected option: keeps column and direction when the group
    // changes, reverses the direction when the sorted header was clicked again.
    std::string fill(int selectedGroup);
    const std::string &view() const { return m_view; }

private:
    std::string m_view;
};

// The label of the shown group: "[区分g] " alone when the group has no priced entries, else
// with its market value and gain. nullopt when the totals cannot be read.
std::optional<std::string> groupTotalsCaption(storage::Database &db, const std::string &view,
                                              int group);
// "\\#,##0" and "#,##0": a grouped whole number, the first with a backslash before it.
std::string formatYen(double v);
std::string formatGrouped(double v);

// The portfolio maintenance list.
class PortList {
public:
    explicit PortList(std::string view) : m_view(std::move(view)) {}
    GridColumns columns = portMColumns();
    void open();
    std::string headerClick(int c);
    std::string fill();
    const std::string &view() const { return m_view; }

private:
    std::string m_view;
};

} // namespace tesmo::tables
