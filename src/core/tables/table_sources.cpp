#include "core/tables/table_sources.h"

#include "core/common/app_state.h"
#include "core/common/text.h"
#include "core/storage/connection.h"
#include "core/storage/database.h"
#include "core/storage/settings_keys.h"

#include <cmath>
#include <cstdio>

namespace tesmo::tables {
namespace keys = storage::keys;
namespace {

long long intSetting(const storage::SettingKey &key, long long fallback) {
    try {
        return storage::readSettingInt(key);
    } catch (const std::exception &) {
        return fallback;
    }
}

// A stored column index names a column of this grid; a hand-edited value outside it falls
// back to the window's default instead of indexing past the columns.
int storedColumn(const storage::SettingKey &key, const GridColumns &cols, int fallback) {
    const long long c = intSetting(key, fallback);
    return c >= 0 && c < static_cast<long long>(cols.size()) ? static_cast<int>(c) : fallback;
}

// "-1" (or any other non-zero number) is descending, "0" ascending.
bool storedDescending(const storage::SettingKey &key) {
    return intSetting(key, -1) != 0;
}

const char *directionText(bool descending) {
    return descending ? "-1" : "0";
}

std::string orderKey(const GridColumns &cols, int c, bool descending) {
    return cols.at(static_cast<size_t>(c)).sortKey + (descending ? " DESC" : "");
}

std::string trimSpaces(const std::string &s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string grouped(double v) {
    const long long n = std::llround(v);
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

} // namespace

std::string rankSource(const GridColumns &cols, int c, bool descending) {
    return "select * from V_RANK ORDER BY " + orderKey(cols, c, descending) + " ;";
}

std::string portTbSource(const std::string &view, const GridColumns &cols, int group, int c,
                         bool descending) {
    return "select * from " + view + " where PSW= " + std::to_string(group) + " " + " ORDER BY " +
           orderKey(cols, c, descending) + " ;";
}

std::string portMSource(const std::string &view, const GridColumns &cols, int c, bool descending) {
    return "select * from " + view + " ORDER BY " + orderKey(cols, c, descending) + " ;";
}

storage::Query searchSource(const std::string &text, bool maintenance) {
    if (maintenance)
        return {"Select * from master ;", {}};
    const std::string t = trimSpaces(halfWidthAscii(text));
    if (t.empty())
        return {"select * from master where SWIDX=False Order by master.CODE;", {}};
    const std::string pattern = "*" + t + "*";
    return {"select * from master Where master.NAME like ? or master.CODE like ? "
            "Order by master.NAME;",
            {pattern, pattern}};
}

std::string RankTable::open() {
    int c = storedColumn(keys::F_ranktbsorta, columns, kRankDefaultColumn);
    bool descending = storedDescending(keys::F_ranktbsortb);
    // J-Quants counts no web topics: their columns are hidden, and a sort on one of them (the
    // window's default 最大Web話 among them) becomes 前比終値 descending.
    const bool topics = !storage::jquantsSource();
    showTopicColumns(columns, topics);
    if (!topics && isTopicColumn(columns.at(static_cast<size_t>(c)))) {
        c = kRankPriceChangeColumn;
        descending = true;
    }
    if (!descending)
        addSortMark(columns.at(static_cast<size_t>(c)), kMarkDescending);
    return sortByColumn(c);
}

std::string RankTable::sortByColumn(int c) {
    const bool descending = clickSortsDescending(columns.at(static_cast<size_t>(c)));
    markSorted(columns, c, descending);
    std::string source = rankSource(columns, c, descending);
    storage::writeSetting(keys::F_ranktbsorta, std::to_string(c));
    storage::writeSetting(keys::F_ranktbsortb, directionText(descending));
    return source;
}

std::string RankTable::sortButton(int c) {
    removeSortMark(columns.at(static_cast<size_t>(c)));
    return sortByColumn(c);
}

std::string portfolioView(storage::Database &db, const std::string &base) {
    const AppState &st = appState();
    if (st.portfile_path.empty())
        return base;
    return storage::ensureDerivedQuery(db, base, st.port_link_table);
}

int PortTable::open() {
    const int c = storedColumn(keys::F_porttbsorta, columns, 1);
    if (!storedDescending(keys::F_porttbsortb))
        addSortMark(columns.at(static_cast<size_t>(c)), kMarkDescending);
    const long long g = intSetting(keys::F_porttboptno, 0);
    return g >= 0 && g <= 4 ? static_cast<int>(g) : 0;
}

std::string PortTable::headerClick(int c, int selectedGroup) {
    storage::writeSetting(keys::F_porttbsorta, std::to_string(c));
    return fill(selectedGroup);
}

std::string PortTable::fill(int selectedGroup) {
    const long long g0 = intSetting(keys::F_porttboptno, 0);
    int c = storedColumn(keys::F_porttbsorta, columns, 1);
    // A topic column is hidden while the data come from J-Quants: the table sorts by code.
    const bool topics = !storage::jquantsSource();
    showTopicColumns(columns, topics);
    if (!topics && isTopicColumn(columns.at(static_cast<size_t>(c))))
        c = 1;
    bool descending = storedDescending(keys::F_porttbsortb);
    if (g0 == selectedGroup) {
        const GridColumn &col = columns.at(static_cast<size_t>(c));
        if (markedDescending(col))
            descending = false;
        else if (hasSortMark(col))
            descending = true;
    }
    storage::writeSetting(keys::F_porttboptno, std::to_string(selectedGroup));
    std::string source = portTbSource(m_view, columns, selectedGroup, c, descending);
    markSorted(columns, c, descending);
    storage::writeSetting(keys::F_porttbsorta, std::to_string(c));
    storage::writeSetting(keys::F_porttbsortb, directionText(descending));
    return source;
}

std::string formatYen(double v) {
    return (std::llround(v) < 0 ? "-\\" : "\\") + grouped(v);
}

std::string formatGrouped(double v) {
    return (std::llround(v) < 0 ? "-" : "") + grouped(v);
}

std::optional<std::string> groupTotalsCaption(storage::Database &db, const std::string &view,
                                              int group) {
    const std::string g = std::to_string(group);
    try {
        storage::ResultSet rs =
            db.openRecordset("select sum([PRC]*[AVAL]) , sum([PRC]*[AVAL]) - sum([APRC]*[AVAL])  " +
                             std::string(" from ") + view + " where PSW= " + g + " Group by PSW;");
        // A group whose entries have no price yet has no totals either; it shows like an
        // empty group rather than keeping another group's figures.
        if (rs.eof() || rs.field(0).isNull() || rs.field(1).isNull())
            return "[区分" + g + "] ";
        return "[区分" + g + "]   時価総額= " + formatYen(rs.field(0).toDouble()) +
               "  差額= " + formatGrouped(rs.field(1).toDouble());
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

void PortList::open() {
    const int c = storedColumn(keys::F_portmsorta, columns, 1);
    if (!storedDescending(keys::F_portmsortb))
        addSortMark(columns.at(static_cast<size_t>(c)), kMarkDescending);
}

std::string PortList::headerClick(int c) {
    storage::writeSetting(keys::F_portmsorta, std::to_string(c));
    return fill();
}

std::string PortList::fill() {
    const int c = storedColumn(keys::F_portmsorta, columns, 1);
    const bool descending = clickSortsDescending(columns.at(static_cast<size_t>(c)));
    markSorted(columns, c, descending);
    storage::writeSetting(keys::F_portmsorta, std::to_string(c));
    storage::writeSetting(keys::F_portmsortb, directionText(descending));
    return portMSource(m_view, columns, c, descending);
}

} // namespace tesmo::tables
