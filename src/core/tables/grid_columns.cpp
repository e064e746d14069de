#include "core/tables/grid_columns.h"

#include <cmath>
#include <cstdio>

namespace tesmo::tables {
namespace {

bool startsWith(const std::string &s, std::string_view prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The ratio indicators and the volumes, prices, counts and amounts; dates, groups and
// codes are numbers shown as they are.
NumberForm formOf(std::string_view field) {
    for (std::string_view f : {"ANPRC", "AXTALK", "VAL1", "A1PRC", "A1TALK"})
        if (field == f)
            return NumberForm::Ratio;
    for (std::string_view f : {"MM1AVDVAL", "DVAL", "TALK", "AVAL"})
        if (field == f)
            return NumberForm::Whole;
    for (std::string_view f : {"PRC", "APRC", "PPRC2"})
        if (field == f)
            return NumberForm::Grouped;
    return NumberForm::Plain;
}

GridColumn col(const char *caption, const char *field, int width, Align align,
               const char *sortKey = nullptr, bool editable = false) {
    return GridColumn{caption, field,    width,        align, sortKey ? sortKey : field,
                      true,    editable, formOf(field)};
}

// "1234567.5" -> "1,234,567.5", "-1200" -> "-1,200".
std::string groupDigits(const std::string &number) {
    const size_t begin = number.find_first_of("0123456789");
    if (begin == std::string::npos)
        return number;
    size_t end = number.find_first_not_of("0123456789", begin);
    if (end == std::string::npos)
        end = number.size();
    std::string out = number;
    for (size_t at = end; at > begin + 3; at -= 3)
        out.insert(at - 3, ",");
    return out;
}

constexpr Align G = Align::General;
constexpr Align R = Align::Right;
constexpr Align C = Align::Centre;

} // namespace

bool hasSortMark(const GridColumn &c) {
    return startsWith(c.caption, kMarkDescending) || startsWith(c.caption, kMarkAscending);
}

bool markedDescending(const GridColumn &c) {
    return startsWith(c.caption, kMarkDescending);
}

void removeSortMark(GridColumn &c) {
    if (!hasSortMark(c))
        return;
    // Both marks are three bytes in UTF-8.
    c.caption.erase(0, kMarkDescending.size());
    c.width -= kMarkWidening;
}

void addSortMark(GridColumn &c, std::string_view mark) {
    c.caption.insert(0, mark);
    c.width += kMarkWidening;
}

void markSorted(GridColumns &cols, int c, bool descending) {
    for (GridColumn &g : cols)
        removeSortMark(g);
    addSortMark(cols.at(static_cast<size_t>(c)), descending ? kMarkDescending : kMarkAscending);
}

std::string gridText(const storage::Value &v, NumberForm form) {
    using Type = storage::Value::Type;
    if (v.isNull())
        return {};
    if (v.type() == Type::Text || form == NumberForm::Plain)
        return v.toText();
    const double d = v.toDouble();
    if (form == NumberForm::Grouped || !std::isfinite(d))
        return groupDigits(v.toText());
    char buf[64];
    if (form == NumberForm::Whole) {
        // Half to even, as every conversion to a whole number; -0 reads 0.
        const double whole = std::nearbyint(d);
        (void)std::snprintf(buf, sizeof buf, "%.0f", whole == 0 ? 0.0 : whole);
        return groupDigits(buf);
    }
    // A ratio that rounds to zero shows without a minus sign.
    (void)std::snprintf(buf, sizeof buf, "%.4f", std::fabs(d) < 0.00005 ? 0.0 : d);
    return groupDigits(buf);
}

bool isTopicColumn(const GridColumn &col) {
    for (std::string_view f : {"TALK", "AXTALK", "VAL1", "A1TALK"})
        if (col.field == f)
            return true;
    return false;
}

void showTopicColumns(GridColumns &cols, bool show) {
    for (GridColumn &c : cols)
        if (isTopicColumn(c))
            c.visible = show;
}

int markedColumn(const GridColumns &cols) {
    for (size_t i = 0; i < cols.size(); ++i)
        if (hasSortMark(cols[i]))
            return static_cast<int>(i);
    return -1;
}

GridColumns rankColumns() {
    return {
        col("銘柄ｺｰﾄﾞ", "CODE", 1508, G),        col("銘柄名称", "NAME", 2249, G),
        col("市場", "MARKET", 900, G),           col("終値", "PRC", 1376, R),
        col("平均出来高", "MM1AVDVAL", 1826, R), col("Web話題", "TALK", 1482, R),
        col("平均終値", "ANPRC", 1720, R),       col("最大Web話", "AXTALK", 2037, R, "KEY2"),
        col("推薦度", "VAL1", 1349, R, "KEY1"),  col("前比終値", "A1PRC", 1588, R),
        col("前比Web話", "A1TALK", 1799, R),
    };
}

GridColumns portTbColumns() {
    return {
        col("登録日", "PDATE", 1561, G),        col("銘柄ｺｰﾄﾞ", "CODE", 1508, G),
        col("銘柄名称", "NAME", 2011, G),       col("区分", "PSW", 847, C),
        col("価格1", "APRC", 1376, R),          col("株数", "AVAL", 1376, R),
        col("参考日", "PDATE2", 1376, R),       col("価格2", "PPRC2", 1376, R),
        col("市場", "MARKET", 1296, C),         col("終値", "PRC", 1376, R),
        col("出来高", "DVAL", 1376, R),         col("Web話題", "TALK", 1482, R),
        col("平均終値", "ANPRC", 1746, R),      col("最大Web話", "AXTALK", 1773, R, "KEY2"),
        col("推薦度", "VAL1", 1323, R, "KEY1"), col("前比終値", "A1PRC", 1588, R),
        col("前比Web話", "A1TALK", 1720, R),
    };
}

GridColumns portMColumns() {
    // 参考日 and 価格2 are computed by the view from the daily rows, so they cannot take edits.
    return {
        col("登録日", "PDATE", 1588, G, nullptr, true),
        col("銘柄ｺｰﾄﾞ", "CODE", 1535, G, nullptr, true),
        col("銘柄名称", "NAME", 2566, G),
        col("区分", "PSW", 767, R, nullptr, true),
        col("価格1", "APRC", 1746, R, nullptr, true),
        col("株数", "AVAL", 1773, R, nullptr, true),
        col("参考日", "PDATE2", 1561, R),
        col("価格2", "PPRC2", 1376, R),
    };
}

GridColumns findColumns() {
    GridColumns cols = {
        col("銘柄ｺｰﾄﾞ", "CODE", 1376, G, nullptr, true),
        col("銘柄名称", "NAME", 6694, G, nullptr, true),
        col("市場", "MARKET", 1667, G, nullptr, true),
        col("SWCO", "SWCO", 1535, R, nullptr, true),
        col("SWIDX", "SWIDX", 1667, R, nullptr, true),
    };
    cols[3].visible = false;
    cols[4].visible = false;
    return cols;
}

} // namespace tesmo::tables
