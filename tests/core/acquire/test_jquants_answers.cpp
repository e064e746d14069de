// The checks of J-Quants rows before anything is stored, without a server: bars into staging
// rows, the master into names and markets as the import keeps them, and the calendar.
#include "core/acquire/import_driver.h"
#include "core/acquire/jquants_answers.h"
#include "core/storage/value.h"

#include <gtest/gtest.h>

namespace tesmo::test {
namespace {

using namespace acquire::jquants;
using nlohmann::json;

// Runs `step`; the text of its refusal, or "" when it passed.
template <class Step> std::string refusal(const Step &step) {
    try {
        step();
        return "";
    } catch (const ApiError &e) {
        EXPECT_EQ(e.kind, ApiError::Kind::BadAnswer) << e.what();
        return e.what();
    }
}

std::string shown(const std::optional<double> &v) {
    return v ? std::to_string(static_cast<long long>(*v)) : "NULL";
}

TEST(JQuantsAnswers, BarsBecomeStagingRowsOrRefuseTheDay) {
    const std::pair<const char *, const char *> cases[] = {
        // the row as staged, or a piece of the refusal
        {R"({"Date":"2024-06-03","Code":"13010","O":4100,"C":4120,"Vo":21500,"UL":"0"})",
         "20240603|1301|4120|21500"},
        {R"({"Date":"2024-06-03","Code":"130A0","O":null,"C":null,"Vo":null,"MktCap":null})",
         "20240603|130A|NULL|NULL"},
        {R"({"Date":"2024-06-03","Code":"25935","C":1,"Vo":0})", "20240603|25935|1|0"},
        {R"({"Date":"2024-06-03","Code":"1301","C":1,"Vo":0})", "20240603|1301|1|0"},
        {R"({"Date":"2099-12-31","Code":"13010","C":1,"Vo":0})", "日付が2024-06-03ではない"},
        {R"({"Date":"20240603","Code":"13010","C":1,"Vo":0})", "日付が2024-06-03ではない"},
        {R"({"code":"13030","close":5})", "日付が2024-06-03ではない"},
        {R"({"Date":"2024-06-03","Code":13010,"C":1,"Vo":0})", "銘柄コードが読めない"},
        {R"({"Date":"2024-06-03","Code":"130a0","C":1,"Vo":0})", "銘柄コードが読めない"},
        {R"({"Date":"2024-06-03","Code":"A3010","C":1,"Vo":0})", "銘柄コードが読めない"},
        {R"({"Date":"2024-06-03","Code":"130100","C":1,"Vo":0})", "銘柄コードが読めない"},
        {R"({"Date":"2024-06-03","Code":"13010","C":"1234","Vo":0})", "C が数値ではない"},
        {R"({"Date":"2024-06-03","Code":"13010","C":1})", "Vo が数値ではない"},
        {R"({"Date":"2024-06-03","Code":"13010","O":"1","C":1,"Vo":0})", "O が数値ではない"},
        {R"({"Date":"2024-06-03","Code":"13010","C":-1,"Vo":0})", "C が負の行"},
        {R"(["2024-06-03","13010"])", "行がオブジェクトではありません"},
        {R"({"Date":"2024-06-03","Code":"13010","O":100,"H":99,"L":90,"C":95,"Vo":1})",
         "高値(H)が始値・終値・安値より低い"},
        {R"({"Date":"2024-06-03","Code":"13010","O":100,"H":101,"C":102,"Vo":1})",
         "高値(H)が始値・終値・安値より低い"},
        {R"({"Date":"2024-06-03","Code":"13010","H":100,"L":101,"C":null,"Vo":null})",
         "高値(H)が始値・終値・安値より低い"},
        {R"({"Date":"2024-06-03","Code":"13010","O":100,"H":110,"L":96,"C":95,"Vo":1})",
         "安値(L)が始値・終値より高い"},
        {R"({"Date":"2024-06-03","Code":"13010","C":95,"Vo":1,"AdjFactor":0})",
         "AdjFactor が範囲外"},
        {R"({"Date":"2024-06-03","Code":"13010","C":95,"Vo":1,"AdjFactor":5000})",
         "AdjFactor が範囲外"},
        {R"({"Date":"2024-06-03","Code":"13010","C":95,"Vo":1,"AdjFactor":"0.5"})",
         "AdjFactor が数値ではない"},
    };
    for (const auto &[row, expected] : cases) {
        std::string staged;
        const std::string refused = refusal([&, row = row] {
            const StagedBar bar = stagedBar(20240603, json::parse(row));
            staged = std::to_string(bar.date) + "|" + bar.code + "|" + shown(bar.close) + "|" +
                     shown(bar.volume);
        });
        if (refused.empty())
            EXPECT_EQ(staged, expected) << row;
        else
            EXPECT_NE(refused.find(expected), std::string::npos) << row << " -> " << refused;
    }
}

// Beside the close: the open, high and low (a doji's all equal, null on a day without trades or
// when the API leaves them out), and the split factor, 1 unless the API names another.
TEST(JQuantsAnswers, BarsKeepOpenHighLowAndTheSplitFactor) {
    const std::pair<const char *, const char *> cases[] = {
        {R"({"Date":"2024-06-03","Code":"13010","O":4100,"H":4150,"L":4080,"C":4120,"Vo":1,
            "AdjFactor":1.0})",
         "4100|4150|4080|4120|1"},
        {R"({"Date":"2024-06-03","Code":"13010","O":2060,"H":2060,"L":2060,"C":2060,"Vo":1,
            "AdjFactor":0.5})",
         "2060|2060|2060|2060|0.5"},
        {R"({"Date":"2024-06-03","Code":"13010","O":null,"H":null,"L":null,"C":null,"Vo":null,
            "AdjFactor":2})",
         "NULL|NULL|NULL|NULL|2"},
        {R"({"Date":"2024-06-03","Code":"13010","C":10.5,"Vo":1,"AdjFactor":null})",
         "NULL|NULL|NULL|10.5|1"},
    };
    const auto text = [](const std::optional<double> &v) {
        return v ? storage::formatDouble(*v) : std::string("NULL");
    };
    for (const auto &[row, expected] : cases) {
        const StagedBar bar = stagedBar(20240603, json::parse(row));
        EXPECT_EQ(text(bar.open) + "|" + text(bar.high) + "|" + text(bar.low) + "|" +
                      text(bar.close) + "|" + storage::formatDouble(bar.adjFactor),
                  expected)
            << row;
    }
}

// Names and markets as the staging table and then the import keep them, the issues of other
// kinds left out, and the master rows that are refused.
TEST(JQuantsAnswers, MasterNamesMarketsAndKinds) {
    Master master;
    for (
        const char *row : {
            R"({"Code":"13010","CoName":"極洋\u202e\r\n","Mkt":"0111","MktNm":"プライム","ProdCat":"011"})",
            R"({"Code":"130A0","CoName":"","Mkt":"0105","MktNm":"TOKYO PRO MARKET"})",
            R"({"Code":"14160","CoName":"別種","Mkt":"0109","MktNm":"その他","ProdCat":"099"})",
            R"({"Code":"89520","CoName":"\u0007\u0000","MktNm":null,"ProdCat":"013"})",
        })
        addMasterRow(master, json::parse(row));
    const auto names = [&](const std::string &code, const std::string &stored) {
        const std::optional<StagedNames> n = stagedNames(master, code, [&] { return stored; });
        if (!n)
            return std::string("dropped");
        const auto kept = [](const std::string &text, const std::string &fallback) {
            return acquire::shownText(text).value_or(fallback);
        };
        return kept(n->name, code) + "|" + (n->market ? kept(*n->market, "NULL") : "NULL");
    };
    EXPECT_EQ(names("1301", "古い名前"), "極洋|東証プライム");
    EXPECT_EQ(names("130A", "古い名前"), "130A|TOKYO PRO MARKET");
    EXPECT_EQ(names("1416", "古い名前"), "dropped");
    EXPECT_EQ(names("8952", ""), "8952|NULL");
    EXPECT_EQ(names("7778", "\a既存\xE2\x81\xA6\r\n"), "既存|NULL");
    EXPECT_EQ(names("7779", ""), "7779|NULL");

    const std::pair<const char *, const char *> refused[] = {
        {R"({"Code":"13010","CoName":5})", "CoName が文字列ではありません"},
        {R"({"Code":"13010","Mkt":["0111"]})", "Mkt が文字列ではありません"},
        {R"({"Code":"1301A"})", "銘柄コードが読めない"},
        {R"("13010")", "行がオブジェクトではありません"},
    };
    for (const auto &[row, expected] : refused)
        EXPECT_NE(
            refusal([&, row = row] { addMasterRow(master, json::parse(row)); }).find(expected),
            std::string::npos)
            << row;

    Master full;
    for (long long i = 0; i < kMaxIssues; ++i)
        full[std::to_string(i)] = {};
    EXPECT_NE(refusal([&] {
                  addMasterRow(full, {{"Code", "13010"}});
              }).find("銘柄数が多すぎます"),
              std::string::npos);
}

// A calendar of 2024-06-01 to 2024-06-07 (Saturday to Friday), with one row of each case
// changed; the business days when it is accepted.
TEST(JQuantsAnswers, CalendarListsEveryDayOnceWithAKnownDivision) {
    const auto week = [] {
        json rows = json::array();
        for (int d = 1; d <= 7; ++d)
            rows.push_back({{"Date", "2024-06-0" + std::to_string(d)},
                            {"HolDiv", d <= 2   ? "0"
                                       : d == 4 ? "3"
                                       : d == 7 ? "2"
                                                : "1"}});
        return rows;
    };
    const auto check = [](const json &rows) {
        std::string days;
        const std::string refused = refusal([&] {
            CalendarCheck calendar(20240601, 20240607);
            for (const json &row : rows)
                calendar.add(row);
            for (const long long day : calendar.businessDays())
                days += (days.empty() ? "" : ",") + std::to_string(day % 100);
        });
        return refused.empty() ? days : refused;
    };
    EXPECT_EQ(check(week()), "3,5,6,7");
    const std::pair<std::function<void(json &)>, const char *> spoiled[] = {
        {[](json &r) { r[2]["HolDiv"] = "１"; }, "休日区分(HolDiv)が読めません: \"１\""},
        {[](json &r) { r[2]["HolDiv"] = 1; }, "休日区分(HolDiv)が読めません: 1"},
        {[](json &r) { r[2]["HolDiv"] = " 1"; }, "休日区分(HolDiv)が読めません: \" 1\""},
        {[](json &r) { r[2].erase("HolDiv"); }, "休日区分(HolDiv)が読めません: なし"},
        {[](json &r) { r[2]["Date"] = "2024-06-08"; }, "範囲外か読めない日付があります"},
        {[](json &r) { r[2]["Date"] = "2024-06-04"; }, "同じ日付が2度あります: 2024-06-04"},
        {[](json &r) { r.erase(2); }, "抜けている日付があります(2024-06-01～2024-06-07のうち6日)"},
        {[](json &r) { r = json::array(); }, "営業日カレンダーが空です"},
        {[](json &r) { r[2] = "2024-06-03"; }, "行がオブジェクトではありません"},
    };
    for (const auto &[spoil, expected] : spoiled) {
        json rows = week();
        spoil(rows);
        EXPECT_NE(check(rows).find(expected), std::string::npos) << rows.dump();
    }
}

} // namespace
} // namespace tesmo::test
