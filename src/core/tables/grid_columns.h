#pragma once
// The columns of the grid windows: captions, fields, design widths and alignments, and the
// sort mark that the sorted column carries in its caption.
#include "core/storage/value.h"

#include <string>
#include <string_view>
#include <vector>

namespace tesmo::tables {

enum class Align { General, Right, Centre };

// How a grid shows a column's numbers (on screen only: copy text and files keep the default
// text form). Prices get thousands separators; volumes, counts and numbers of shares are
// whole numbers with separators (a monthly average volume is no fraction of a share); ratios
// show their four decimals.
enum class NumberForm { Plain, Grouped, Whole, Ratio };

struct GridColumn {
    std::string caption; // as shown, including a sort mark
    std::string field;   // the result-set column it shows
    int width = 0;       // twips; the sorted column is kMarkWidening wider
    Align align = Align::General;
    std::string sortKey; // the view column that orders it (usually the field)
    bool visible = true;
    bool editable = false;
    NumberForm form = NumberForm::Plain;
};
using GridColumns = std::vector<GridColumn>;

inline constexpr std::string_view kMarkDescending = "▼";
inline constexpr std::string_view kMarkAscending = "▲";
// The sorted column is widened to make room for the mark.
inline constexpr int kMarkWidening = 230;

bool hasSortMark(const GridColumn &col);
bool markedDescending(const GridColumn &col);
// Strips the mark and narrows the column; nothing when it carries none.
void removeSortMark(GridColumn &col);
// Puts `mark` before the caption and widens the column, without looking at other columns.
void addSortMark(GridColumn &col, std::string_view mark);
// Removes every mark, then marks column `c` for the given direction.
void markSorted(GridColumns &cols, int c, bool descending);
// The column index that carries a mark, or -1.
int markedColumn(const GridColumns &cols);

// A header click on a column: an unmarked column (or one marked ascending) sorts descending,
// the column marked descending turns ascending.
inline bool clickSortsDescending(const GridColumn &col) {
    return !markedDescending(col);
}

// The text a grid cell shows for `v`: a null shows nothing, a text as it is.
std::string gridText(const storage::Value &v, NumberForm form);

// The columns that come from the web topic counts (Web話題, 最大Web話, 推薦度, 前比Web話). A
// source without topic counts (J-Quants) leaves them empty, so they are hidden then; the other
// columns keep their visibility.
bool isTopicColumn(const GridColumn &col);
void showTopicColumns(GridColumns &cols, bool show);

GridColumns rankColumns();
GridColumns portTbColumns();
GridColumns portMColumns();
GridColumns findColumns();

} // namespace tesmo::tables
